#include "Library/Util/platform/SystemInfoParsing.h"

#include <algorithm>
#include <cctype>

namespace loomset::systeminfo {

namespace {

bool allOf(std::string_view s, int (*pred)(int)) {
  return std::all_of(s.begin(), s.end(),
                     [pred](char c) { return pred(static_cast<unsigned char>(c)) != 0; });
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool isPosixLocale(std::string_view name) {
  const auto base = name.substr(0, name.find_first_of(".@"));
  return base == "C" || base == "POSIX";
}

std::optional<LocaleName> firstUsable(const LocaleEnvironment& env) {
  for (const std::string* name : {&env.lcAll, &env.lcMessages, &env.lang}) {
    if (name->empty()) continue;
    // The first variable that is set decides, even when it names the "C" locale.
    return parseLocaleName(*name);
  }
  return std::nullopt;
}

}  // namespace

std::optional<LocaleName> parseLocaleName(std::string_view name) {
  name = trim(name);
  name = name.substr(0, name.find_first_of(".@"));
  if (name.empty() || isPosixLocale(name)) return std::nullopt;
  const auto separator = name.find_first_of("_-");
  const auto language = name.substr(0, separator);
  if (language.size() < 2 || language.size() > 3 || !allOf(language, std::isalpha)) {
    return std::nullopt;
  }
  LocaleName out{lower(language), ""};
  if (separator != std::string_view::npos) {
    const auto country = name.substr(separator + 1);
    // Two letters, or a three-digit region like "419"; anything else is left out.
    if ((country.size() == 2 && allOf(country, std::isalpha)) ||
        (country.size() == 3 && allOf(country, std::isdigit))) {
      out.country = upper(country);
    }
  }
  return out;
}

std::string languageTag(const LocaleName& locale) {
  return locale.country.empty() ? locale.language : locale.language + "-" + locale.country;
}

LocaleName effectiveLocale(const LocaleEnvironment& env) {
  if (auto locale = firstUsable(env)) return *locale;
  return LocaleName{"en", "US"};
}

std::vector<std::string> preferredLanguages(const LocaleEnvironment& env) {
  std::vector<std::string> out;
  auto add = [&out](const LocaleName& locale) {
    auto tag = languageTag(locale);
    if (std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(std::move(tag));
  };
  const auto locale = firstUsable(env);
  if (locale) {
    std::string_view list = env.language;
    while (!list.empty()) {
      const auto colon = list.find(':');
      if (auto entry = parseLocaleName(list.substr(0, colon))) add(*entry);
      list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    add(*locale);
  }
  if (out.empty()) out.push_back("en-US");
  return out;
}

std::string osReleaseName(std::string_view content) {
  while (!content.empty()) {
    const auto newline = content.find('\n');
    auto line = trim(content.substr(0, newline));
    content = newline == std::string_view::npos ? std::string_view() : content.substr(newline + 1);
    if (line.substr(0, 5) != "NAME=") continue;
    auto value = trim(line.substr(5));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      out += value[i];
    }
    return out;
  }
  return "";
}

std::string kernelVersion(std::string_view release) {
  size_t end = 0;
  while (end < release.size() &&
         (std::isdigit(static_cast<unsigned char>(release[end])) || release[end] == '.')) {
    ++end;
  }
  while (end > 0 && release[end - 1] == '.') --end;
  return end == 0 ? std::string(release) : std::string(release.substr(0, end));
}

std::string dataRoot(std::string_view xdgDataHome, std::string_view home,
                     std::string_view identifier) {
  std::string base;
  // Relative values are invalid by the XDG rules and would depend on the working directory.
  if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
    base = std::string(xdgDataHome);
  } else if (!home.empty() && home.front() == '/') {
    base = std::string(home) + "/.local/share";
  } else {
    base = "/tmp";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();

  std::string component;
  for (char c : identifier) {
    component += (c == '/' || c == '\0') ? '_' : c;
  }
  if (component.empty() || component == "." || component == "..") component = "default";
  return base + "/loomset/" + component;
}

}  // namespace loomset::systeminfo
