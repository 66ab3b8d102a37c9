// Expansion of a serving resource (a MOXPResource, whose parts refer to each other by index)
// into the expanded model the runtime evaluates. Every index is checked; a resource that fails
// any check raises InvalidResourceException (reason "Resource is invalid") after logging what was
// wrong, and nothing partly expanded is ever returned.
//
// Expanded Values are shared, never deep-copied: every distinct expanded Value exists once, and a
// Value reached from several places is the same object. All of them live in one protobuf arena
// that stays alive as long as any of them is referenced.
//
// Threads: stateless; every operation may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "loomset/Export.h"
#include "loomset/MOXExpandedResource.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class LOOMSET_EXPORT MOXResourceUtil {
 public:
  // Values nested deeper than this (counting the value itself) make a resource invalid; deeper
  // trees would exhaust the stack of whatever walks them later.
  static constexpr std::size_t kMaxValueNesting = 100;
  // A Value whose tree (counting a shared child once per place it appears) has more nodes than
  // this makes a resource invalid: sharing lets a few bytes describe an astronomically large
  // tree, and everything that walks a Value walks the whole tree.
  static constexpr std::uint64_t kMaxValueNodes = 1u << 20;

  static MOXExpandedResourcePtr expandResource(const MOXPResource& resource);
  // Parses the bytes of a MOXPResource (with the serving-value extension) and expands it. Bytes
  // that do not parse are an invalid resource too.
  static MOXExpandedResourcePtr expandResourceFromBytes(std::string_view bytes);
};

}  // namespace loomset
