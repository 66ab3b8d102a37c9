// Explained values through the C interface: the typed value and, as JSON, why the container
// answered it.
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "capi/CErrors.h"
#include "capi/CHandles.h"
#include "capi/CText.h"
#include "loomset/MOXContainer.h"
#include "loomset/MOXValueDetail.h"
#include "loomset/loomset.h"

using loomset::capi::copyOut;
using loomset::capi::fail;
using loomset::capi::guarded;

namespace {

std::string whyJson(const loomset::MOXValueExplanation& why) {
  nlohmann::ordered_json out;
  out["containerVersion"] = why.containerVersion;
  if (why.call) {
    nlohmann::ordered_json call;
    call["instanceName"] = why.call->instanceName;
    call["position"] = why.call->position;
    call["rule"] = why.call->rule ? nlohmann::ordered_json(*why.call->rule) : nullptr;
    out["call"] = call;
  } else {
    out["call"] = nullptr;
  }
  out["isStatic"] = why.isStatic;
  out["fromStaticCache"] = why.fromStaticCache;
  out["failure"] = loomset::MOXValueFailureName(why.failure);
  out["failureReason"] = why.failureReason;
  return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

loomset_status checkArguments(loomset_container* handle, const char* key, const void* outValue) {
  if (!handle || !handle->container)
    return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no container handle");
  if (!key) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no key");
  if (!outValue) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the value");
  return LOOMSET_OK;
}

// The explanation goes out only when asked for (a NULL `outWhy` skips it).
loomset_status whyOut(const loomset::MOXValueExplanation& why, char** outWhy,
                      size_t* outWhyLength) {
  return outWhy ? copyOut(whyJson(why), outWhy, outWhyLength) : LOOMSET_OK;
}

}  // namespace

extern "C" {

loomset_status loomset_container_explain_string(loomset_container* handle, const char* key,
                                                char** outText, size_t* outLength, char** outWhy,
                                                size_t* outWhyLength) {
  return guarded([&] {
    if (checkArguments(handle, key, outText) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    const auto detail = handle->container->stringDetailForKey(key);
    const std::string why = outWhy ? whyJson(detail.why) : std::string();
    char* text = nullptr;
    size_t length = 0;
    if (const auto status = copyOut(detail.value, &text, &length); status != LOOMSET_OK) {
      return status;
    }
    if (outWhy) {
      if (const auto status = copyOut(why, outWhy, outWhyLength); status != LOOMSET_OK) {
        std::free(text);
        return status;
      }
    }
    *outText = text;
    if (outLength) *outLength = length;
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_explain_boolean(loomset_container* handle, const char* key,
                                                 int* outValue, char** outWhy,
                                                 size_t* outWhyLength) {
  return guarded([&] {
    if (checkArguments(handle, key, outValue) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    const auto detail = handle->container->booleanDetailForKey(key);
    if (const auto status = whyOut(detail.why, outWhy, outWhyLength); status != LOOMSET_OK) {
      return status;
    }
    *outValue = detail.value ? 1 : 0;
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_explain_double(loomset_container* handle, const char* key,
                                                double* outValue, char** outWhy,
                                                size_t* outWhyLength) {
  return guarded([&] {
    if (checkArguments(handle, key, outValue) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    const auto detail = handle->container->doubleDetailForKey(key);
    if (const auto status = whyOut(detail.why, outWhy, outWhyLength); status != LOOMSET_OK) {
      return status;
    }
    *outValue = detail.value;
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_explain_int64(loomset_container* handle, const char* key,
                                               int64_t* outValue, char** outWhy,
                                               size_t* outWhyLength) {
  return guarded([&] {
    if (checkArguments(handle, key, outValue) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    const auto detail = handle->container->int64DetailForKey(key);
    if (const auto status = whyOut(detail.why, outWhy, outWhyLength); status != LOOMSET_OK) {
      return status;
    }
    *outValue = detail.value;
    return LOOMSET_OK;
  });
}

}  // extern "C"
