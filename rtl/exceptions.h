// rtl/exceptions.h
#pragma once
#include <exception>
#include <string>

namespace rtl {

// Errors carry a user-readable (Japanese) message; the framework's error box shows Message().
class Exception : public std::exception {
 public:
  explicit Exception(std::wstring message) : message_(std::move(message)) {}
  const std::wstring& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return "rtl::Exception (see Message())"; }

 private:
  std::wstring message_;
};

// A text that is not a number, date or time; an invalid date.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file-system operation that failed (writing the scratch file, entering a folder).
class EInOutError : public Exception {
 public:
  EInOutError(std::wstring message, unsigned long errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  unsigned long ErrorCode;
};

}  // namespace rtl
