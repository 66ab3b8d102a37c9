// The development server's page at "/": the endpoints it serves, then the last hits the collector
// kept and the last container fetches it answered, newest first, in two small HTML tables. Every
// text that came from a request is escaped, so a hit or a container id can never inject markup.
//
// Threads: `FetchLog` is safe from any thread; the rendering functions are pure.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/devserver/HitDecoding.h"
#include "tools/devserver/HttpServer.h"

namespace loomset::devserver {

struct FetchRecord {
  std::string time;  // UTC, "2026-01-31 12:00:00"
  std::string containerId;
  std::string query;  // as received, undecoded
  int status = 0;
  std::size_t bytes = 0;
};

// The last container fetches, at most `keep` of them.
class FetchLog {
 public:
  explicit FetchLog(std::size_t keep) : keep_(keep) {}
  void record(const ServerRequest& request, const ServerResponse& response);
  // Oldest first.
  std::vector<FetchRecord> fetches() const;

 private:
  const std::size_t keep_;
  mutable std::mutex mu_;
  std::deque<FetchRecord> fetches_;  // guarded by mu_
};

// "&", "<", ">", '"' and "'" as character references.
std::string htmlEscape(std::string_view text);

// The whole page; `hits` are the collector's records, oldest first (the last `shown` are shown).
std::string renderStatusPage(const std::string& endpoints, const std::vector<Json>& hits,
                             const std::vector<FetchRecord>& fetches, std::size_t shown = 20);

}  // namespace loomset::devserver
