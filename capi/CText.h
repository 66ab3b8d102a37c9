// Text handed across the C interface: lengths in, malloc'd copies out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "loomset/loomset.h"

namespace loomset::capi {

// The bytes of a (pointer, length) argument; LOOMSET_NUL_TERMINATED measures up to the NUL.
std::string_view textArgument(const char* text, std::size_t length);
// Copies the bytes out with a trailing NUL for `loomset_free`. A null `outText` is an invalid
// argument; a null `outLength` is allowed (the caller reads up to the NUL).
loomset_status copyOut(std::string_view bytes, char** outText, std::size_t* outLength);

}  // namespace loomset::capi
