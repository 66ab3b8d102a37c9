// The screen helper: an application calls `viewDidAppear` whenever the screen it stands for
// becomes visible, and a screen view with the screen's name goes out through its tracker (or the
// facade's default tracker). The screen name stays set on that tracker as "&cd".
//
// Threads: one screen object is used from one thread (usually the UI thread).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "loomset/Export.h"
#include "loomset/PLUTracker.h"

namespace loomset {

class LOOMSET_EXPORT PLUTrackedViewController {
 public:
  PLUTrackedViewController() = default;
  explicit PLUTrackedViewController(std::string screenName) : screenName_(std::move(screenName)) {}
  virtual ~PLUTrackedViewController() = default;

  const std::optional<std::string>& screenName() const { return screenName_; }
  void setScreenName(std::optional<std::string> name) { screenName_ = std::move(name); }
  // Nil means the shared facade's default tracker at the time the screen appears (none before
  // the application first used `PLU::sharedInstance()`).
  const std::shared_ptr<PLUTracker>& tracker() const { return tracker_; }
  void setTracker(std::shared_ptr<PLUTracker> tracker) { tracker_ = std::move(tracker); }

  // Sends the screen view; without a screen name only logs that it is missing.
  virtual void viewDidAppear(bool animated);

 private:
  std::optional<std::string> screenName_;
  std::shared_ptr<PLUTracker> tracker_;
};

}  // namespace loomset
