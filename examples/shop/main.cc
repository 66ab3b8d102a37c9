// The shop: opens its container through the opener (from a container server), registers handlers,
// reads typed values, pushes a screen view and a purchase so that rules fire tags, then sends
// analytics hits and shows what the collector received (ShopSupport.cc). Run it against a
// `loomset-devserver` (containers at /r, hits at /collect): shop SERVER_URL
#include <iostream>

#include "ShopSupport.h"
#include "loomset/Exceptions.h"
#include "loomset/MOXContainerOpener.h"
#include "loomset/MOXManager.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

using namespace loomset;
using namespace loomset::obj;

static std::string text(const ObjectPtr& o) {
  return MOXTypes::objectToString(o)->text();
}

struct LoyaltyTier : MOXFunctionCallMacroHandler {
  ObjectPtr valueForMacro(const std::string&, const std::shared_ptr<Dictionary>& params) override {
    return str(text(params->objectForKey("user")) == "ada" ? "gold" : "bronze");
  }
};

struct BigOrderAlert : MOXFunctionCallTagHandler {
  void execute(const std::string& name, const std::shared_ptr<Dictionary>& params) override {
    std::cout << "  [handler " << name << "] order " << text(params->objectForKey("order"))
              << " totals " << text(params->objectForKey("total")) << "\n";
  }
};

static void showValues(const char* title, MOXContainer& c) {
  std::cout << "\n"
            << title << "\n  greeting     (string)  " << c.stringForKey("greeting")
            << "\n  maxCartItems (int64)   " << c.int64ForKey("maxCartItems")
            << "\n  discountRate (double)  " << c.doubleForKey("discountRate")
            << "\n  saleActive   (boolean) " << std::boolalpha << c.booleanForKey("saleActive")
            << "\n  banner       (string)  " << c.stringForKey("banner")
            << "\n  bannerColor  (string)  " << c.stringForKey("bannerColor")
            << "\n  loyaltyTier  (string)  " << c.stringForKey("loyaltyTier") << "\n";
}

static int runShop(const std::string& server) {
  useCollectorOf(server);  // where the analytics tag's hits go
  const auto manager = MOXManager::instance();
  manager->setVeskServerAddress(server);
  manager->setDispatchInterval(0);  // the shop dispatches itself
  const auto container = MOXContainerOpener::openContainerWithId(
                             "GTM-SHOP", manager, kMOXOpenTypePreferNonDefault, nullptr)
                             ->get();
  if (container->isDefault()) return std::cerr << "shop: no container from " << server << "\n", 1;
  std::cout << "Container GTM-SHOP version " << container->resourceVersion() << "\n";
  container->registerFunctionCallMacroHandler(std::make_shared<LoyaltyTier>(), "tierFor");
  container->registerFunctionCallTagHandler(std::make_shared<BigOrderAlert>(), "bigOrder");
  showValues("Typed values:", *container);
  const auto& dataLayer = manager->dataLayer();
  std::cout << "\nPushing a screen view of the sale screen by ada, then a purchase:\n";
  try {
    dataLayer->push(dict({{"event", str("screen_view")},
                          {"server", dict({{"url", str(server)}})},
                          {"user", dict({{"name", str("ada")}})},
                          {"screen", dict({{"name", str("sale")}})}}));
    const auto items = array({dict({{"name", str("Umbrella")},
                                    {"sku", str("U-1")},
                                    {"price", dbl(49.95)},
                                    {"quantity", i64(2)}}),
                              dict({{"name", str("Boots")},
                                    {"sku", str("B-7")},
                                    {"price", dbl(30.0)},
                                    {"quantity", i64(1)}})});
    dataLayer->push(
        dict({{"event", str("purchase")},
              {"order", dict({{"id", str("O-1001")}, {"total", dbl(129.9)}})},
              {"transactionId", str("O-1001")},
              {"transactionTotal", dbl(129.9)},
              {"transactionProducts", items},
              {"ecommerce",
               dict({{"currencyCode", str("EUR")},
                     {"purchase",
                      dict({{"actionField", dict({{"id", str("O-1001")}, {"revenue", dbl(129.9)}})},
                            {"products",
                             array({dict({{"id", str("U-1")}, {"quantity", i64(2)}})})}})}})}}));
  } catch (const LoomsetException& e) {
    return std::cerr << "shop: push failed: " << e.name() << ": " << e.reason() << "\n", 1;
  }
  std::cout << "  data layer lastScreen   = " << text(dataLayer->get("lastScreen"))
            << "\n  data layer lastPurchase = " << text(dataLayer->get("lastPurchase")) << "\n";
  showValues("Typed values now:", *container);
  container->close();
  const int tagHits = dispatchTagHits(server);
  return sendShopHits(server) != 0 ? 1 : tagHits;
}

int main(int argc, char** argv) {
  if (argc != 2) return std::cerr << "usage: shop SERVER_URL   (a loomset-devserver)\n", 1;
  const ShopPlatform platform;  // a data root of the run's own, and the shop's name and version
  if (!platform.installed()) return std::cerr << "shop: cannot create a data directory\n", 1;
  return runShop(argv[1]);
}
