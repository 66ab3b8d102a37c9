// The steps of resource expansion over one resource that lives in a protobuf arena. Composite
// Values are built in the same arena and hold their children by pointer, so a child used by many
// parents is one object and expansion stays linear in the size of the resource.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <google/protobuf/arena.h>

#include "loomset/MOXExpandedResource.h"
#include "loomset/proto/serving.pb.h"

namespace loomset {

class MOXResourceExpander {
 public:
  // `resource` must be allocated in `arena`.
  MOXResourceExpander(std::shared_ptr<google::protobuf::Arena> arena, const MOXPResource& resource);
  MOXExpandedResourcePtr expand();

 private:
  struct Shape {
    std::size_t nesting = 1;  // levels of Values
    std::uint64_t nodes = 1;  // Values in the tree, a shared child counted at each place
  };

  const MOXPValue* expandIthValue(std::int32_t index);
  const MOXPValue* expandComposite(const MOXPValue& entry, Shape* shape);
  // Adds the children's shape to `shape`.
  void expandChildren(const google::protobuf::RepeatedField<std::int32_t>& indices,
                      google::protobuf::RepeatedPtrField<MOXPValue>* into, Shape* shape);
  MOXExpandedFunctionCallPtr expandFunctionCall(const MOXPFunctionCall& call);
  MOXExpandedRulePtr expandRule(const MOXPRule& rule,
                                const std::vector<MOXExpandedFunctionCallPtr>& tags,
                                const std::vector<MOXExpandedFunctionCallPtr>& macros,
                                const std::vector<MOXExpandedFunctionCallPtr>& predicates);
  ValuePtr share(const MOXPValue* value) const { return ValuePtr(arena_, value); }
  std::string pendingDescription() const;

  const std::shared_ptr<google::protobuf::Arena> arena_;
  const MOXPResource& resource_;
  std::vector<const MOXPValue*> expanded_;  // one slot per entry of the value table
  std::vector<Shape> shapes_;               // per expanded slot
  std::vector<bool> pending_;               // indices being expanded on the current path
  std::vector<std::int32_t> pendingOrder_;
};

}  // namespace loomset
