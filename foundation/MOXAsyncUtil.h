// One-off background work with its result handed to the library's main loop: saved-resource
// reads and writes and property-list writes.
//
// The work runs on the current platform's background executor. If it throws, the error
// "Caught exception: <description>" is logged and the result block is not called; otherwise the
// result block (if any) runs on the current platform's main loop with the work's result.
//
// Threads: may be called from any thread. The platform in force at the call is the one used.
#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "loomset/Object.h"

namespace loomset {

class MOXAsyncUtil {
 public:
  static void invokeAsync(std::function<ObjectPtr()> work,
                          std::function<void(ObjectPtr)> resultBlock);

  // The same for a result of any copyable type.
  template <typename T>
  static void invokeAsyncTyped(std::function<T()> work, std::function<void(T)> resultBlock) {
    submit([work = std::move(work), resultBlock = std::move(resultBlock)]() mutable {
      T result = work();
      if (!resultBlock) return std::function<void()>();
      return std::function<void()>(
          [resultBlock = std::move(resultBlock), result = std::move(result)]() mutable {
            resultBlock(std::move(result));
          });
    });
  }

 private:
  // Runs `work` in the background; the step it returns (if any) is posted to the main loop.
  static void submit(std::function<std::function<void()>()> work);
};

}  // namespace loomset
