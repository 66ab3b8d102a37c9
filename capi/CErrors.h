// The C interface's error channel: each thread keeps the text of its last failure, and `guarded`
// runs the body of one C function so that nothing it throws crosses into the caller.
#pragma once

#include <new>
#include <string>

#include "loomset/Exceptions.h"
#include "loomset/loomset.h"

namespace loomset::capi {

// Records the failure for `loomset_last_error` and returns its status.
loomset_status fail(loomset_status status, const std::string& text);
void clearLastError();
const char* lastError();

// Runs `body` (returning a loomset_status) with every exception turned into a status.
template <typename Body>
loomset_status guarded(Body&& body) noexcept {
  try {
    clearLastError();
    return body();
  } catch (const std::bad_alloc&) {
    return fail(LOOMSET_ERROR_OUT_OF_MEMORY, "out of memory");
  } catch (const LoomsetException& e) {
    return fail(LOOMSET_ERROR_FAILED, e.what());
  } catch (const std::exception& e) {
    return fail(LOOMSET_ERROR_FAILED, e.what());
  } catch (...) {
    return fail(LOOMSET_ERROR_FAILED, "unknown error");
  }
}

// The same for functions that return nothing: failures are only recorded.
template <typename Body>
void guardedVoid(Body&& body) noexcept {
  (void)guarded([&] {
    body();
    return LOOMSET_OK;
  });
}

}  // namespace loomset::capi
