// What a crash report says about an exception: its name (the exception's own name for the
// library's named failures, else its demangled C++ type) and the symbols of the call stack as
// glibc's backtrace_symbols prints them, with C++ names demangled.
//
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loomset {

struct PLUExceptionInfo {
  std::string name;
  std::string reason;
  // backtrace_symbols lines, innermost frame first.
  std::vector<std::string> callStackSymbols;

  // Name and reason of the exception; the stack of the calling thread when `captureStack` (an
  // uncaught exception's stack is still intact while the terminate handler runs).
  static PLUExceptionInfo fromException(const std::exception_ptr& exception, bool captureStack);
  static std::vector<std::string> currentCallStackSymbols();
};

class PLUExceptionParser {
 public:
  // The name, then "\nTrace:" and one "\n<symbol>" per frame from the third one on that has a
  // symbol; cut to `maxLength` characters unless it is 0.
  static std::string exceptionDescription(const PLUExceptionInfo& exception, std::size_t maxLength);
  // The demangled symbol of one backtrace_symbols line ("module(symbol+0x1f) [0x...]"); nothing
  // for a frame without a symbol or one of the frames that raise and route the exception.
  static std::optional<std::string> symbolFromStackFrame(std::string_view frame);
  static std::string demangle(const char* mangled);
};

}  // namespace loomset
