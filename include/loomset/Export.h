// Symbol visibility for the library's public types.
#pragma once

#if defined(LOOMSET_SHARED) && defined(__GNUC__)
#define LOOMSET_EXPORT __attribute__((visibility("default")))
#else
#define LOOMSET_EXPORT
#endif
