// The development server's pieces in process: undoing the dispatcher's encodings, the collector's
// records and "/hits", and the container endpoint's answers.
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loomset/proto/serving.pb.h"
#include "support/TempDir.h"
#include "tools/ToolProcess.h"
#include "tools/devserver/Collector.h"
#include "tools/devserver/ContainerDirectory.h"
#include "tools/devserver/HitDecoding.h"

namespace loomset::devserver {
namespace {

// windowBits as zlib takes them: 16 + 15 gzip, 15 zlib, -15 raw.
std::string compress(const std::string& text, int windowBits) {
  z_stream stream{};
  EXPECT_EQ(
      deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
      Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

ServerRequest request(std::string method, std::string target, std::string body = "",
                      HeaderList headers = {}) {
  ServerRequest r;
  r.method = std::move(method);
  r.target = std::move(target);
  const auto q = r.target.find('?');
  r.path = r.target.substr(0, q);
  if (q != std::string::npos) r.query = r.target.substr(q + 1);
  r.body = std::move(body);
  r.headers = std::move(headers);
  return r;
}

TEST(DevServerDecoding, FormDecodingKeepsWhatItCannotDecode) {
  EXPECT_EQ(formUrlDecode("a+b%20c%2Bd"), "a b c+d");
  EXPECT_EQ(formUrlDecode("caf%C3%A9"), "caf\xC3\xA9");
  EXPECT_EQ(formUrlDecode("100%"), "100%");
  EXPECT_EQ(formUrlDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(formUrlDecode("%41%4a%4A"), "AJJ");

  const Json hit = decodeHitText("v=1&t=event&&ec=a%26b&exf&ea=x%3Dy&t=screenview");
  EXPECT_EQ(hit.dump(), R"({"v":"1","t":"screenview","ec":"a&b","exf":"","ea":"x=y"})");
  EXPECT_TRUE(decodeHitText("").empty());
}

TEST(DevServerDecoding, SplitsBodiesIntoHitLines) {
  EXPECT_EQ(splitHitLines("a=1\nb=2\r\n\n  \nc=3"),
            (std::vector<std::string_view>{"a=1", "b=2", "c=3"}));
  EXPECT_TRUE(splitHitLines("\n\r\n").empty());
}

TEST(DevServerDecoding, UndoesGzipAndBothKindsOfDeflate) {
  const std::string text = "v=1&t=event\nv=1&t=screenview";
  std::string error;
  EXPECT_EQ(decodeContent(compress(text, 16 + 15), "gzip", 1 << 20, error), text);
  EXPECT_EQ(decodeContent(compress(text, 16 + 15), " X-GZIP", 1 << 20, error), text);
  EXPECT_EQ(decodeContent(compress(text, 15), "deflate", 1 << 20, error), text);
  EXPECT_EQ(decodeContent(compress(text, -15), "deflate", 1 << 20, error), text);
  EXPECT_EQ(decodeContent(text, "", 1 << 20, error), text);
  EXPECT_EQ(decodeContent(text, "identity", 1 << 20, error), text);
}

TEST(DevServerDecoding, RefusesDamagedTruncatedUnknownAndOversizedBodies) {
  const std::string text(100000, 'a');
  const std::string gzip = compress(text, 16 + 15);
  std::string error;

  EXPECT_FALSE(decodeContent(gzip.substr(0, gzip.size() / 2), "gzip", 1 << 20, error));
  EXPECT_NE(error.find("not valid gzip"), std::string::npos) << error;
  EXPECT_FALSE(decodeContent("plainly not gzip", "gzip", 1 << 20, error));
  EXPECT_FALSE(decodeContent("", "gzip", 1 << 20, error));
  EXPECT_FALSE(decodeContent("not deflate either", "deflate", 1 << 20, error));

  // A small body must not be allowed to inflate without bound.
  EXPECT_FALSE(decodeContent(gzip, "gzip", 1000, error));
  EXPECT_NE(error.find("inflates beyond 1000"), std::string::npos) << error;
  EXPECT_FALSE(decodeContent(text, "", 1000, error));

  EXPECT_FALSE(decodeContent(text, "br", 1 << 20, error));
  EXPECT_NE(error.find("unsupported Content-Encoding"), std::string::npos) << error;
}

TEST(DevServerCollector, RecordsEveryHitOfEveryAcceptedRequest) {
  std::vector<Json> printed;
  Collector collector(10, [&](const Json& record) { printed.push_back(record); });

  EXPECT_EQ(collector.collect(request("GET", "/collect?v=1&t=screenview&cd=Home")).status, 200);
  EXPECT_EQ(collector.collect(request("POST", "/collect", "v=1&t=event&ea=tap")).status, 200);
  const std::string batch = "v=1&t=item&in=Shoe\nv=1&t=item&in=Sock\n";
  EXPECT_EQ(collector
                .collect(request("POST", "/batch", compress(batch, 16 + 15),
                                 {{"content-encoding", "gzip"}}))
                .status,
            200);

  ASSERT_EQ(printed.size(), 4u);
  EXPECT_EQ(
      printed[0].dump(),
      R"({"seq":1,"path":"/collect","method":"GET","params":{"v":"1","t":"screenview","cd":"Home"}})");
  EXPECT_EQ(printed[1]["params"]["ea"], "tap");
  EXPECT_EQ(printed[2]["path"], "/batch");
  EXPECT_EQ(printed[2]["params"]["in"], "Shoe");
  EXPECT_EQ(printed[3]["seq"], 4);
  EXPECT_EQ(printed[3]["params"]["in"], "Sock");
  EXPECT_EQ(collector.kept(), printed);
  EXPECT_EQ(collector.received(), 4u);
}

TEST(DevServerCollector, RefusesWhatIsNoHitAndRecordsNothingForIt) {
  int printed = 0;
  Collector collector(10, [&](const Json&) { ++printed; });
  EXPECT_EQ(collector.collect(request("GET", "/collect")).status, 400);
  EXPECT_EQ(collector.collect(request("GET", "/batch?v=1")).status, 405);
  EXPECT_EQ(collector.collect(request("PUT", "/collect", "v=1")).status, 405);
  EXPECT_EQ(collector.collect(request("POST", "/batch", "\n\n")).status, 400);
  EXPECT_EQ(collector.collect(request("POST", "/batch", "garbage", {{"Content-Encoding", "gzip"}}))
                .status,
            400);
  EXPECT_EQ(
      collector.collect(request("POST", "/batch", "v=1", {{"Content-Encoding", "zstd"}})).status,
      415);
  EXPECT_EQ(printed, 0);
  EXPECT_EQ(collector.received(), 0u);
}

TEST(DevServerCollector, KeepsTheLastHitsAndAnswersThemOnHits) {
  Collector collector(2, nullptr);
  for (const char* t : {"a", "b", "c"}) {
    collector.collect(request("GET", std::string("/collect?t=") + t));
  }
  const auto answer = collector.hits(request("GET", "/hits"));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.contentType, "application/json");
  const Json kept = Json::parse(answer.body);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0]["seq"], 2);
  EXPECT_EQ(kept[1]["params"]["t"], "c");

  // "clear=1" answers the records and drops them; numbering goes on.
  EXPECT_EQ(Json::parse(collector.hits(request("GET", "/hits?clear=1")).body).size(), 2u);
  EXPECT_EQ(Json::parse(collector.hits(request("GET", "/hits")).body), Json::array());
  collector.collect(request("GET", "/collect?t=d"));
  EXPECT_EQ(Json::parse(collector.hits(request("GET", "/hits?min=1")).body)[0]["seq"], 4);
  EXPECT_EQ(collector.hits(request("POST", "/hits")).status, 405);

  // A wait for more than there is ends at its timeout (or at once when shut down).
  collector.shutdown();
  EXPECT_EQ(Json::parse(collector.hits(request("GET", "/hits?min=5&timeout=60000")).body).size(),
            1u);
}

TEST(DevServerCollector, KeepingNothingStillPrints) {
  int printed = 0;
  Collector collector(0, [&](const Json&) { ++printed; });
  collector.collect(request("GET", "/collect?t=a"));
  EXPECT_EQ(printed, 1);
  EXPECT_TRUE(collector.kept().empty());
}

class DevServerContainers : public ::testing::Test {
 protected:
  DevServerContainers() : containers_(dir_.path()) {
    resource_.add_key("function");
    resource_.set_version("12");
    resource_.SerializeToString(&bytes_);
    testing::writeFile(dir_.file("GTM-SHOP"), bytes_);
    testing::writeFile(dir_.file("other.pb"), bytes_);
  }

  MOXPLegacyRawProtoSupplementedResource fetch(const std::string& target, int status = 200) {
    const ServerResponse response = containers_.respond(request("GET", target));
    EXPECT_EQ(response.status, status) << target << ": " << response.body;
    MOXPLegacyRawProtoSupplementedResource message;
    if (response.status == 200) {
      EXPECT_EQ(response.contentType, "application/x-protobuf");
      EXPECT_TRUE(message.ParseFromString(response.body));
    }
    return message;
  }

  testing::TempDir dir_;
  ContainerDirectory containers_;
  MOXPResource resource_;
  std::string bytes_;
};

TEST_F(DevServerContainers, ServesTheResourceWithAFingerprintOfItsBytes) {
  const auto full = fetch("/r?id=GTM-SHOP&v=i107577340");
  ASSERT_TRUE(full.has_resource());
  EXPECT_EQ(full.resource().version(), "12");
  EXPECT_EQ(full.resource().key(0), "function");
  EXPECT_EQ(full.supplemental_size(), 0);
  EXPECT_EQ(full.fingerprint(), containerFingerprint(bytes_));
  EXPECT_EQ(full.fingerprint().size(), 16u);

  // The same fingerprint means no change: no resource, the fingerprint alone.
  const auto same = fetch("/r?id=GTM-SHOP&v=i107577340&pv=" + full.fingerprint());
  EXPECT_FALSE(same.has_resource());
  EXPECT_EQ(same.fingerprint(), full.fingerprint());

  // Another one, or a blank one, gets the resource.
  EXPECT_TRUE(fetch("/r?id=GTM-SHOP&v=i107577340&pv=0123").has_resource());
  EXPECT_TRUE(fetch("/r?id=GTM-SHOP&v=i107577340&pv=").has_resource());

  // A recompiled container has a new fingerprint, so the old one gets the new resource.
  resource_.set_version("13");
  resource_.SerializeToString(&bytes_);
  testing::writeFile(dir_.file("GTM-SHOP"), bytes_);
  const auto changed = fetch("/r?id=GTM-SHOP&v=i107577340&pv=" + full.fingerprint());
  ASSERT_TRUE(changed.has_resource());
  EXPECT_EQ(changed.resource().version(), "13");
  EXPECT_NE(changed.fingerprint(), full.fingerprint());

  EXPECT_TRUE(fetch("/r?id=other&v=i107577340").has_resource());  // found as other.pb
}

TEST_F(DevServerContainers, AnswersNotFoundForIdsThatNameNoContainerFile) {
  fetch("/r?id=GTM-NONE&v=i1", 404);
  fetch("/r?id=..%2FGTM-SHOP&v=i1", 404);
  fetch("/r?id=%2Fetc%2Fpasswd&v=i1", 404);
  fetch("/r?id=.hidden&v=i1", 404);
  fetch("/r?id=&v=i1", 404);
  std::filesystem::create_directory(dir_.file("adir"));
  fetch("/r?id=adir&v=i1", 404);

  EXPECT_TRUE(isServableContainerId("GTM-AB_12.x"));
  EXPECT_FALSE(isServableContainerId("a/b"));
  EXPECT_FALSE(isServableContainerId("a b"));
  EXPECT_FALSE(isServableContainerId(".."));
}

TEST_F(DevServerContainers, RefusesMalformedRequestsAndBrokenFiles) {
  fetch("/r?v=i1", 400);
  EXPECT_EQ(containers_.respond(request("POST", "/r?id=GTM-SHOP")).status, 405);
  // A required field of a nested message is missing: not a resource a container could use.
  MOXPResource broken;
  broken.add_macro();
  std::string bytes;
  broken.SerializePartialToString(&bytes);
  testing::writeFile(dir_.file("broken"), bytes);
  const ServerResponse incomplete = containers_.respond(request("GET", "/r?id=broken&v=i1"));
  EXPECT_EQ(incomplete.status, 500);
  EXPECT_NE(incomplete.body.find("missing macro[0].function"), std::string::npos)
      << incomplete.body;
  testing::writeFile(dir_.file("garbage"), "\xff\xff\xff\xff");
  fetch("/r?id=garbage&v=i1", 500);
}

TEST_F(DevServerContainers, AnswersPreviewFetchesFromTheUnpublishedVersionOnly) {
  const std::string previewQuery = "/r?id=GTM-SHOP&wen_auth=abc&wen_preview=3&v=i107577340";
  // No unpublished version: 404, never the published one in its place.
  fetch(previewQuery, 404);

  MOXPResource unpublished = resource_;
  unpublished.set_version("12-preview");
  std::string previewBytes;
  unpublished.SerializeToString(&previewBytes);
  testing::writeFile(dir_.file("GTM-SHOP.preview"), previewBytes);

  const auto preview = fetch(previewQuery);
  ASSERT_TRUE(preview.has_resource());
  EXPECT_EQ(preview.resource().version(), "12-preview");
  EXPECT_EQ(preview.fingerprint(), containerFingerprint(previewBytes));
  const auto unchanged = fetch(previewQuery + "&pv=" + preview.fingerprint());
  EXPECT_FALSE(unchanged.has_resource());

  // Ordinary fetches still get the published version and cannot name the preview file.
  EXPECT_EQ(fetch("/r?id=GTM-SHOP&v=i107577340").resource().version(), "12");
  fetch("/r?id=GTM-SHOP.preview&v=i107577340", 404);
}

}  // namespace
}  // namespace loomset::devserver
