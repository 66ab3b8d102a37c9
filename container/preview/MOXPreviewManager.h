// Preview mode: the process-wide state of which container id, if any, is being previewed with an
// unpublished version. The application hands preview links to the manager, which passes them here
// and applies the resulting state to its open containers; storage and containers ask
// `isPreviewingContainer` before reading or writing saved copies.
//
// Links (matched whole, ICU regular expressions; the dots after "loomset" and "c" match any
// character):
//   enter  ^loomset.c.\S+://preview/p?id=ID&wen_auth=A&wen_preview=DIGITS$
//   exit   ^loomset.c.\S+://preview/p?id=ID&wen_preview=$
// ID is one query value ([^&\s]+): it cannot reach into the next parameter, so an entering link
// with an empty number is not taken for an exit link.
//
// The state lives in memory only; a new process starts out of preview mode.
//
// Threads: every operation may be called from any thread; the three fields change together.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Library/Util/platform/Mutex.h"

namespace loomset {

class MOXPreviewManager {
 public:
  // The one preview manager of the process.
  static std::shared_ptr<MOXPreviewManager> instance();

  // Recognises a preview link and updates the state: an entering link starts previewing its id
  // with the path "/r?" + the link's query; an exit link for the id being previewed ends preview
  // mode (the id is kept). False, leaving the state alone, for anything else, an empty link
  // included.
  bool generatePreviewDataForUrl(const std::string& url);

  // Previewing, and the id is the one being previewed.
  bool isPreviewingContainer(const std::string& containerId) const;
  // Leaves preview mode and forgets the id.
  void clear();

  // 1 while previewing, 0 otherwise.
  std::int64_t previewMode() const;
  // The path and query fetches use while previewing; nothing when not previewing.
  std::optional<std::string> veskUrlPath() const;
  // The id being, or last, previewed.
  std::optional<std::string> containerId() const;

  // The value of the query's first parameter: the text between the first "=" of the first
  // "&"-separated piece and the next "=" (empty when there is none).
  static std::string containerIdForQuery(std::string_view query);

 private:
  MOXPreviewManager() = default;

  mutable Mutex mu_;
  std::int64_t previewMode_ GUARDED_BY(mu_) = 0;
  std::optional<std::string> urlPath_ GUARDED_BY(mu_);
  std::optional<std::string> containerId_ GUARDED_BY(mu_);
};

}  // namespace loomset
