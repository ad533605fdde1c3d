// rtl/params.h
// The command line split as the class library's ParamStr splits it.
#pragma once
#include <string>
#include <vector>

namespace rtl {

// The arguments after the program name. Blanks (any character up to the space) separate them,
// double quotes group blanks and are removed wherever they stand, and a backslash is an
// ordinary character: "D:\" is D:\ and a"b c"d is ab cd. An empty pair of quotes standing
// alone is no argument.
std::vector<std::wstring> ParamStrs(const std::wstring& commandLine);

}  // namespace rtl
