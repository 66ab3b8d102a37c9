// The record model of the pixel hit store: one pending pixel hit of the entity "MOXHit" with its
// five attributes. Times are seconds since 1970 (the wall clock of the platform bundle).
//
// A plain value; copies are independent of the store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace loomset {

inline constexpr char kMOXHitEntity[] = "MOXHit";
inline constexpr char kMOXDispatchURLField[] = "dispatchURL";
inline constexpr char kMOXTimestampField[] = "timestamp";
inline constexpr char kMOXDispatchTimeField[] = "dispatchTime";
inline constexpr char kMOXRetryCountField[] = "retryCount";
inline constexpr char kMOXLastDispatchTimeField[] = "lastDispatchTime";
inline constexpr char kDatastoreFilename[] = "WEN.sql";

struct MOXHit {
  // The row that holds the hit; what deletions and updates name.
  std::int64_t rowId = 0;
  std::optional<std::string> dispatchURL;
  // When the hit was created.
  std::optional<double> timestamp;
  // When its first attempt failed (nothing until then).
  std::optional<double> dispatchTime;
  // Part of the schema, never written.
  std::int16_t retryCount = 0;
  // When its latest attempt failed.
  std::optional<double> lastDispatchTime;
};

}  // namespace loomset
