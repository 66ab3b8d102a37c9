#include "ShopSupport.h"

#include <curl/curl.h>
#include <stdlib.h>

#include <filesystem>
#include <future>
#include <iostream>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

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
  Platform::setCurrent(platform);
  curl_global_init(CURL_GLOBAL_DEFAULT);
}

ShopPlatform::~ShopPlatform() {
  if (root_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

int sendShopHits(const std::string& server) {
  // Analytics: hits go to the development server's collector.
  PLUCollectorEndpoints endpoints;
  endpoints.plainBaseUrl = endpoints.secureBaseUrl = server;
  PLUCollectorEndpoints::setShared(endpoints);
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
  for (;;) {
    std::promise<PLUDispatchOutcome> done;
    plu->dispatchWithCompletionHandler([&done](PLUDispatchOutcome o) { done.set_value(o); });
    const PLUDispatchOutcome outcome = done.get_future().get();
    std::cout << " "
              << (outcome == kPLUDispatchSent ? "sent"
                  : outcome == 0              ? "nothing more"
                                              : "failed");
    if (outcome != kPLUDispatchSent) break;
  }

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
