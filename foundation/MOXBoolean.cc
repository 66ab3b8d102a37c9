#include "loomset/MOXBoolean.h"

#include <strings.h>

#include <string>

namespace loomset {

const std::shared_ptr<MOXBoolean>& MOXBoolean::yes() {
  static const auto instance = std::make_shared<MOXBoolean>(true);
  return instance;
}

const std::shared_ptr<MOXBoolean>& MOXBoolean::no() {
  static const auto instance = std::make_shared<MOXBoolean>(false);
  return instance;
}

std::shared_ptr<MOXBoolean> MOXBoolean::booleanWithString(std::string_view text) {
  const std::string t(text);
  if (strcasecmp(t.c_str(), "true") == 0 && t.size() == 4) return booleanWithBool(true);
  if (strcasecmp(t.c_str(), "false") == 0 && t.size() == 5) return booleanWithBool(false);
  return nullptr;
}

bool MOXBoolean::isEqual(const Object& other) const {
  return other.kind() == ObjectKind::Boolean &&
         static_cast<const MOXBoolean&>(other).value_ == value_;
}

}  // namespace loomset
