// The manager's data layer through the C interface, in JSON.
#include <string>

#include "capi/CErrors.h"
#include "capi/CJson.h"
#include "capi/CText.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXManager.h"
#include "loomset/Objects.h"
#include "loomset/loomset.h"

using loomset::capi::fail;
using loomset::capi::guarded;

extern "C" {

loomset_status loomset_data_layer_push_json(const char* json, size_t length) {
  return guarded([&] {
    if (!json) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no JSON");
    const loomset::ObjectPtr update =
        loomset::capi::objectFromJsonText(loomset::capi::textArgument(json, length));
    if (!update) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "not JSON");
    if (update->kind() != loomset::ObjectKind::Dictionary) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "an update is a JSON object");
    }
    loomset::MOXManager::instance()->dataLayer()->push(
        std::static_pointer_cast<loomset::Dictionary>(update));
    return LOOMSET_OK;
  });
}

loomset_status loomset_data_layer_get_json(const char* keyPath, char** outJson, size_t* outLength) {
  return guarded([&] {
    if (!keyPath) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no key path");
    const loomset::ObjectPtr value = loomset::MOXManager::instance()->dataLayer()->get(keyPath);
    if (!value) return fail(LOOMSET_ERROR_NOT_FOUND, std::string("nothing at ") + keyPath);
    return loomset::capi::copyOut(loomset::capi::jsonTextFromObject(value), outJson, outLength);
  });
}

}  // extern "C"
