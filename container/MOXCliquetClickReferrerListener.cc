#include "container/MOXCliquetClickReferrerListener.h"

#include <optional>
#include <string>

#include "loomset/Objects.h"
#include "runtime/macros/MOXClickReferrerUtil.h"

namespace loomset {

namespace {

// The query of a URL text: after the first "?", up to a "#"; nothing without a "?".
std::optional<std::string> queryOf(const std::string& url) {
  const auto question = url.find('?');
  if (question == std::string::npos) return std::nullopt;
  const auto hash = url.find('#', question);
  return url.substr(question + 1,
                    hash == std::string::npos ? std::string::npos : hash - question - 1);
}

}  // namespace

void MOXCliquetClickReferrerListener::changed(const std::shared_ptr<Dictionary>& update) {
  if (!update) return;
  ObjectPtr url = update->objectForKey(std::string_view("wen.url"));
  if (!url) {
    Dictionary* wen = asDictionary(update->objectForKey(std::string_view("wen")));
    if (!wen) return;
    url = wen->objectForKey(std::string_view("url"));
    if (!url) return;
  }
  const String* text = asString(url);
  if (!text) return;
  const auto components =
      MOXClickReferrerUtil::parseComponentsFromQueryParameters(queryOf(text->text()));
  const auto referrer = components.find("referrer");
  if (referrer != components.end()) MOXClickReferrerUtil::addClickReferrer(referrer->second);
}

}  // namespace loomset
