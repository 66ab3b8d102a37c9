#include "Library/Util/MOXLogErrorCapture.h"

namespace loomset {
namespace {

thread_local MOXLogErrorCapture* currentCapture = nullptr;

}  // namespace

MOXLogErrorCapture::MOXLogErrorCapture() : enclosing_(currentCapture) {
  currentCapture = this;
}

MOXLogErrorCapture::~MOXLogErrorCapture() {
  currentCapture = enclosing_;
}

void MOXLogErrorCapture::noteError(const std::string& message) {
  MOXLogErrorCapture* capture = currentCapture;
  if (capture && !capture->firstError_) capture->firstError_ = message;
}

bool MOXLogErrorCapture::active() {
  return currentCapture != nullptr;
}

}  // namespace loomset
