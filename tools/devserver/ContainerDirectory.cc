#include "tools/devserver/ContainerDirectory.h"

#include <openssl/sha.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "loomset/proto/serving.pb.h"
#include "tools/devserver/Collector.h"

namespace loomset::devserver {
namespace {

constexpr std::size_t kMaxContainerBytes = 64 * 1024 * 1024;

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return bytes.str();
}

ServerResponse protobuf(const MOXPLegacyRawProtoSupplementedResource& message) {
  ServerResponse response;
  response.contentType = "application/x-protobuf";
  message.SerializeToString(&response.body);
  return response;
}

}  // namespace

bool isServableContainerId(std::string_view id) {
  if (id.empty() || id.size() > 200 || id.front() == '.') return false;
  for (const char c : id) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

std::string containerFingerprint(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0xF];
  }
  return text;
}

ServerResponse ContainerDirectory::respond(const ServerRequest& request) const {
  if (request.method != "GET") return ServerResponse::text(405, "\"/r\" takes GET\n");
  const Json query = decodeQuery(request.query);
  if (!query.contains("id")) return ServerResponse::text(400, "\"/r\" needs an id\n");
  const std::string& id = query.at("id").get_ref<const std::string&>();
  if (!isServableContainerId(id)) {
    return ServerResponse::text(404, "no container \"" + id + "\"\n");
  }

  // A preview fetch carries the preview link's parameters ("wen_auth", "wen_preview") and is
  // answered with the unpublished version only; there is no fallback to the published one.
  const bool preview = query.contains("wen_preview");
  constexpr std::string_view kPreviewSuffix = ".preview";
  if (!preview && id.size() >= kPreviewSuffix.size() &&
      id.compare(id.size() - kPreviewSuffix.size(), kPreviewSuffix.size(), kPreviewSuffix) == 0) {
    return ServerResponse::text(404, "no container \"" + id + "\"\n");
  }
  const std::vector<const char*> suffixes =
      preview ? std::vector<const char*>{".preview"} : std::vector<const char*>{"", ".pb"};
  std::optional<std::string> bytes;
  std::string path;
  for (const char* suffix : suffixes) {
    path = directory_ + "/" + id + suffix;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) continue;
    bytes = readFile(path);
    if (bytes) break;
  }
  if (!bytes) {
    return ServerResponse::text(
        404, std::string(preview ? "no preview of container \"" : "no container \"") + id + "\"\n");
  }
  if (bytes->size() > kMaxContainerBytes) {
    return ServerResponse::text(500, path + " is too large to serve\n");
  }

  MOXPLegacyRawProtoSupplementedResource answer;
  answer.set_fingerprint(containerFingerprint(*bytes));
  if (query.contains("pv") && query.at("pv") == answer.fingerprint()) return protobuf(answer);

  MOXPResource* resource = answer.mutable_resource();
  if (!resource->ParsePartialFromString(*bytes)) {
    return ServerResponse::text(
        500, path + " is not a serving resource (compile it with `loomset compile`)\n");
  }
  if (!resource->IsInitialized()) {
    return ServerResponse::text(500, path + " is an incomplete serving resource (missing " +
                                         resource->InitializationErrorString() + ")\n");
  }
  return protobuf(answer);
}

}  // namespace loomset::devserver
