// Optional access to the platform's ad-attribution service, for the one-time install-campaign hit:
// when the platform bundle carries a provider and the installation is found to come from an ad
// campaign (within a day of the first start), each tracking id sends one "data" hit with campaign
// source "iAd". The provider is an optional member of the platform bundle
// (`Platform::adAttribution`); without one (the default) there is no such hit.
//
// Threads: the provider's functions are called on the analytics worker thread and must not block;
// they answer through their reply, once, from any thread.
#pragma once

#include <functional>
#include <optional>

#include "loomset/Export.h"

namespace loomset {

struct LOOMSET_EXPORT PLUAdAttributionProvider {
  // Dates in seconds since 1970; the installation is attributed when the impression date exists.
  using ConversionDetailsReply =
      std::function<void(std::optional<double> clickDate, std::optional<double> impressionDate)>;
  using AttributionReply = std::function<void(bool attributed)>;

  // Either may be left empty; the first that is set is asked.
  std::function<void(ConversionDetailsReply)> lookupAdConversionDetails;
  std::function<void(AttributionReply)> determineAppInstallationAttribution;
};

}  // namespace loomset
