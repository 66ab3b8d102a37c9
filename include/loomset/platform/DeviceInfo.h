// What the library knows about the application and the device it runs on. Defaults are read
// from the system (uname, /etc/os-release, LANG); applications and tests override any field.
//
// Threads: plain values; copy them freely. The system defaults read the environment, so call
// them while no other thread changes it.
#pragma once

#include <string>
#include <vector>

#include "loomset/Export.h"

namespace loomset {

struct LOOMSET_EXPORT ApplicationInfo {
  // Where default containers shipped with the application are found.
  std::string resourceDirectory;
  std::string name;
  std::string identifier;
  std::string shortVersion;

  // Name from /proc/self/comm, identifier "org.loomset.<name>", version "1.0", resources in the
  // executable's directory.
  static ApplicationInfo systemDefault();
};

struct LOOMSET_EXPORT DeviceInfo {
  std::string model;          // hardware machine name, like "x86_64"
  std::string systemName;     // like "Linux" or the os-release NAME
  std::string systemVersion;  // like "6.1.0"
  double screenWidth = 0;     // in points
  double screenHeight = 0;
  double screenScale = 1;
  std::vector<std::string> preferredLanguages;  // like {"en-US", "en"}
  std::string localeLanguage;                   // like "en"
  std::string localeCountry;                    // like "US"; empty when the locale names none

  // The machine and kernel from uname; the system name from os-release; languages from LANGUAGE
  // then LC_ALL, LC_MESSAGES or LANG ({"en-US"} and en/US when none is usable). The screen cannot
  // be known by a library, so it defaults to 1280x800 points at scale 1: applications that know
  // their display set it.
  static DeviceInfo systemDefault();
};

}  // namespace loomset
