#include "Library/Util/MOXBase64Encoder.h"

#include "Library/Util/MOXWENStringEncoding.h"

namespace loomset {

namespace {

// The shared instances are never changed after construction, so concurrent use is safe.
const MOXWENStringEncoding& base64(bool pad) {
  static const auto padded = MOXWENStringEncoding::rfc4648Base64StringEncoding();
  static const auto unpadded = [] {
    auto e = MOXWENStringEncoding::rfc4648Base64StringEncoding();
    e->setDoPad(false);
    return e;
  }();
  return pad ? *padded : *unpadded;
}

const MOXWENStringEncoding& webSafe(bool pad) {
  static const auto padded = MOXWENStringEncoding::rfc4648Base64WebsafeStringEncoding();
  static const auto unpadded = [] {
    auto e = MOXWENStringEncoding::rfc4648Base64WebsafeStringEncoding();
    e->setDoPad(false);
    return e;
  }();
  return pad ? *padded : *unpadded;
}

}  // namespace

std::string MOXBase64Encoder::encode(std::string_view bytes, bool noPadding) {
  return base64(!noPadding).encode(bytes);
}

std::string MOXBase64Encoder::encodeWebSafe(std::string_view bytes, bool noPadding) {
  return webSafe(!noPadding).encode(bytes);
}

std::optional<std::string> MOXBase64Encoder::decode(std::string_view text, bool noPadding) {
  return base64(!noPadding).decode(text);
}

std::optional<std::string> MOXBase64Encoder::decodeWebSafe(std::string_view text, bool noPadding) {
  return webSafe(!noPadding).decode(text);
}

}  // namespace loomset
