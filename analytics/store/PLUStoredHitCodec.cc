#include "analytics/store/PLUStoredHitCodec.h"

#include <cstdint>

#include "foundation/PropertyListConversion.h"
#include "loomset/Collections.h"
#include "loomset/Scalars.h"

namespace loomset {

namespace {

constexpr char kFormatVersion = 0x01;
constexpr char kKindNull = 0;
constexpr char kKindText = 1;

void appendVarint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

bool readVarint(std::string_view& in, std::uint64_t* value) {
  std::uint64_t result = 0;
  for (int shift = 0; shift < 64 && !in.empty(); shift += 7) {
    const auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      *value = result;
      return true;
    }
  }
  return false;
}

bool readBytes(std::string_view& in, std::string_view* out) {
  std::uint64_t length = 0;
  if (!readVarint(in, &length) || length > in.size()) return false;
  *out = in.substr(0, static_cast<std::size_t>(length));
  in.remove_prefix(static_cast<std::size_t>(length));
  return true;
}

}  // namespace

std::string plu_encodeStoredParameters(const PLUHitMap& parameters) {
  std::string out;
  std::size_t size = 1;
  for (const auto& [key, value] : parameters) size += key.size() + (value ? value->size() : 0) + 6;
  out.reserve(size);
  out.push_back(kFormatVersion);
  for (const auto& [key, value] : parameters) {
    appendVarint(out, key.size());
    out.append(key);
    if (!value) {
      out.push_back(kKindNull);
      continue;
    }
    out.push_back(kKindText);
    appendVarint(out, value->size());
    out.append(*value);
  }
  return out;
}

std::optional<PLUHitMap> plu_decodeStoredParameters(std::string_view bytes) {
  if (bytes.empty() || bytes.front() != kFormatVersion) return std::nullopt;
  bytes.remove_prefix(1);
  PLUHitMap parameters;
  while (!bytes.empty()) {
    std::string_view key;
    if (!readBytes(bytes, &key) || bytes.empty()) return std::nullopt;
    const char kind = bytes.front();
    bytes.remove_prefix(1);
    // Entries are written in key order, so each normally goes at the end: the hint makes that
    // insertion constant time, and any other order is still placed (and replaced) by key.
    if (kind == kKindNull) {
      parameters.insert_or_assign(parameters.end(), std::string(key), kPLUNullMarker);
    } else if (kind == kKindText) {
      std::string_view value;
      if (!readBytes(bytes, &value)) return std::nullopt;
      parameters.insert_or_assign(parameters.end(), std::string(key), std::string(value));
    } else {
      return std::nullopt;
    }
  }
  return parameters;
}

std::optional<PLUHitMap> plu_decodeLegacyParametersData(const std::string& bytes,
                                                        std::string* error) {
  std::string reason;
  const ObjectPtr root = objectFromPropertyListData(bytes, &reason, 8);
  if (!root) {
    if (error) *error = reason.empty() ? "not a property list" : reason;
    return std::nullopt;
  }
  if (root->kind() != ObjectKind::Dictionary) {
    if (error) *error = "the archived parameters are a " + root->className() + ", not a map";
    return std::nullopt;
  }
  PLUHitMap parameters;
  for (const auto& [key, value] : static_cast<const Dictionary&>(*root).entries()) {
    if (!key || key->kind() != ObjectKind::String || !value) continue;
    std::string name = "&" + static_cast<const String&>(*key).text();
    switch (value->kind()) {
      case ObjectKind::String:
        parameters.insert_or_assign(std::move(name), static_cast<const String&>(*value).text());
        break;
      case ObjectKind::Number:
        parameters.insert_or_assign(std::move(name), value->description());
        break;
      case ObjectKind::Null:
        parameters.insert_or_assign(std::move(name), kPLUNullMarker);
        break;
      default:
        break;
    }
  }
  return parameters;
}

}  // namespace loomset
