// A tracker: a named set of persistent hit fields (tracking id, screen name, ...) that every hit
// sent through it carries. `send` merges the tracker's fields, the computed device and
// application fields and the hit's own fields, applies the tracker's rate limit (60 hits, then
// one every two seconds; transactions and items are never throttled) and queues the hit for
// dispatch. Trackers are created and owned by the `PLU` facade; callers may keep a handle.
//
// Threads: every operation may be called from any thread; one tracker serialises its own calls.
#pragma once

#include <string>

#include "loomset/Export.h"
#include "loomset/PLUHitMap.h"

namespace loomset {

class LOOMSET_EXPORT PLUTracker {
 public:
  virtual ~PLUTracker() = default;
  PLUTracker(const PLUTracker&) = delete;
  PLUTracker& operator=(const PLUTracker&) = delete;

  virtual const std::string& name() const = 0;
  virtual bool allowIDFACollection() const = 0;
  virtual void setAllowIDFACollection(bool allow) = 0;
  // A persistent field; nil stores the null marker, which keeps a computed field of the same key
  // ("&sr", "&cid", ...) off this tracker's hits (an empty "&cid" falls back to the client id).
  virtual void set(const std::string& key, PLUHitValue value) = 0;
  // The field's text, including computed fields ("&cid" is the client id); nil when absent or
  // the null marker.
  virtual PLUHitValue get(const std::string& key) = 0;
  virtual void send(const PLUHitMap& parameters) = 0;

  // The same operations without recording API usage, for the library's own callers.
  virtual void plu_set(const std::string& key, PLUHitValue value) = 0;
  virtual PLUHitValue plu_get(const std::string& key) = 0;
  virtual void plu_send(const PLUHitMap& parameters) = 0;

 protected:
  PLUTracker() = default;
};

}  // namespace loomset
