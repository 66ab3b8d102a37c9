#include "tools/loomset/ManagerRun.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "loomset/MOXManager.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "loomset/platform/Platform.h"
#include "tags/MOXDispatcher.h"
#include "tools/loomset/CollectorOptions.h"
#include "tools/loomset/JsonLines.h"
#include "tools/loomset/LineSink.h"
#include "tools/loomset/ManagerSteps.h"
#include "tools/loomset/PrintingHandlers.h"
#include "tools/loomset/RealTimeWork.h"
#include "tools/loomset/RunOptions.h"
#include "tools/loomset/SimulatedTime.h"
#include "tools/loomset/Subcommand.h"

namespace loomset::tools {
namespace {

// Far beyond any fetch or file operation that ends at all.
constexpr auto kStartedWorkTimeout = std::chrono::seconds(120);

MOXRefreshMode refreshModeFrom(const Arguments& parsed) {
  const auto name = parsed.value("--refresh-mode");
  if (!name || *name == "standard") return kMOXRefreshModeStandard;
  if (*name == "default-container") return kMOXRefreshModeDefaultContainer;
  throw UsageError("--refresh-mode takes standard or default-container, not \"" + *name + "\"");
}

// Scheme, host and port, without a trailing "/" (the fetch path begins with one).
std::optional<std::string> containerServerFrom(const Arguments& parsed, MOXRefreshMode mode) {
  auto url = parsed.value("--container-server");
  if (!url) {
    // So that a run never reaches the library's default server by accident.
    if (mode == kMOXRefreshModeStandard) {
      throw UsageError("--container-server is required unless --refresh-mode is default-container");
    }
    return std::nullopt;
  }
  if (url->find("://") == std::string::npos) {
    throw UsageError("--container-server takes a scheme, host and port, not \"" + *url + "\"");
  }
  while (!url->empty() && url->back() == '/') url->pop_back();
  return url;
}

std::optional<double> clockStartFrom(const Arguments& parsed) {
  const auto text = parsed.value("--clock-start");
  if (!text) return std::nullopt;
  try {
    std::size_t used = 0;
    const double millis = std::stod(*text, &used);
    if (used == text->size() && std::isfinite(millis) && millis >= 0) return millis;
  } catch (const std::exception&) {
  }
  throw UsageError("--clock-start takes milliseconds since 1970, not \"" + *text + "\"");
}

struct PixelWrapper {
  std::string url;
  std::string parameter;
};

std::optional<PixelWrapper> pixelWrapperFrom(const Arguments& parsed) {
  const auto values = parsed.values(kPixelWrapperOption);
  if (values.empty()) return std::nullopt;
  if (values[0].find("://") == std::string::npos) {
    throw UsageError(std::string(kPixelWrapperOption) + " takes a URL with a scheme, not \"" +
                     values[0] + "\"");
  }
  if (values[1].empty()) {
    throw UsageError(std::string(kPixelWrapperOption) + " needs a non-empty query parameter");
  }
  return PixelWrapper{values[0], values[1]};
}

std::string bundleFrom(const Arguments& parsed) {
  const auto dir = parsed.value("--bundle");
  if (!dir) return std::string();  // no bundle: no default containers
  std::error_code ec;
  if (!std::filesystem::is_directory(*dir, ec)) {
    throw UsageError("--bundle " + *dir + ": not a directory");
  }
  return *dir;
}

}  // namespace

int runWithContainerId(const Arguments& parsed) {
  if (!parsed.positionals().empty()) {
    throw UsageError("--container-id runs without a CONTAINER file");
  }
  if (parsed.value("--as"))
    throw UsageError("--as reads a CONTAINER file; not with --container-id");
  ManagerSteps::Options options;
  options.containerId = *parsed.value("--container-id");
  if (options.containerId.empty()) throw UsageError("--container-id must not be empty");
  const MOXRefreshMode mode = refreshModeFrom(parsed);
  const auto server = containerServerFrom(parsed, mode);
  const auto clockStart = clockStartFrom(parsed);
  const std::string bundle = bundleFrom(parsed);
  const auto endpoints = collectorEndpointsFrom(parsed);
  const auto pixelWrapper = pixelWrapperFrom(parsed);
  applyContainerLogLevel(parsed.value("--log-level"));
  options.tagHandlers = parsed.values("--tag-handler");
  for (const std::string& option : parsed.values("--macro-handler")) {
    options.macroHandlers.push_back(parseMacroHandlerOption(option));
  }
  std::ifstream stepsFile;
  if (const auto steps = parsed.value("--steps")) {
    stepsFile.open(*steps);
    if (!stepsFile) throw UsageError("cannot open --steps " + *steps);
  }

  // The manager takes the bundle in force when it is created.
  const RunDataRoot dataRoot(parsed.value("--data-dir"));
  auto platform = Platform::systemDefault();
  platform->directories = DataDirectories(dataRoot.path());
  platform->application.resourceDirectory = bundle;
  std::optional<SimulatedTime> simulated;
  std::optional<RealTimeWork> realTime;
  if (clockStart) {
    simulated.emplace(*clockStart);
    simulated->install(*platform);
  } else {
    realTime.emplace();
    realTime->install(*platform);
  }
  Platform::setCurrent(platform);
  // Read by the analytics facade when it is made, which the first "_qr" tag or dispatch does.
  if (endpoints) PLUCollectorEndpoints::setShared(*endpoints);

  const auto manager = MOXManager::instance();
  manager->setRefreshMode(mode);
  if (server) manager->setVeskServerAddress(*server);
  // After the manager, which gives the pixel dispatcher its network.
  if (pixelWrapper)
    MOXDispatcher::instance()->setWrapper(pixelWrapper->url, pixelWrapper->parameter);

  LineSink out(std::cout);
  ManagerSteps steps(manager, std::move(options), out, simulated ? &*simulated : nullptr);
  steps.start();
  JsonLinesReader reader(stepsFile.is_open() ? static_cast<std::istream&>(stepsFile) : std::cin);
  JsonLine line;
  while (reader.next(line)) steps.run(line);

  int status = kExitSuccess;
  if (realTime && !steps.waitForDispatches(kStartedWorkTimeout)) {
    std::cerr << "loomset run: a dispatch did not complete within " << kStartedWorkTimeout.count()
              << " seconds\n";
    status = kExitInvalid;
  }
  if (realTime && !realTime->waitUntilStartedWorkEnded(kStartedWorkTimeout)) {
    std::cerr << "loomset run: work the run started did not end within "
              << kStartedWorkTimeout.count() << " seconds\n";
    status = kExitInvalid;
  }
  steps.closeAll();
  return status;
}

}  // namespace loomset::tools
