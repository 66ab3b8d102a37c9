// The system's named failures. Each carries its name (what callers catch on) and a reason text.
// Most are raised and caught inside the library; the ones an application can see are documented
// on the operations that raise them (for example "MOXListenerPushLoop" from MOXDataLayer::push).
#pragma once

#include <stdexcept>
#include <string>

#include "loomset/Export.h"

namespace loomset {

class LOOMSET_EXPORT LoomsetException : public std::runtime_error {
 public:
  LoomsetException(std::string name, std::string reason)
      : std::runtime_error(name + ": " + reason),
        name_(std::move(name)),
        reason_(std::move(reason)) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string name_;
  std::string reason_;
};

#define LOOMSET_NAMED_EXCEPTION(Type)                                                 \
  class LOOMSET_EXPORT Type : public LoomsetException {                               \
   public:                                                                            \
    static constexpr const char* kName = #Type;                                       \
    explicit Type(std::string reason) : LoomsetException(kName, std::move(reason)) {} \
  }

LOOMSET_NAMED_EXCEPTION(InvalidResourceException);
LOOMSET_NAMED_EXCEPTION(IllegalArgumentException);
LOOMSET_NAMED_EXCEPTION(NotSupportedException);
LOOMSET_NAMED_EXCEPTION(MOXListenerPushLoop);
LOOMSET_NAMED_EXCEPTION(ContainerAlreadyLoadedException);
LOOMSET_NAMED_EXCEPTION(IllegalStateException);
LOOMSET_NAMED_EXCEPTION(UnableToCreateDataDirectory);

#undef LOOMSET_NAMED_EXCEPTION

}  // namespace loomset
