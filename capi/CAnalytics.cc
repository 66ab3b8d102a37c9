// Trackers, dispatch and opting out through the C interface.
#include <memory>
#include <string>

#include "capi/CErrors.h"
#include "capi/CHandles.h"
#include "capi/CText.h"
#include "loomset/MOXManager.h"
#include "loomset/PLU.h"
#include "loomset/loomset.h"

using loomset::capi::fail;
using loomset::capi::guarded;
using loomset::capi::textArgument;

namespace {

loomset_status needTracker(loomset_tracker* handle) {
  return handle && handle->tracker ? LOOMSET_OK
                                   : fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no tracker handle");
}

loomset::PLUHitValue hitValue(const char* value, size_t length) {
  if (!value) return std::nullopt;
  return std::string(textArgument(value, length));
}

}  // namespace

extern "C" {

loomset_status loomset_tracker_create(const char* name, const char* trackingId,
                                      loomset_tracker** outTracker) {
  return guarded([&] {
    if (!name || !trackingId || !outTracker) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no name, tracking id or place for the handle");
    }
    auto tracker = loomset::PLU::sharedInstance()->trackerWithName(name, trackingId);
    if (!tracker) return fail(LOOMSET_ERROR_FAILED, "no tracker for that name");
    *outTracker = new loomset_tracker{std::move(tracker)};
    return LOOMSET_OK;
  });
}

void loomset_tracker_release(loomset_tracker* handle) {
  loomset::capi::guardedVoid([&] { delete handle; });
}

loomset_status loomset_tracker_set(loomset_tracker* handle, const char* key, const char* value,
                                   size_t valueLength) {
  return guarded([&] {
    if (needTracker(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    if (!key) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no key");
    handle->tracker->set(key, hitValue(value, valueLength));
    return LOOMSET_OK;
  });
}

loomset_status loomset_tracker_get(loomset_tracker* handle, const char* key, char** outText,
                                   size_t* outLength) {
  return guarded([&] {
    if (needTracker(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    if (!key) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no key");
    const loomset::PLUHitValue value = handle->tracker->get(key);
    if (!value) return fail(LOOMSET_ERROR_NOT_FOUND, std::string("no field ") + key);
    return loomset::capi::copyOut(*value, outText, outLength);
  });
}

loomset_status loomset_tracker_send(loomset_tracker* handle, const loomset_hit_field* fields,
                                    size_t count) {
  return guarded([&] {
    if (needTracker(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    if (!fields && count != 0) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no fields");
    loomset::PLUHitMap hit;
    for (size_t i = 0; i < count; ++i) {
      if (!fields[i].key) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "a field without a key");
      hit[fields[i].key] = hitValue(fields[i].value, fields[i].value_length);
    }
    handle->tracker->send(hit);
    return LOOMSET_OK;
  });
}

loomset_status loomset_dispatch(loomset_dispatch_callback callback, void* userData) {
  return guarded([&] {
    if (!callback) {
      loomset::PLU::sharedInstance()->dispatch();
      return LOOMSET_OK;
    }
    loomset::PLU::sharedInstance()->dispatchWithCompletionHandler(
        [callback, userData](loomset::PLUDispatchOutcome outcome) {
          try {
            callback(userData, static_cast<int>(outcome));
          } catch (...) {
            // A C++ callback that throws must not unwind into the dispatcher.
          }
        });
    return LOOMSET_OK;
  });
}

loomset_status loomset_set_dispatch_interval(double seconds) {
  return guarded([&] {
    loomset::PLU::sharedInstance()->setDispatchInterval(seconds);
    return LOOMSET_OK;
  });
}

loomset_status loomset_set_opt_out(int optOut) {
  return guarded([&] {
    loomset::PLU::sharedInstance()->setOptOut(optOut != 0);
    return LOOMSET_OK;
  });
}

loomset_status loomset_opt_out(int* outOptOut) {
  return guarded([&] {
    if (!outOptOut) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the answer");
    *outOptOut = loomset::PLU::sharedInstance()->optOut() ? 1 : 0;
    return LOOMSET_OK;
  });
}

loomset_status loomset_set_dry_run(int dryRun) {
  return guarded([&] {
    loomset::PLU::sharedInstance()->setDryRun(dryRun != 0);
    return LOOMSET_OK;
  });
}

loomset_status loomset_application_will_terminate(void) {
  return guarded([&] {
    loomset::MOXManager::applicationWillTerminate();
    return LOOMSET_OK;
  });
}

}  // extern "C"
