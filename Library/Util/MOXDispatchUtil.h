// The container half's worker thread "MOXThread" and the helpers around it: running blocks
// there, where its files live, and the User-Agent its requests carry.
//
// The worker thread is the `containerWorker` loop of the platform bundle in force: by default one
// process-wide serial event loop, started on first use and never stopped. The pixel hit store, the
// pixel dispatcher and the network operations do all their work in blocks run through
// `background`, which serialises them without further locks.
//
// Threads: every operation may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loomset/platform/EventLoop.h"

namespace loomset {

class MOXDispatchUtil {
 public:
  // The worker thread's loop (the default one starts on its first block, once, however many
  // threads post at the same moment). The reference stays valid while a bundle holding the loop is
  // in force; the default loop lives as long as the process.
  static EventLoop& thread();
  // The same loop as a shared handle, for services that keep the loop they deliver to.
  static std::shared_ptr<EventLoop> sharedThread();

  // Runs the block on the worker thread. Called on the worker thread, the block runs at once,
  // inline, whatever `wait` says (so nested use never deadlocks). Otherwise it is posted, and
  // with `wait` the caller blocks until it has run. An empty block is a no-op.
  static void background(std::function<void()> block, bool wait);

  // The file name inside the Library directory of the current platform; nothing when no data
  // root is configured.
  static std::optional<std::string> databaseFullPath(const std::string& fileName);
  // The same path as a "file://" URL.
  static std::optional<std::string> databaseFullURL(const std::string& fileName);

  // "OrvexLoomset/3.17 (<model>; U; CPU <system> <version> like Mac OS X; <lang>-<country>)"
  // from the current platform's device facts.
  static std::string userAgentString();
  static std::string userAgentStringWithProduct(
      const std::string& product, const std::string& version, const std::string& deviceModel,
      const std::string& systemName, const std::string& systemVersion,
      const std::string& systemLanguage, const std::string& systemCountry);
  // The first preferred language in lower case, or "en" when there is none.
  static std::string systemLanguageFromLanguages(const std::vector<std::string>& languages);
  // The locale's country code in lower case.
  static std::string systemCountryFromLocale(const std::string& localeCountry);
};

}  // namespace loomset
