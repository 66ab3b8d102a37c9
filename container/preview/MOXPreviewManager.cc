#include "container/preview/MOXPreviewManager.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "Library/Util/platform/NoDestructor.h"
#include "loomset/MOXLog.h"

namespace loomset {
namespace {

constexpr char kEnterPattern[] =
    R"(^loomset.c.\S+:\/\/preview\/p\?id=[^&\s]+&wen_auth=\S+&wen_preview=\d+$)";
constexpr char kExitPattern[] = R"(^loomset.c.\S+:\/\/preview\/p\?id=[^&\s]+&wen_preview=$)";

// Compiled once; ICU patterns are immutable and shared by all threads.
class LinkPattern {
 public:
  explicit LinkPattern(const char* pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    pattern_.reset(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), 0, parseError, status));
    if (U_FAILURE(status)) pattern_.reset();
  }

  // The whole text matches.
  bool matches(const std::string& text) const {
    if (!pattern_) return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString subject = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(subject, status));
    if (U_FAILURE(status) || !matcher) return false;
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
  }

 private:
  std::unique_ptr<icu::RegexPattern> pattern_;
};

const LinkPattern& enterPattern() {
  static NoDestructor<LinkPattern> pattern(kEnterPattern);
  return *pattern;
}

const LinkPattern& exitPattern() {
  static NoDestructor<LinkPattern> pattern(kExitPattern);
  return *pattern;
}

// The link's query: after the first "?", up to a fragment.
std::string queryOf(const std::string& url) {
  const auto question = url.find('?');
  if (question == std::string::npos) return std::string();
  const auto fragment = url.find('#', question + 1);
  return url.substr(question + 1,
                    fragment == std::string::npos ? std::string::npos : fragment - question - 1);
}

}  // namespace

std::shared_ptr<MOXPreviewManager> MOXPreviewManager::instance() {
  static NoDestructor<std::shared_ptr<MOXPreviewManager>> manager(
      std::shared_ptr<MOXPreviewManager>(new MOXPreviewManager()));
  return *manager;
}

bool MOXPreviewManager::generatePreviewDataForUrl(const std::string& url) {
  if (url.empty()) return false;
  const std::string described = "Preview Url = " + url;
  MOXLog::info(described);
  const std::string query = queryOf(url);
  if (enterPattern().matches(url)) {
    MutexLock lock(mu_);
    previewMode_ = 1;
    urlPath_ = "/r?" + query;
    containerId_ = containerIdForQuery(query);
    return true;
  }
  if (exitPattern().matches(url)) {
    MutexLock lock(mu_);
    if (containerId_ && *containerId_ == containerIdForQuery(query)) {
      previewMode_ = 0;
      urlPath_.reset();
      return true;
    }
  }
  MOXLog::info("Not a loomset " + described);
  return false;
}

bool MOXPreviewManager::isPreviewingContainer(const std::string& containerId) const {
  MutexLock lock(mu_);
  return previewMode_ == 1 && containerId_ && *containerId_ == containerId;
}

void MOXPreviewManager::clear() {
  MutexLock lock(mu_);
  previewMode_ = 0;
  urlPath_.reset();
  containerId_.reset();
}

std::int64_t MOXPreviewManager::previewMode() const {
  MutexLock lock(mu_);
  return previewMode_;
}

std::optional<std::string> MOXPreviewManager::veskUrlPath() const {
  MutexLock lock(mu_);
  return urlPath_;
}

std::optional<std::string> MOXPreviewManager::containerId() const {
  MutexLock lock(mu_);
  return containerId_;
}

std::string MOXPreviewManager::containerIdForQuery(std::string_view query) {
  const std::string_view first = query.substr(0, query.find('&'));
  const auto equals = first.find('=');
  if (equals == std::string_view::npos) return std::string();
  const std::string_view rest = first.substr(equals + 1);
  return std::string(rest.substr(0, rest.find('=')));
}

}  // namespace loomset
