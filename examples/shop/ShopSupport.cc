#include "ShopSupport.h"

#include <curl/curl.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "loomset/MOXManager.h"
#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"

using namespace loomset;

namespace {

// The application's own networking (here libcurl): a GET, or nothing when no answer came.
std::optional<std::pair<long, std::string>> httpGet(const std::string& url) {
  CURL* curl = curl_easy_init();
  if (!curl) return std::nullopt;
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "127.0.0.1,localhost");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t n, void* out) {
        static_cast<std::string*>(out)->append(data, n);
        return n;
      });
  long status = 0;
  const bool ok = curl_easy_perform(curl) == CURLE_OK;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (!ok) return std::nullopt;
  return std::make_pair(status, body);
}

}  // namespace

ShopPlatform::ShopPlatform() {
  std::string root = (std::filesystem::temp_directory_path() / "loomset-shop-XXXXXX").string();
  if (!mkdtemp(root.data())) return;
  root_ = root;
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root_);
  platform->application.name = "Loomset Shop";
  platform->application.identifier = "com.example.shop";
  platform->application.shortVersion = "2.1";
  // The shop talks to its local server only: hosts other than it are not watched (they would
  // count as unreachable on a machine without a route to the internet).
  platform->reachability = [watch = platform->reachability](const std::string& host,
                                                            std::shared_ptr<EventLoop> loop) {
    return host == "127.0.0.1" ? watch(host, std::move(loop)) : nullptr;
  };
  Platform::setCurrent(platform);
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

ShopPlatform::~ShopPlatform() {
  if (root_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

void useCollectorOf(const std::string& server) {
  PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = endpoints.secureBaseUrl = server;
  PLUCollectorEndpoints::setShared(endpoints);
}

namespace {

// Dispatches again and again until a dispatch sends nothing, printing each outcome.
void dispatchUntilNothingIsSent(
    const std::function<void(const std::function<void(PLUDispatchOutcome)>&)>& dispatch) {
  for (;;) {
    std::promise<PLUDispatchOutcome> done;
    dispatch([&done](PLUDispatchOutcome o) { done.set_value(o); });
    const PLUDispatchOutcome outcome = done.get_future().get();
    std::cout << " "
              << (outcome == kPLUDispatchSent ? "sent"
                  : outcome == 0              ? "nothing more"
                                              : "failed");
    if (outcome != kPLUDispatchSent) break;
  }
}

}  // namespace

int dispatchTagHits(const std::string& server) {
  const auto manager = MOXManager::instance();
  std::cout << "\nDispatching through the manager:";
  dispatchUntilNothingIsSent([&manager](const std::function<void(PLUDispatchOutcome)>& handler) {
    manager->dispatchWithCompletionHandler(handler);
  });
  // Everything received so far came from the container's tags; clear it for the shop's own hits.
  const auto received = httpGet(server + "/hits?min=6&timeout=10000&clear=1");
  if (!received || received->first != 200) return std::cerr << "\nshop: cannot read /hits\n", 1;
  std::cout << "\n\nThe server received from the container's tags:\n";
  int count = 0;
  for (const auto& hit : nlohmann::json::parse(received->second)) {
    const auto& p = hit["params"];
    ++count;
    std::cout << "  " << hit["method"].get<std::string>() << " " << hit["path"].get<std::string>()
              << " ";
    for (const auto& [key, value] : p.items()) {
      if (key == "cid" || key == "_s" || key == "_v" || key == "ul" || key == "sr" || key == "an" ||
          key == "av" || key == "aid" || key == "z" || key == "v" || key == "_u" || key == "a")
        continue;
      std::cout << " " << key << "=" << value.get<std::string>();
    }
    std::cout << "\n";
  }
  // A screen view, a transaction with two items, a commerce purchase and the purchase pixel.
  return count == 6 ? 0 : 1;
}

int sendShopHits(const std::string& server) {
  useCollectorOf(server);
  const auto plu = PLU::sharedInstance();
  plu->setDispatchInterval(0);
  const auto tracker = plu->trackerWithName("shop", "UA-SHOP-1");
  if (!tracker) {
    std::cerr << "shop: no tracker (see the analytics log)\n";
    return 1;
  }
  tracker->set(kPLUScreenName, std::string("Sale"));
  tracker->send(PLUDictionaryBuilder::createScreenView().build());
  tracker->send(
      PLUDictionaryBuilder::createEventWithCategory("cart", "add", "umbrella", 1).build());
  tracker->send(PLUDictionaryBuilder::createTransactionWithId("O-1001", "web", 129.9, 10.4, 5.0,
                                                              std::string("EUR"))
                    .build());
  tracker->send(PLUDictionaryBuilder::createItemWithTransactionId(
                    "O-1001", "Umbrella", "U-1", "rain", 49.95, 2, std::string("EUR"))
                    .build());
  tracker->send(PLUDictionaryBuilder::createItemWithTransactionId("O-1001", "Boots", "B-7", "rain",
                                                                  30.0, 1, std::string("EUR"))
                    .build());

  std::cout << "\nSent 5 hits as client " << plu->clientId() << "; dispatching:";
  dispatchUntilNothingIsSent([&plu](const std::function<void(PLUDispatchOutcome)>& handler) {
    plu->dispatchWithCompletionHandler(handler);
  });

  const auto received = httpGet(server + "/hits?min=5&timeout=10000");
  if (!received || received->first != 200) {
    std::cerr << "\nshop: cannot read " << server << "/hits\n";
    return 1;
  }
  std::cout << "\n\nThe collector received:\n";
  int ours = 0;
  for (const auto& hit : nlohmann::json::parse(received->second)) {
    const auto& p = hit["params"];
    if (p.value("cid", "") != plu->clientId()) continue;
    ++ours;
    std::cout << "  " << hit["method"].get<std::string>() << " " << hit["path"].get<std::string>()
              << "  t=" << p.value("t", "");
    const std::string type = p.value("t", "");
    for (const char* key : {"cd", "ec", "ea", "el", "ev", "ti", "ta", "tr", "tt", "ts", "in", "ic",
                            "iv", "ip", "iq", "cu"}) {
      // The screen name is a tracker field: every hit carries it, only the screen view shows it.
      if (!p.contains(key) || (type != "screenview" && std::string(key) == "cd")) continue;
      std::cout << " " << key << "=" << p[key].get<std::string>();
    }
    std::cout << "  (tid=" << p.value("tid", "") << " v=" << p.value("v", "")
              << " _s=" << p.value("_s", "") << ")\n";
  }
  return ours == 5 ? 0 : 1;
}
