// What the C interface's opaque handles hold: a shared reference to the library's object, so a
// handle stays valid however the library or other handles come and go.
#pragma once

#include <memory>

#include "loomset/MOXContainer.h"
#include "loomset/PLUTracker.h"

struct loomset_container {
  std::shared_ptr<loomset::MOXContainer> container;
};

struct loomset_tracker {
  std::shared_ptr<loomset::PLUTracker> tracker;
};
