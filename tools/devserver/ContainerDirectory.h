// The development server's container endpoint: "/r?id=ID&v=VERSION[&pv=FINGERPRINT]", answered
// as a container server answers it, from serving resources (MOXPResource, as `loomset compile`
// writes them) kept in one directory under the name ID or ID.pb.
//
// - 200 with a MOXPLegacyRawProtoSupplementedResource holding the resource and its fingerprint;
// - 200 with the fingerprint alone when "pv" names the current fingerprint (the container keeps
//   what it has);
// - 404 for an id without a file (and for ids that could not name one: empty, starting with a
//   dot, or holding anything but letters, digits, "-", "_" and ".");
// - 400 without "id", 405 for another method than GET, 500 for a file that is no resource.
//
// A preview fetch ("/r?id=ID&wen_auth=A&wen_preview=N&v=...", any request with a "wen_preview"
// parameter) is answered the same way from ID.preview, the unpublished version, and with 404 when
// there is none; the published file is never served in its place, nor ID.preview to an ordinary
// fetch.
//
// The fingerprint is taken from the file's bytes, so recompiling a container changes it. Files
// are read on every request: what is on disk is what is served.
//
// Threads: `respond` is safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "tools/devserver/HttpServer.h"

namespace loomset::devserver {

class ContainerDirectory {
 public:
  explicit ContainerDirectory(std::string directory) : directory_(std::move(directory)) {}

  ServerResponse respond(const ServerRequest& request) const;
  const std::string& directory() const { return directory_; }

 private:
  const std::string directory_;
};

bool isServableContainerId(std::string_view id);
// The first 16 hex digits of the SHA-256 of the bytes.
std::string containerFingerprint(std::string_view bytes);

}  // namespace loomset::devserver
