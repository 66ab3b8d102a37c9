#include "runtime/MOXSharedValueBuilder.h"

#include "values/MOXResourceUtilSteps.h"

namespace loomset {
namespace {

void detach(google::protobuf::RepeatedPtrField<MOXPValue>* field) {
  field->UnsafeArenaExtractSubrange(0, field->size(), nullptr);
}

}  // namespace

MOXSharedValueBuilder::Owner::~Owner() {
  // The parts belong to `parts`; the message must not delete them.
  detach(value.mutable_list_item());
  detach(value.mutable_map_key());
  detach(value.mutable_map_value());
  detach(value.mutable_template_token());
}

MOXSharedValueBuilder::MOXSharedValueBuilder(const MOXPValue& base)
    : owner_(std::make_shared<Owner>()) {
  MOXResourceUtilSteps::copyBasics(base, &owner_->value);
}

void MOXSharedValueBuilder::reserveParts(int count) {
  owner_->parts.reserve(static_cast<std::size_t>(count));
}

void MOXSharedValueBuilder::add(google::protobuf::RepeatedPtrField<MOXPValue>* field,
                                ValuePtr part) {
  // Never changed through the field: results are immutable once built.
  field->UnsafeArenaAddAllocated(const_cast<MOXPValue*>(part.get()));
  owner_->parts.push_back(std::move(part));
}

ValuePtr MOXSharedValueBuilder::build() && {
  ValuePtr result(owner_, &owner_->value);
  owner_.reset();
  return result;
}

}  // namespace loomset
