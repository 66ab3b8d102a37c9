// Pushes facts and events into a data layer and shows what a listener hears and what the model
// holds afterwards.
#include <iostream>
#include <memory>

#include "loomset/Exceptions.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

using namespace loomset;
using namespace loomset::obj;

namespace {

class PrintingListener : public MOXDataLayerListener {
 public:
  void changed(const std::shared_ptr<Dictionary>& update) override {
    const bool isEvent = update->objectForKey("event") != nullptr;
    std::cout << (isEvent ? "  listener heard event: " : "  listener heard update: ")
              << MOXTypes::objectToString(update)->text() << "\n";
  }
};

void show(const MOXDataLayer& dataLayer, const std::string& path) {
  const ObjectPtr value = dataLayer.get(path);
  std::cout << "  get(\"" << path
            << "\") = " << (value ? MOXTypes::objectToString(value)->text() : "(nothing)") << "\n";
}

}  // namespace

int main() {
  auto dataLayer = MOXDataLayer::create();
  dataLayer->registerListener(std::make_shared<PrintingListener>());

  std::cout << "Pushing facts, an event and list updates:\n";
  try {
    dataLayer->push(dict({{"user.id", str("u-42")}, {"user.plan", str("gold")}}));
    dataLayer->push(dict({{"cart", array({str("apple"), str("pear"), str("plum")})}}));
    // Only the second item changes; the marker keeps the first, the third is left alone.
    dataLayer->push(dict({{"cart", array({kMOXDataLayerObjectNotPresent(), str("fig")})}}));
    dataLayer->push(dict({{"event", str("purchase")}, {"total", dbl(12.5)}}));
    dataLayer->pushValue(i64(3), "user.visits");
  } catch (const LoomsetException& e) {
    std::cerr << "push failed: " << e.name() << ": " << e.reason() << "\n";
    return 1;
  }

  std::cout << "What the data layer holds:\n";
  show(*dataLayer, "user");
  show(*dataLayer, "user.plan");
  show(*dataLayer, "cart");
  show(*dataLayer, "total");
  show(*dataLayer, "event");
  show(*dataLayer, "missing.path");
  return 0;
}
