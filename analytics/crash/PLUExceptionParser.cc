#include "analytics/crash/PLUExceptionParser.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "loomset/Exceptions.h"

namespace loomset {
namespace {

// The machinery between a throw and the terminate handler, and the handler itself.
bool isRaisingFrame(std::string_view symbol) {
  static constexpr std::string_view kPrefixes[] = {
      "__cxa_",
      "_Unwind_",
      "__gxx_personality",
      "__cxxabiv1::",
      "std::terminate",
      "std::rethrow_exception",
      "__gnu_cxx::__verbose_terminate_handler",
      "loomset::plu_",
      "loomset::PLUExceptionInfo::",
      "loomset::PLUUncaughtExceptionHandler",
  };
  for (std::string_view prefix : kPrefixes) {
    if (symbol.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

// Cuts after `max` characters (code points), never inside a UTF-8 sequence.
void truncateCharacters(std::string& text, std::size_t max) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count == max) {
      text.resize(i);
      return;
    }
    ++count;
  }
}

std::size_t characterCount(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace

std::string PLUExceptionParser::demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

std::vector<std::string> PLUExceptionInfo::currentCallStackSymbols() {
  void* frames[64];
  const int count = backtrace(frames, 64);
  std::vector<std::string> symbols;
  if (count <= 0) return symbols;
  std::unique_ptr<char*, void (*)(void*)> names(backtrace_symbols(frames, count), std::free);
  if (!names) return symbols;
  symbols.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) symbols.emplace_back(names.get()[i] ? names.get()[i] : "");
  return symbols;
}

PLUExceptionInfo PLUExceptionInfo::fromException(const std::exception_ptr& exception,
                                                 bool captureStack) {
  PLUExceptionInfo info;
  if (captureStack) info.callStackSymbols = currentCallStackSymbols();
  if (!exception) return info;
  try {
    std::rethrow_exception(exception);
  } catch (const LoomsetException& e) {
    info.name = e.name();
    info.reason = e.reason();
  } catch (const std::exception& e) {
    info.name = PLUExceptionParser::demangle(typeid(e).name());
    info.reason = e.what();
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    info.name = type ? PLUExceptionParser::demangle(type->name()) : "unknown exception";
  }
  return info;
}

std::optional<std::string> PLUExceptionParser::symbolFromStackFrame(std::string_view frame) {
  // "module(symbol+0x1f) [0xaddress]"; the symbol part may be empty or lack the offset.
  const std::size_t open = frame.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t close = frame.find(')', open);
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view inside = frame.substr(open + 1, close - open - 1);
  const std::size_t plus = inside.rfind('+');
  if (plus != std::string_view::npos) inside = inside.substr(0, plus);
  if (inside.empty()) return std::nullopt;
  std::string symbol = demangle(std::string(inside).c_str());
  if (isRaisingFrame(symbol)) return std::nullopt;
  return symbol;
}

std::string PLUExceptionParser::exceptionDescription(const PLUExceptionInfo& exception,
                                                     std::size_t maxLength) {
  std::string text = exception.name;
  const auto& frames = exception.callStackSymbols;
  bool traceStarted = false;
  for (std::size_t i = 2; i < frames.size(); ++i) {
    const auto symbol = symbolFromStackFrame(frames[i]);
    if (!symbol) continue;
    if (!traceStarted) {
      text += "\nTrace:";
      traceStarted = true;
    }
    text += "\n" + *symbol;
    if (maxLength != 0 && characterCount(text) >= maxLength) {
      truncateCharacters(text, maxLength);
      return text;
    }
  }
  if (maxLength != 0) truncateCharacters(text, maxLength);
  return text;
}

}  // namespace loomset
