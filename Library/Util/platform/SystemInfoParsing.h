// Pure readers of the texts the system describes itself with (locale variables, os-release,
// kernel release, data directory variables), kept apart from the reads so tests can feed them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loomset/Export.h"

namespace loomset::systeminfo {

struct LocaleName {
  std::string language;  // lower case, like "en"
  std::string country;   // upper case, like "US"; empty when the name has none
};

// "en_US.UTF-8@euro" gives {"en", "US"}. "C", "POSIX", empty and malformed names give nothing.
LOOMSET_EXPORT std::optional<LocaleName> parseLocaleName(std::string_view name);

// "en-US", or "en" without a country.
LOOMSET_EXPORT std::string languageTag(const LocaleName& locale);

// The locale variables, as read from the environment (empty when unset).
struct LocaleEnvironment {
  std::string language;  // LANGUAGE: a colon-separated priority list
  std::string lcAll;     // LC_ALL
  std::string lcMessages;
  std::string lang;
};

// The locale in force: LC_ALL, else LC_MESSAGES, else LANG; "en" / "US" when none is usable.
LOOMSET_EXPORT LocaleName effectiveLocale(const LocaleEnvironment& env);

// LANGUAGE's entries (ignored under the "C" locale, as gettext does) followed by the locale in
// force, as tags like "en-US", without repeats. Never empty: {"en-US"} when nothing is usable.
LOOMSET_EXPORT std::vector<std::string> preferredLanguages(const LocaleEnvironment& env);

// The NAME entry of an os-release file, unquoted; empty when absent.
LOOMSET_EXPORT std::string osReleaseName(std::string_view content);

// The leading dotted number of a kernel release: "6.1.0-18-amd64" gives "6.1.0". The whole text
// when it does not start with a digit.
LOOMSET_EXPORT std::string kernelVersion(std::string_view release);

// $XDG_DATA_HOME (or $HOME/.local/share, or the temporary directory when neither is set) +
// "/loomset/" + the identifier made safe as one path component.
LOOMSET_EXPORT std::string dataRoot(std::string_view xdgDataHome, std::string_view home,
                                    std::string_view identifier);

}  // namespace loomset::systeminfo
