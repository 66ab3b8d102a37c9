#include <gtest/gtest.h>

#include <errno.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Library/Util/platform/SystemInfoParsing.h"
#include "loomset/platform/DeviceInfo.h"
#include "loomset/platform/Platform.h"

namespace loomset {
namespace {

using namespace systeminfo;

TEST(SystemInfo, ParsesLocaleNames) {
  struct Case {
    const char* name;
    const char* tag;  // nullptr when the name is not usable
  };
  const Case cases[] = {
      {"en_US.UTF-8", "en-US"},
      {"de_DE@euro", "de-DE"},
      {"fr", "fr"},
      {"pt_BR", "pt-BR"},
      {"es_419", "es-419"},
      {"EN_us", "en-US"},
      {"zh-TW", "zh-TW"},
      {"ast_ES", "ast-ES"},
      {"nl_NLX", "nl"},
      {"C", nullptr},
      {"C.UTF-8", nullptr},
      {"POSIX", nullptr},
      {"", nullptr},
      {"e_US", nullptr},
      {"12_US", nullptr},
      {"english_US", nullptr},
  };
  for (const auto& c : cases) {
    const auto parsed = parseLocaleName(c.name);
    if (c.tag == nullptr) {
      EXPECT_FALSE(parsed.has_value()) << c.name;
    } else {
      ASSERT_TRUE(parsed.has_value()) << c.name;
      EXPECT_EQ(languageTag(*parsed), c.tag) << c.name;
    }
  }
}

TEST(SystemInfo, PreferredLanguagesAndLocaleFollowTheLocaleVariables) {
  // LC_ALL wins over LC_MESSAGES and LANG; LANGUAGE lists come first, without repeats.
  LocaleEnvironment env{"fr_FR:de:en_GB", "en_GB.UTF-8", "it_IT", "es_ES"};
  EXPECT_EQ(preferredLanguages(env), (std::vector<std::string>{"fr-FR", "de", "en-GB"}));
  EXPECT_EQ(effectiveLocale(env).language, "en");
  EXPECT_EQ(effectiveLocale(env).country, "GB");

  env = {"", "", "", "pt_BR.UTF-8"};
  EXPECT_EQ(preferredLanguages(env), (std::vector<std::string>{"pt-BR"}));
  EXPECT_EQ(effectiveLocale(env).country, "BR");

  // LANGUAGE is ignored under the C locale, as gettext does; nothing usable means en-US.
  env = {"fr_FR", "C", "", "de_DE"};
  EXPECT_EQ(preferredLanguages(env), (std::vector<std::string>{"en-US"}));
  EXPECT_EQ(effectiveLocale(env).language, "en");
  EXPECT_EQ(effectiveLocale(env).country, "US");
  env = {};
  EXPECT_EQ(preferredLanguages(env), (std::vector<std::string>{"en-US"}));

  // Malformed list entries are skipped; a locale without a country has an empty one.
  env = {"::1x_YY:nl", "", "", "sv"};
  EXPECT_EQ(preferredLanguages(env), (std::vector<std::string>{"nl", "sv"}));
  EXPECT_EQ(effectiveLocale(env).country, "");
}

TEST(SystemInfo, ReadsOsReleaseNameAndKernelVersion) {
  EXPECT_EQ(osReleaseName("PRETTY_NAME=\"Debian GNU/Linux 12\"\nNAME=\"Debian GNU/Linux\"\n"),
            "Debian GNU/Linux");
  EXPECT_EQ(osReleaseName("ID=arch\nNAME=Arch\n"), "Arch");
  EXPECT_EQ(osReleaseName("NAME='Quoted \\\"One\\\"'"), "Quoted \"One\"");
  EXPECT_EQ(osReleaseName("PRETTY_NAME=x\nID=y\n"), "");
  EXPECT_EQ(osReleaseName(""), "");

  EXPECT_EQ(kernelVersion("6.1.0-18-amd64"), "6.1.0");
  EXPECT_EQ(kernelVersion("5.15.0"), "5.15.0");
  EXPECT_EQ(kernelVersion("4.19."), "4.19");
  EXPECT_EQ(kernelVersion("custom"), "custom");
}

TEST(SystemInfo, DataRootUsesXdgThenHomeAndKeepsTheIdentifierOneComponent) {
  EXPECT_EQ(dataRoot("/xdg/", "/home/u", "org.loomset.app"), "/xdg/loomset/org.loomset.app");
  EXPECT_EQ(dataRoot("", "/home/u", "org.loomset.app"),
            "/home/u/.local/share/loomset/org.loomset.app");
  EXPECT_EQ(dataRoot("relative", "/home/u", "a"), "/home/u/.local/share/loomset/a");
  EXPECT_EQ(dataRoot("", "", "a"), "/tmp/loomset/a");
  EXPECT_EQ(dataRoot("/x", "", "../../etc"), "/x/loomset/.._.._etc");
  EXPECT_EQ(dataRoot("/x", "", ".."), "/x/loomset/default");
  EXPECT_EQ(dataRoot("/x", "", ""), "/x/loomset/default");
}

TEST(SystemInfo, SystemDefaultsAreFilledIn) {
  const auto device = DeviceInfo::systemDefault();
  EXPECT_FALSE(device.model.empty());
  EXPECT_FALSE(device.systemName.empty());
  EXPECT_EQ(device.screenWidth, 1280);
  EXPECT_EQ(device.screenHeight, 800);
  EXPECT_EQ(device.screenScale, 1);
  EXPECT_FALSE(device.preferredLanguages.empty());
  EXPECT_FALSE(device.localeLanguage.empty());

  const auto app = ApplicationInfo::systemDefault();
  // The process name, as the kernel keeps it (15 characters at most).
  EXPECT_EQ(app.name, std::string(program_invocation_short_name).substr(0, 15));
  EXPECT_EQ(app.identifier, "org.loomset." + app.name);
  EXPECT_EQ(app.shortVersion, "1.0");
  // Resources are looked for beside the executable.
  EXPECT_TRUE(std::filesystem::exists(app.resourceDirectory + "/" + program_invocation_short_name));

  const auto dirs = DataDirectories::systemDefault(app);
  EXPECT_NE(dirs.root().find("/loomset/" + app.identifier), std::string::npos);
  EXPECT_EQ(dirs.libraryDirectory(), dirs.root() + "/Library");
  EXPECT_EQ(dirs.documentsDirectory(), dirs.root() + "/Documents");
}

}  // namespace
}  // namespace loomset
