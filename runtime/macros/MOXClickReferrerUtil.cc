#include "runtime/macros/MOXClickReferrerUtil.h"

#include <memory>
#include <vector>

#include "Library/Util/platform/Mutex.h"
#include "foundation/MOXPropertyListUtil.h"
#include "loomset/MOXLog.h"
#include "loomset/Objects.h"
#include "values/MOXValueEscapeUtil.h"

namespace loomset {

namespace {

constexpr char kFileName[] = "ClickReferrer";
constexpr char kConversionIdComponent[] = "conv";

// Conversion id -> referrer; absent until first needed.
struct Cache {
  Mutex mu;
  std::shared_ptr<Dictionary> referrers GUARDED_BY(mu);
};

Cache& cache() {
  static Cache* const instance = new Cache();
  return *instance;
}

// Every piece, the empty ones too.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::shared_ptr<Dictionary> readFile() {
  ObjectPtr stored = MOXPropertyListUtil::readPropertyList(kFileName);
  if (!asDictionary(stored)) return nullptr;
  return std::static_pointer_cast<Dictionary>(stored);
}

std::optional<std::string> textFor(const std::shared_ptr<Dictionary>& referrers,
                                   const std::string& conversionId) {
  if (!referrers) return std::nullopt;
  if (const String* text = asString(referrers->objectForKey(std::string_view(conversionId)))) {
    return text->text();
  }
  return std::nullopt;
}

}  // namespace

std::map<std::string, std::string> MOXClickReferrerUtil::parseComponentsFromQueryParameters(
    const std::optional<std::string>& query) {
  std::map<std::string, std::string> components;
  if (!query) return components;
  for (const std::string& piece : split(*query, '&')) {
    const auto parts = split(piece, '=');
    std::optional<std::string> key, value;
    if (parts.size() == 2) {
      key = MOXValueEscapeUtil::urlDecode(parts[0]);
      value = MOXValueEscapeUtil::urlDecode(parts[1]);
    }
    if (!key || !value) {
      MOXLog::warning("Invalid component: " + piece);
      continue;
    }
    components[*key] = *value;
  }
  return components;
}

std::optional<std::string> MOXClickReferrerUtil::extractComponent(
    const std::optional<std::string>& component, const std::optional<std::string>& referrer) {
  if (!referrer) return std::nullopt;
  if (component) {
    const auto components = parseComponentsFromQueryParameters(referrer);
    const auto it = components.find(*component);
    if (it == components.end()) return std::nullopt;
    return it->second;
  }
  if (referrer->empty()) return std::nullopt;
  return referrer;
}

void MOXClickReferrerUtil::addClickReferrer(const std::string& referrer) {
  const auto conversionId = extractComponent(kConversionIdComponent, referrer);
  if (!conversionId || conversionId->empty()) return;
  std::shared_ptr<Dictionary> snapshot;
  {
    Cache& c = cache();
    MutexLock lock(c.mu);
    if (!c.referrers) {
      c.referrers = readFile();
      if (!c.referrers) c.referrers = Dictionary::create();
    }
    c.referrers->setObject(String::create(referrer), std::string_view(*conversionId));
    snapshot = c.referrers->copy();
  }
  MOXPropertyListUtil::writePropertyListAsync(kFileName, snapshot);
}

std::optional<std::string> MOXClickReferrerUtil::clickReferrerForConversionId(
    const std::string& conversionId, const std::optional<std::string>& component) {
  std::optional<std::string> referrer;
  {
    Cache& c = cache();
    MutexLock lock(c.mu);
    referrer = textFor(c.referrers, conversionId);
    if (!referrer) {
      referrer = textFor(readFile(), conversionId);
      if (!referrer) referrer = std::string();
      if (c.referrers) c.referrers->setObject(String::create(*referrer), conversionId);
    }
  }
  return extractComponent(component, referrer);
}

void MOXClickReferrerUtil::clearCache() {
  Cache& c = cache();
  MutexLock lock(c.mu);
  c.referrers.reset();
}

}  // namespace loomset
