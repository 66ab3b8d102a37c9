// Any bytes in a data-layer row's value column unarchive to a value or to null; a value that
// comes back archives again, and that archive is stable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "datalayer/ValueArchive.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  loomset::fuzzing::silenceLogs();
  const auto value = loomset::datalayer::unarchiveValue(loomset::fuzzing::textOf(data, size));
  if (!value) return 0;
  const auto archived = loomset::datalayer::archiveValue(value);
  if (!archived) std::abort();
  const auto again = loomset::datalayer::unarchiveValue(*archived);
  if (!again) std::abort();
  const auto rearchived = loomset::datalayer::archiveValue(again);
  if (!rearchived || *rearchived != *archived) std::abort();
  return 0;
}
