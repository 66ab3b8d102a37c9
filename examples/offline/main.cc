// Starting without network. The application ships a default container (bundle/GTM-OFFLINE.json):
// the very first start, offline and with nothing saved, answers from it. Once the container has
// been fetched, the copy saved on disk answers the next offline start.
//   offline SERVER_URL     SERVER_URL: a `loomset-devserver` that serves GTM-OFFLINE
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "loomset/MOXContainerOpener.h"
#include "loomset/MOXManager.h"
#include "loomset/platform/Platform.h"

using namespace loomset;
namespace fs = std::filesystem;

// One start of the application: open the container, say where its values come from, close it.
static void start(const char* label, const std::string& server) {
  MOXManager::clearManagerInstance();  // a new process, as far as the library can tell
  const auto manager = MOXManager::instance();
  manager->setVeskServerAddress(server);
  const auto container = MOXContainerOpener::openContainerWithId(
                             "GTM-OFFLINE", manager, kMOXOpenTypePreferNonDefault, nullptr)
                             ->get();
  std::cout << label << ": " << container->stringForKey("greeting") << ", "
            << container->int64ForKey("tileCount") << " tiles ("
            << (container->isDefault() ? "the shipped default"
                                       : "version " + container->resourceVersion())
            << ")\n";
  container->close();
}

int main(int argc, char** argv) {
  if (argc != 2) return std::cerr << "usage: offline SERVER_URL   (a loomset-devserver)\n", 1;
  std::string root = (fs::temp_directory_path() / "loomset-offline-XXXXXX").string();
  if (!mkdtemp(root.data())) return std::cerr << "offline: cannot create a data directory\n", 1;
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(root);
  platform->application.resourceDirectory = LOOMSET_OFFLINE_BUNDLE;
  Platform::setCurrent(platform);

  const std::string nowhere = "http://127.0.0.1:9";  // nothing listens: no network
  start("First start, offline", nowhere);
  start("Online", argv[1]);
  // The fetched copy is written in the background; the next start should find it.
  const fs::path saved =
      fs::path(root) / "Library/Application Support/Orvex/Loomset" / "resource_GTM-OFFLINE";
  for (int i = 0; i < 1000 && !fs::exists(saved); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool wasSaved = fs::exists(saved);
  start("Next start, offline", nowhere);
  std::error_code ec;
  fs::remove_all(root, ec);
  return wasSaved ? 0 : 1;
}
