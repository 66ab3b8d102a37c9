// The system defaults of the application and device descriptions and of the data root. They are
// what the system-default bundle is built from, so they read the system's files through the
// system-default file system.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Library/Util/platform/DefaultServices.h"
#include "Library/Util/platform/SystemInfoParsing.h"
#include "loomset/platform/DeviceInfo.h"
#include "loomset/platform/Platform.h"

namespace loomset {

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string trimmedLine(std::string text) {
  const auto end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

std::string executableDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return ".";
  path.resize(static_cast<size_t>(n));
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

ApplicationInfo ApplicationInfo::systemDefault() {
  ApplicationInfo info;
  info.name = trimmedLine(defaultFileSystem()->readFile("/proc/self/comm").value_or(""));
  if (info.name.empty()) info.name = "application";
  info.identifier = "org.loomset." + info.name;
  info.shortVersion = "1.0";
  info.resourceDirectory = executableDirectory();
  return info;
}

DeviceInfo DeviceInfo::systemDefault() {
  DeviceInfo info;
  struct utsname names {};
  if (::uname(&names) == 0) {
    info.model = names.machine;
    info.systemVersion = systeminfo::kernelVersion(names.release);
  }
  if (info.model.empty()) info.model = "unknown";

  std::string osName;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    if (auto content = defaultFileSystem()->readFile(path)) {
      osName = systeminfo::osReleaseName(*content);
      break;
    }
  }
  info.systemName = osName.empty() ? "Linux" : osName;

  // There is no portable way to ask for the display a library's process is shown on, so the
  // screen is a plausible laptop default that applications replace with what they know.
  info.screenWidth = 1280;
  info.screenHeight = 800;
  info.screenScale = 1;

  const systeminfo::LocaleEnvironment env{environment("LANGUAGE"), environment("LC_ALL"),
                                          environment("LC_MESSAGES"), environment("LANG")};
  info.preferredLanguages = systeminfo::preferredLanguages(env);
  const auto locale = systeminfo::effectiveLocale(env);
  info.localeLanguage = locale.language;
  info.localeCountry = locale.country;
  return info;
}

DataDirectories DataDirectories::systemDefault(const ApplicationInfo& app) {
  return DataDirectories(
      systeminfo::dataRoot(environment("XDG_DATA_HOME"), environment("HOME"), app.identifier));
}

}  // namespace loomset
