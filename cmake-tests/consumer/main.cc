#include <iostream>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
// The installed schema headers include each other under loomset/proto/ as well, so this compiles
// with nothing on the include path but the installed include folder.
#include "loomset/proto/resource_with_metadata.pb.h"

int main() {
  using namespace loomset::obj;
  auto dataLayer = loomset::MOXDataLayer::create();
  dataLayer->push(dict({{"greeting", str("hello")}}));
  auto value = dataLayer->get("greeting");
  const auto text = loomset::MOXTypes::objectToString(value)->text();
  std::cout << "consumer read: " << text << "\n";

  loomset::MOXPResourceWithMetadata stored;
  stored.set_time_stamp(1);
  stored.mutable_resource()->set_version("7");
  loomset::MOXPResourceWithMetadata parsed;
  const bool roundTrip =
      parsed.ParseFromString(stored.SerializeAsString()) && parsed.resource().version() == "7";
  std::cout << "consumer schema round trip: " << (roundTrip ? "ok" : "failed") << "\n";
  return text == "hello" && roundTrip ? 0 : 1;
}
