#include <iostream>

#include "loomset/MOXDataLayer.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

int main() {
  using namespace loomset::obj;
  auto dataLayer = loomset::MOXDataLayer::create();
  dataLayer->push(dict({{"greeting", str("hello")}}));
  auto value = dataLayer->get("greeting");
  const auto text = loomset::MOXTypes::objectToString(value)->text();
  std::cout << "consumer read: " << text << "\n";
  return text == "hello" ? 0 : 1;
}
