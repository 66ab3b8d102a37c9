// `analytics_soak [MINUTES] [COLLECTOR_URL]`: the analytics half left running, as an application
// would: ten hits a second spread over 25 trackers (within each tracker's rate limit), the
// dispatcher's own timer sending them every 10 seconds to the collector (for example the
// development server, `loomset-devserver --quiet`), in a fresh data root. Prints the resident
// memory, open file descriptors and threads at the start, every minute and at the end, then the
// number of hits sent. Default: 10 minutes; without a collector URL hits go to a
// closed port and stay stored (up to the store's limit).
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ProcessStatus.h"
#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLUTracker.h"
#include "loomset/platform/Platform.h"

namespace {

void report(const char* when, double elapsedSeconds, long hits) {
  std::printf("%-6s t=%5.0f s  hits=%7ld  rss=%6ld kB  peak=%6ld kB  fds=%3ld  threads=%3ld\n",
              when, elapsedSeconds, hits, loomset::bench::rssKb(), loomset::bench::peakRssKb(),
              loomset::bench::openFileDescriptors(), loomset::bench::threadCount());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const double minutes = argc > 1 ? std::atof(argv[1]) : 10;
  const std::string collector = argc > 2 ? argv[2] : "http://127.0.0.1:9";

  char pattern[] = "/tmp/loomset-soak-XXXXXX";
  const char* root = mkdtemp(pattern);
  if (!root) return 2;
  auto platform = loomset::Platform::systemDefault();
  platform->directories = loomset::DataDirectories(root);
  loomset::Platform::setCurrent(platform);
  loomset::PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = endpoints.secureBaseUrl = collector;
  loomset::PLUCollectorEndpoints::setShared(endpoints);

  auto facade = loomset::PLU::sharedInstance();
  facade->setDispatchInterval(10);
  std::vector<std::shared_ptr<loomset::PLUTracker>> trackers;
  for (int i = 0; i < 25; ++i) {
    trackers.push_back(facade->trackerWithTrackingId("UA-SOAK-" + std::to_string(i)));
  }

  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(minutes * 60);
  auto nextReport = start + std::chrono::minutes(1);
  long hits = 0;
  report("start", 0, hits);
  for (auto next = start; next < end; next += std::chrono::milliseconds(100)) {
    std::this_thread::sleep_until(next);
    auto& tracker = trackers[hits % trackers.size()];
    tracker->send({{"&t", "event"},
                   {"&ec", "soak"},
                   {"&ea", "tick"},
                   {"&el", "hit " + std::to_string(hits)}});
    ++hits;
    if (Clock::now() >= nextReport) {
      report("minute", std::chrono::duration<double>(Clock::now() - start).count(), hits);
      nextReport += std::chrono::minutes(1);
    }
  }
  report("end", std::chrono::duration<double>(Clock::now() - start).count(), hits);
  loomset::PLU::applicationWillTerminate();
  std::printf("sent %ld hits\n", hits);
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  std::_Exit(0);
}
