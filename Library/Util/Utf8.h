// UTF-8 validity, for byte strings that are about to be treated as text.
#pragma once

#include <string_view>

namespace loomset {

// True for well-formed UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool isValidUtf8(std::string_view bytes);

}  // namespace loomset
