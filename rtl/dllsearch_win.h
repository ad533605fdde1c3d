// rtl/dllsearch_win.h
#pragma once

namespace rtl {

// Limits where this process loads DLLs from to the system folder (and the side-by-side
// assemblies its manifest names): not the program's own folder, which for a program started
// from Downloads may hold a planted DLL under a system DLL's name, nor the current directory.
// Call first, before any window, dialog or shell call loads a DLL on demand.
void RestrictDllSearch();

}  // namespace rtl
