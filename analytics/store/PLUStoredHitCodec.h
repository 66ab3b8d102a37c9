// How the hit store keeps a hit's parameters in its files.
//
// Current file: a compact binary form, chosen because it is written for every hit and must cost
// next to nothing. Byte 0x01 (the form's version), then per entry in key order: the key's length
// as an unsigned LEB128 varint, the key's bytes, a kind byte (0 = the null marker, 1 = text) and,
// for text, its length as a varint and its bytes. Any byte sequence that does not parse to the
// end exactly is rejected.
//
// Legacy file: "parametersData" is a property list (binary or XML) whose root is a dictionary of
// parameter names without the leading "&". Strings are kept, numbers become their decimal text,
// the null object becomes the null marker, other kinds are left out.
//
// Threads: pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomset/PLUHitMap.h"

namespace loomset {

std::string plu_encodeStoredParameters(const PLUHitMap& parameters);
// Nothing for bytes that are not an encoded map.
std::optional<PLUHitMap> plu_decodeStoredParameters(std::string_view bytes);

// The legacy map with every key prefixed with "&"; nothing, with the reason in `error`, when the
// bytes are not a property-list dictionary.
std::optional<PLUHitMap> plu_decodeLegacyParametersData(const std::string& bytes,
                                                        std::string* error);

}  // namespace loomset
