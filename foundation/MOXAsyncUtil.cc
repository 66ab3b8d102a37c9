#include "foundation/MOXAsyncUtil.h"

#include <exception>
#include <string>

#include "loomset/MOXLog.h"
#include "loomset/platform/Platform.h"

namespace loomset {

void MOXAsyncUtil::invokeAsync(std::function<ObjectPtr()> work,
                               std::function<void(ObjectPtr)> resultBlock) {
  invokeAsyncTyped<ObjectPtr>(std::move(work), std::move(resultBlock));
}

void MOXAsyncUtil::submit(std::function<std::function<void()>()> work) {
  // The platform is captured now: the work and its result belong to the bundle that was in
  // force when they were asked for, even if another is installed meanwhile.
  std::shared_ptr<const Platform> platform = Platform::current();
  if (!platform->background || !platform->mainLoop) {
    MOXLog::error("Caught exception: no background executor or main loop configured");
    return;
  }
  platform->background->execute([mainLoop = platform->mainLoop, work = std::move(work)] {
    std::function<void()> deliver;
    try {
      deliver = work();
    } catch (const std::exception& e) {
      MOXLog::error(std::string("Caught exception: ") + e.what());
      return;
    } catch (...) {
      MOXLog::error("Caught exception: unknown exception");
      return;
    }
    if (deliver) mainLoop->post(std::move(deliver));
  });
}

}  // namespace loomset
