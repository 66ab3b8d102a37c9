// The shop: a small application that uses Loomset as an application would. It fetches its
// container from a container server, evaluates it over a data layer with a tag handler and a
// macro handler of its own, pushes a screen view and a purchase so that rules fire tags, then
// sends analytics hits through a tracker and shows what the collector received.
//
//   shop SERVER_URL     SERVER_URL: a `loomset-devserver` (containers at /r, hits at /collect)
//
// Until containers can be opened through the manager, the shop expands the fetched resource
// and builds the runtime itself, wiring "_func" to its handlers as a container does.
#include <curl/curl.h>
#include <stdlib.h>

#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "loomset/Exceptions.h"
#include "loomset/MOXCustomEvaluator.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXFunctionCallHandlerRegistry.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "loomset/PLU.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/PLUDictionaryBuilder.h"
#include "loomset/PLUFields.h"
#include "loomset/platform/Platform.h"
#include "loomset/proto/serving.pb.h"

using namespace loomset;
using namespace loomset::obj;

namespace {

constexpr const char* kContainerId = "GTM-SHOP";
constexpr const char* kRuntimeVersion = "i107577340";

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

// The handlers the shop registers under names its container uses, as it will on a container.
class Handlers : public MOXFunctionCallHandlerRegistry {
 public:
  std::map<std::string, std::shared_ptr<MOXFunctionCallTagHandler>> tags;
  std::map<std::string, std::shared_ptr<MOXFunctionCallMacroHandler>> macros;

  std::shared_ptr<MOXFunctionCallTagHandler> functionCallTagHandlerForTag(
      const std::string& name) override {
    return tags.count(name) ? tags.at(name) : nullptr;
  }
  std::shared_ptr<MOXFunctionCallMacroHandler> functionCallMacroHandlerForMacro(
      const std::string& name) override {
    return macros.count(name) ? macros.at(name) : nullptr;
  }
};

// What a container hands its runtime for "_func": tags call the tag handler of the name,
// macros answer the macro handler's value.
class HandlerCaller : public MOXCustomEvaluator {
 public:
  HandlerCaller(std::shared_ptr<Handlers> handlers, bool forTags)
      : handlers_(std::move(handlers)), forTags_(forTags) {}
  ObjectPtr evaluate(const std::string& name, const std::shared_ptr<Dictionary>& params) override {
    if (!forTags_) {
      const auto handler = handlers_->functionCallMacroHandlerForMacro(name);
      return handler ? handler->valueForMacro(name, params) : nullptr;
    }
    if (const auto handler = handlers_->functionCallTagHandlerForTag(name)) {
      handler->execute(name, params);
    }
    return MOXTypes::defaultString();
  }

 private:
  const std::shared_ptr<Handlers> handlers_;
  const bool forTags_;
};

class LoyaltyTier : public MOXFunctionCallMacroHandler {
 public:
  ObjectPtr valueForMacro(const std::string&, const std::shared_ptr<Dictionary>& params) override {
    const ObjectPtr user = params->objectForKey("user");
    return str(user && user->description() == "ada" ? "gold" : "bronze");
  }
};

class BigOrderAlert : public MOXFunctionCallTagHandler {
 public:
  void execute(const std::string& name, const std::shared_ptr<Dictionary>& params) override {
    std::cout << "  [handler " << name << "] order " << text(params->objectForKey("order"))
              << " totals " << text(params->objectForKey("total")) << "\n";
  }
  static std::string text(const ObjectPtr& o) { return MOXTypes::objectToString(o)->text(); }
};

// The manager's listener, in short: every pushed event makes the runtime evaluate its tags.
class EventsToTags : public MOXDataLayerListener {
 public:
  explicit EventsToTags(std::shared_ptr<MOXRuntime> runtime) : runtime_(std::move(runtime)) {}
  void changed(const std::shared_ptr<Dictionary>& update) override {
    if (const ObjectPtr event = update->objectForKey("event")) {
      runtime_->evaluateTags(event->description());
    }
  }

 private:
  const std::shared_ptr<MOXRuntime> runtime_;
};

void showValues(MOXRuntime& runtime) {
  auto value = [&](const char* key) { return runtime.evaluateMacroReference(key).value(); };
  std::cout << "  greeting     (string)  " << MOXTypes::valueToString(value("greeting"))->text()
            << "\n  maxCartItems (int64)   "
            << MOXTypes::valueToInt64(value("maxCartItems"))->longLongValue()
            << "\n  discountRate (double)  "
            << MOXTypes::valueToDouble(value("discountRate"))->doubleValue()
            << "\n  saleActive   (boolean) "
            << (MOXTypes::valueToBoolean(value("saleActive"))->boolValue() ? "true" : "false");
  for (const char* key : {"banner", "bannerColor", "loyaltyTier"}) {
    std::cout << "\n  " << key << std::string(13 - std::string(key).size(), ' ') << "(string)  "
              << MOXTypes::valueToString(value(key))->text();
  }
  std::cout << "\n";
}

// Loads the container from the server; the second fetch names the fingerprint it has.
MOXExpandedResourcePtr loadContainer(const std::string& server) {
  const std::string url = server + "/r?id=" + kContainerId + "&v=" + kRuntimeVersion;
  const auto answer = httpGet(url);
  MOXPLegacyRawProtoSupplementedResource message;
  if (!answer || answer->first != 200 || !message.ParseFromString(answer->second) ||
      !message.has_resource()) {
    std::cerr << "shop: no container from " << url << "\n";
    return nullptr;
  }
  std::cout << "Container " << kContainerId << " version " << message.resource().version()
            << " (fingerprint " << message.fingerprint() << ") from " << server << "\n";
  const auto again = httpGet(url + "&pv=" + message.fingerprint());
  MOXPLegacyRawProtoSupplementedResource unchanged;
  if (again && again->first == 200 && unchanged.ParseFromString(again->second)) {
    std::cout << "  fetched again with pv=" << message.fingerprint() << ": "
              << (unchanged.has_resource() ? "a new resource" : "unchanged") << "\n";
  }
  try {
    return MOXResourceUtil::expandResource(message.resource());
  } catch (const LoomsetException& e) {
    std::cerr << "shop: the container is invalid: " << e.reason() << "\n";
    return nullptr;
  }
}

int runShop(const std::string& server) {
  const auto resource = loadContainer(server);
  if (!resource) return 1;

  auto handlers = std::make_shared<Handlers>();
  handlers->macros["tierFor"] = std::make_shared<LoyaltyTier>();
  handlers->tags["bigOrder"] = std::make_shared<BigOrderAlert>();
  const auto dataLayer = MOXDataLayer::create();
  const auto runtime = MOXRuntime::runtimeWithResource(
      resource, dataLayer, std::make_shared<HandlerCaller>(handlers, false),
      std::make_shared<HandlerCaller>(handlers, true));
  const auto listener = std::make_shared<EventsToTags>(runtime);
  dataLayer->registerListener(listener);

  std::cout << "\nTyped values:\n";
  showValues(*runtime);
  try {
    std::cout << "\nPushing a screen view of the sale screen by ada, then a purchase:\n";
    dataLayer->push(dict({{"user", dict({{"name", str("ada")}})}}));
    dataLayer->push(
        dict({{"event", str("screen_view")}, {"screen", dict({{"name", str("sale")}})}}));
    dataLayer->push(dict({{"event", str("purchase")},
                          {"order", dict({{"id", str("O-1001")}, {"total", dbl(129.9)}})}}));
  } catch (const LoomsetException& e) {
    std::cerr << "shop: push failed: " << e.name() << ": " << e.reason() << "\n";
    return 1;
  }
  std::cout << "  data layer lastScreen   = "
            << MOXTypes::objectToString(dataLayer->get("lastScreen"))->text()
            << "\n  data layer lastPurchase = "
            << MOXTypes::objectToString(dataLayer->get("lastPurchase"))->text() << "\n";
  std::cout << "\nTyped values now:\n";
  showValues(*runtime);
  dataLayer->unregisterListener(listener);

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: shop SERVER_URL   (a loomset-devserver, like http://127.0.0.1:8080)\n";
    return 1;
  }
  // A data root of this run's own, so the shop starts with no stored hits and leaves nothing.
  std::string root = (std::filesystem::temp_directory_path() / "loomset-shop-XXXXXX").string();
  if (!mkdtemp(root.data())) {
    std::cerr << "shop: cannot create a data directory\n";
    return 1;
  }
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root);
  platform->application.name = "Loomset Shop";
  platform->application.identifier = "com.example.shop";
  platform->application.shortVersion = "2.1";
  Platform::setCurrent(platform);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  const int status = runShop(argv[1]);
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return status;
}
