// Containers through the C interface: opening through MOXContainerOpener, the typed getters and
// the C handlers.
#include <cmath>
#include <memory>
#include <new>
#include <string>

#include "capi/CErrors.h"
#include "capi/CHandlers.h"
#include "capi/CHandles.h"
#include "capi/CText.h"
#include "loomset/MOXContainer.h"
#include "loomset/MOXContainerOpener.h"
#include "loomset/MOXManager.h"
#include "loomset/loomset.h"

using loomset::capi::copyOut;
using loomset::capi::fail;
using loomset::capi::guarded;

namespace {

loomset_status needContainer(loomset_container* handle) {
  return handle && handle->container ? LOOMSET_OK
                                     : fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no container handle");
}

loomset_status needKey(const char* key) {
  return key ? LOOMSET_OK : fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no key");
}

// Registers `handler` for `name` (a null handler removes the registered one) through `replace`,
// which installs the wrapper and answers the handler it replaced. The wrapper is made first, so
// that a failure below still releases the caller's data exactly once; the replaced handler is let
// go here, outside the container's locks, so its release function runs on this thread.
template <typename Wrapper, typename Handler, typename Replace>
loomset_status registerCHandler(loomset_container* handle, const char* name, Handler handler,
                                void* userData, loomset_release_fn release, Replace replace) {
  std::shared_ptr<Wrapper> wrapper;
  if (handler) {
    try {
      wrapper = std::make_shared<Wrapper>(handler, userData, release);
    } catch (...) {
      return fail(LOOMSET_ERROR_OUT_OF_MEMORY, "out of memory");
    }
  }
  std::shared_ptr<void> previous;
  const loomset_status status = guarded([&] {
    if (needContainer(handle) != LOOMSET_OK || needKey(name) != LOOMSET_OK) {
      return LOOMSET_ERROR_INVALID_ARGUMENT;
    }
    previous = replace(*handle->container, std::move(wrapper), name);
    return LOOMSET_OK;
  });
  wrapper.reset();
  previous.reset();
  return status;
}

}  // namespace

extern "C" {

loomset_status loomset_container_open(const char* containerId, int openType, double timeoutSeconds,
                                      loomset_container** outContainer) {
  return guarded([&] {
    if (!containerId || !*containerId || !outContainer) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no container id or no place for the handle");
    }
    if (openType != LOOMSET_OPEN_PREFER_NON_DEFAULT && openType != LOOMSET_OPEN_PREFER_FRESH) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "unknown open type");
    }
    if (!std::isfinite(timeoutSeconds)) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "the time-out is not a number of seconds");
    }
    const double* timeout = timeoutSeconds < 0 ? nullptr : &timeoutSeconds;
    auto future = loomset::MOXContainerOpener::openContainerWithId(
        containerId, loomset::MOXManager::instance(), static_cast<loomset::MOXOpenType>(openType),
        timeout);
    std::shared_ptr<loomset::MOXContainer> container = future ? future->get() : nullptr;
    if (!container) return fail(LOOMSET_ERROR_FAILED, "the container could not be opened");
    *outContainer = new loomset_container{std::move(container)};
    return LOOMSET_OK;
  });
}

void loomset_container_release(loomset_container* handle) {
  loomset::capi::guardedVoid([&] { delete handle; });
}

loomset_status loomset_container_close(loomset_container* handle) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    handle->container->close();
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_refresh(loomset_container* handle) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    handle->container->refresh();
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_version(loomset_container* handle, char** outText,
                                         size_t* outLength) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    return copyOut(handle->container->resourceVersion(), outText, outLength);
  });
}

loomset_status loomset_container_is_default(loomset_container* handle, int* outIsDefault) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK) return LOOMSET_ERROR_INVALID_ARGUMENT;
    if (!outIsDefault) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the answer");
    *outIsDefault = handle->container->isDefault() ? 1 : 0;
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_get_string(loomset_container* handle, const char* key,
                                            char** outText, size_t* outLength) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK || needKey(key) != LOOMSET_OK) {
      return LOOMSET_ERROR_INVALID_ARGUMENT;
    }
    return copyOut(handle->container->stringForKey(key), outText, outLength);
  });
}

loomset_status loomset_container_get_boolean(loomset_container* handle, const char* key,
                                             int* outValue) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK || needKey(key) != LOOMSET_OK) {
      return LOOMSET_ERROR_INVALID_ARGUMENT;
    }
    if (!outValue) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the value");
    *outValue = handle->container->booleanForKey(key) ? 1 : 0;
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_get_double(loomset_container* handle, const char* key,
                                            double* outValue) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK || needKey(key) != LOOMSET_OK) {
      return LOOMSET_ERROR_INVALID_ARGUMENT;
    }
    if (!outValue) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the value");
    *outValue = handle->container->doubleForKey(key);
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_get_int64(loomset_container* handle, const char* key,
                                           int64_t* outValue) {
  return guarded([&] {
    if (needContainer(handle) != LOOMSET_OK || needKey(key) != LOOMSET_OK) {
      return LOOMSET_ERROR_INVALID_ARGUMENT;
    }
    if (!outValue) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no place for the value");
    *outValue = handle->container->int64ForKey(key);
    return LOOMSET_OK;
  });
}

loomset_status loomset_container_register_tag_handler(loomset_container* handle,
                                                      const char* tagName,
                                                      loomset_tag_handler handler, void* userData,
                                                      loomset_release_fn release) {
  return registerCHandler<loomset::capi::CTagHandler>(
      handle, tagName, handler, userData, release,
      [](loomset::MOXContainer& container, auto wrapper, const char* name) {
        std::shared_ptr<void> previous = container.functionCallTagHandlerForTag(name);
        container.registerFunctionCallTagHandler(std::move(wrapper), name);
        return previous;
      });
}

loomset_status loomset_container_register_macro_handler(loomset_container* handle,
                                                        const char* macroName,
                                                        loomset_macro_handler handler,
                                                        void* userData,
                                                        loomset_release_fn release) {
  return registerCHandler<loomset::capi::CMacroHandler>(
      handle, macroName, handler, userData, release,
      [](loomset::MOXContainer& container, auto wrapper, const char* name) {
        std::shared_ptr<void> previous = container.functionCallMacroHandlerForMacro(name);
        container.registerFunctionCallMacroHandler(std::move(wrapper), name);
        return previous;
      });
}

}  // extern "C"
