// Any text taken as a campaign URL or referrer query: the analytics campaign parsing of a hit
// builder, the campaign query decoding, and the container's click-referrer components.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analytics/model/PLUCampaignQuery.h"
#include "fuzz/FuzzSupport.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "runtime/macros/MOXClickReferrerUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const std::string text(loomset::fuzzing::textOf(data, size));
  loomset::plu_decodeParametersFromQuery(text);
  auto builder = loomset::PLUDictionaryBuilder::createScreenView();
  builder.setCampaignParametersFromUrl(text);
  builder.build();
  const auto components = loomset::MOXClickReferrerUtil::parseComponentsFromQueryParameters(text);
  for (const auto& [name, value] : components) {
    loomset::MOXClickReferrerUtil::extractComponent(name, text);
  }
  return 0;
}
