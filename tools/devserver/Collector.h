// The development server's hit collector. It accepts hits as the analytics dispatcher sends
// them: "/collect" by GET (the query is one hit) or POST (the body), "/batch" by POST (one hit per
// line), bodies plain, gzip or deflate. Every hit becomes one record
//   {"seq": N, "path": "/batch", "method": "POST", "params": {"v": "1", "t": "event", ...}}
// which is handed to the sink (the server prints it as a JSON line) and kept, the last `keep`
// of them, for "/hits".
//
// "/hits" answers the kept records as a JSON array, oldest first. Its query may hold "min=N" to
// wait until at least N records are kept (at most "timeout=MS", 10 seconds by default, never
// more than a minute), and "clear=1" to drop the records it answers with.
//
// Threads: every operation is safe from any thread; the sink is called under the collector's
// lock, so records reach it in sequence order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tools/devserver/HitDecoding.h"
#include "tools/devserver/HttpServer.h"

namespace loomset::devserver {

class Collector {
 public:
  using Sink = std::function<void(const Json& record)>;

  static constexpr std::size_t kMaxInflatedBytes = 16 * 1024 * 1024;

  Collector(std::size_t keep, Sink sink);

  // "/collect" and "/batch".
  ServerResponse collect(const ServerRequest& request);
  // "/hits".
  ServerResponse hits(const ServerRequest& request);

  std::vector<Json> kept() const;
  std::uint64_t received() const;
  // Wakes every "/hits" request that is waiting; later ones answer at once.
  void shutdown();

 private:
  void record(const std::string& path, const std::string& method,
              const std::vector<std::string_view>& hitTexts);

  const std::size_t keep_;
  const Sink sink_;

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Json> kept_;      // guarded by mu_
  std::uint64_t nextSeq_ = 1;  // guarded by mu_
  bool shuttingDown_ = false;  // guarded by mu_
};

// The decoded query of a request ("a=1&b" → a: "1", b: ""), later names winning.
Json decodeQuery(std::string_view query);

}  // namespace loomset::devserver
