#include "analytics/PLUUsageTracker.h"

#include <utility>

#include "Library/Util/platform/Mutex.h"

namespace loomset {
namespace {

struct Entry {
  std::string_view selector;
  char letter;
};

constexpr Entry kLetters[] = {
    {"set:forKey:", 'A'},
    {"setAll:", 'B'},
    {"dictionaryGet:", 'C'},
    {"setCampaignParametersFromUrl:", 'D'},
    {"get:", 'J'},
    {"set:value:", 'K'},
    {"send:", 'L'},
    {"setTrackUncaughtExceptions:", 'e'},
    {"trackUncaughtExceptions", 'f'},
    {"createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:", 'g'},
    {"createExceptionWithDescription:withFatal:", 'h'},
    {"createTimingWithCategory:interval:name:label:", 'j'},
    {"createSocialWithNetwork:action:target:", 'k'},
    {"trackerWithName:trackingId:", 'n'},
    {"defaultTracker", 'o'},
    {"setDefaultTracker:", 'p'},
    {"setOptOut:", 'q'},
    {"optOut", 'r'},
    {"dispatch", 's'},
    {"setDispatchInterval:", 't'},
    {"createEventWithCategory:action:label:value:", 'y'},
    {"createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:", 'z'},
    {"setDryRun:", '2'},
    {"dryRun", '3'},
    {"setLogger:", '4'},
    {"removeTrackerByName:", '7'},
    {"createScreenView", '9'},
    {"createAppView", '-'},
};

struct Sequence {
  Mutex mu;
  std::string letters GUARDED_BY(mu);
};

Sequence& sequence() {
  static Sequence s;
  return s;
}

}  // namespace

char PLUUsageTracker::letterForSelector(std::string_view selector) {
  for (const auto& e : kLetters) {
    if (e.selector == selector) return e.letter;
  }
  return '\0';
}

void PLUUsageTracker::trackAction(std::string_view selector) {
  const char letter = letterForSelector(selector);
  if (letter == '\0') return;
  auto& s = sequence();
  MutexLock lock(s.mu);
  s.letters.push_back(letter);
}

std::string PLUUsageTracker::getUsageSequence() {
  std::string taken;
  {
    auto& s = sequence();
    MutexLock lock(s.mu);
    taken.swap(s.letters);
  }
  if (taken.empty()) return "";
  return "." + taken;
}

}  // namespace loomset
