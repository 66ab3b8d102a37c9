#include "capi/CErrors.h"

namespace loomset::capi {

namespace {

std::string& lastErrorText() {
  thread_local std::string text;
  return text;
}

}  // namespace

loomset_status fail(loomset_status status, const std::string& text) {
  try {
    lastErrorText() = text;
  } catch (...) {
    lastErrorText().clear();  // no memory for the text; the status still tells
  }
  return status;
}

void clearLastError() {
  lastErrorText().clear();
}

const char* lastError() {
  return lastErrorText().c_str();
}

}  // namespace loomset::capi
