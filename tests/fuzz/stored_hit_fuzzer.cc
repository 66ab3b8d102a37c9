// Any bytes read back from a stored hit row: the current file's parameter form decodes to a map
// that encodes back to a form decoding to the same map, or is refused; the legacy file's
// "parametersData" decodes to a map of "&"-prefixed keys or is refused with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analytics/store/PLUStoredHitCodec.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const auto bytes = loomset::fuzzing::textOf(data, size);
  if (const auto decoded = loomset::plu_decodeStoredParameters(bytes)) {
    const std::string encoded = loomset::plu_encodeStoredParameters(*decoded);
    const auto again = loomset::plu_decodeStoredParameters(encoded);
    if (!again || *again != *decoded) std::abort();
  }
  std::string error;
  if (const auto legacy = loomset::plu_decodeLegacyParametersData(std::string(bytes), &error)) {
    for (const auto& [key, value] : *legacy) {
      if (key.empty() || key[0] != '&') std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
