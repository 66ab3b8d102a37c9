#include "Library/Util/MOXDispatchUtil.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "loomset/MOXManagerVersion.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::shared_ptr<EventLoop> MOXDispatchUtil::sharedThread() {
  return Platform::current()->containerWorker;
}

EventLoop& MOXDispatchUtil::thread() {
  return *sharedThread();
}

void MOXDispatchUtil::background(std::function<void()> block, bool wait) {
  const std::shared_ptr<EventLoop> worker = sharedThread();
  if (worker->isCurrent()) {
    if (block) block();
    return;
  }
  if (!block) return;
  if (wait) {
    worker->postAndWait(std::move(block));
  } else {
    worker->post(std::move(block));
  }
}

std::optional<std::string> MOXDispatchUtil::databaseFullPath(const std::string& fileName) {
  const auto platform = Platform::current();
  if (!platform || platform->directories.root().empty()) return std::nullopt;
  return platform->directories.libraryDirectory() + "/" + fileName;
}

std::optional<std::string> MOXDispatchUtil::databaseFullURL(const std::string& fileName) {
  auto path = databaseFullPath(fileName);
  if (!path) return std::nullopt;
  return "file://" + *path;
}

std::string MOXDispatchUtil::userAgentString() {
  const auto platform = Platform::current();
  const DeviceInfo& device = platform->device;
  // Preferred languages may carry a region ("en-US"); the agent names the country separately,
  // so only the language subtag goes before the "-".
  std::string language = systemLanguageFromLanguages(device.preferredLanguages);
  language = language.substr(0, language.find_first_of("-_"));
  return userAgentStringWithProduct(kMOXManagerProduct, kMOXManagerVersion, device.model,
                                    device.systemName, device.systemVersion, language,
                                    systemCountryFromLocale(device.localeCountry));
}

std::string MOXDispatchUtil::userAgentStringWithProduct(
    const std::string& product, const std::string& version, const std::string& deviceModel,
    const std::string& systemName, const std::string& systemVersion,
    const std::string& systemLanguage, const std::string& systemCountry) {
  return product + "/" + version + " (" + deviceModel + "; U; CPU " + systemName + " " +
         systemVersion + " like Mac OS X; " + systemLanguage + "-" + systemCountry + ")";
}

std::string MOXDispatchUtil::systemLanguageFromLanguages(
    const std::vector<std::string>& languages) {
  if (languages.empty()) return "en";
  return lowerCase(languages.front());
}

std::string MOXDispatchUtil::systemCountryFromLocale(const std::string& localeCountry) {
  return lowerCase(localeCountry);
}

}  // namespace loomset
