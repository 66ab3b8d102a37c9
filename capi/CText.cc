#include "capi/CText.h"

#include <cstdlib>
#include <cstring>

#include "capi/CErrors.h"

namespace loomset::capi {

std::string_view textArgument(const char* text, std::size_t length) {
  if (!text) return {};
  if (length == LOOMSET_NUL_TERMINATED) return std::string_view(text);
  return std::string_view(text, length);
}

loomset_status copyOut(std::string_view bytes, char** outText, std::size_t* outLength) {
  if (!outText) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the text");
  auto* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  if (!copy) return fail(LOOMSET_ERROR_OUT_OF_MEMORY, "out of memory");
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  *outText = copy;
  if (outLength) *outLength = bytes.size();
  return LOOMSET_OK;
}

}  // namespace loomset::capi

extern "C" void loomset_free(void* text) {
  std::free(text);
}

extern "C" const char* loomset_last_error(void) {
  return loomset::capi::lastError();
}
