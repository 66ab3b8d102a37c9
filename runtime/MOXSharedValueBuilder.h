// Builds the list, map and template results of an evaluation out of the evaluated parts
// themselves instead of copies of them. Evaluated Values are immutable, so one part may sit in any
// number of results: the result's repeated fields hold the parts without owning them (they are
// detached again before the result is destroyed), and the result keeps every part alive.
#pragma once

#include <memory>
#include <vector>

#include "loomset/MOXTypes.h"

namespace loomset {

class MOXSharedValueBuilder {
 public:
  // A value of `base`'s kind, escapings and references flag, with no parts yet.
  explicit MOXSharedValueBuilder(const MOXPValue& base);

  void reserveParts(int count);
  void addListItem(ValuePtr item) { add(owner_->value.mutable_list_item(), std::move(item)); }
  void addMapKey(ValuePtr key) { add(owner_->value.mutable_map_key(), std::move(key)); }
  void addMapValue(ValuePtr mapped) { add(owner_->value.mutable_map_value(), std::move(mapped)); }
  void addTemplateToken(ValuePtr token) {
    add(owner_->value.mutable_template_token(), std::move(token));
  }

  ValuePtr build() &&;

 private:
  struct Owner {
    Owner() = default;
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner();
    MOXPValue value;
    std::vector<ValuePtr> parts;
  };
  void add(google::protobuf::RepeatedPtrField<MOXPValue>* field, ValuePtr part);

  std::shared_ptr<Owner> owner_;
};

}  // namespace loomset
