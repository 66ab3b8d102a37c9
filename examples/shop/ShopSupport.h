// What the shop needs besides its container: a platform bundle of its own (a scratch data root,
// removed at the end, and the shop's name and version), and its analytics: five hits sent to the
// development server's collector and read back from it.
#pragma once

#include <string>

// Installs the bundle for the life of the object.
class ShopPlatform {
 public:
  ShopPlatform();
  ~ShopPlatform();
  ShopPlatform(const ShopPlatform&) = delete;
  ShopPlatform& operator=(const ShopPlatform&) = delete;
  // False when the data root could not be created (nothing is installed then).
  bool installed() const { return !root_.empty(); }

 private:
  std::string root_;
};

// Points the analytics half at the server's collector (before its first use).
void useCollectorOf(const std::string& server);
// Dispatches through the manager until nothing is left, then prints what the server received
// from the container's tags (and clears it); 0 when it received all six tag hits.
int dispatchTagHits(const std::string& server);

// Sends a screen view, an event, a transaction and two items through a tracker, dispatches them
// and prints what the collector at `server` received; 0 when it received all five.
int sendShopHits(const std::string& server);
