// `loomset-devserver` end to end, as a child process: containers compiled by `loomset compile`,
// hits posted as the dispatcher posts them, JSON lines on standard output, and stopping.
#include <signal.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "loomset/MOXResourceUtil.h"
#include "loomset/proto/serving.pb.h"
#include "support/TempDir.h"
#include "tools/DevServerProcess.h"
#include "tools/ToolProcess.h"

namespace loomset::testing {
namespace {

std::string gzip(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

class DevServerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ToolResult compiled =
        runTool({"compile", exampleSource("shop.json"), "-o", containers_.file("GTM-SHOP")});
    ASSERT_EQ(compiled.exitCode, 0) << compiled.err;
    server_ = std::make_unique<DevServerProcess>(
        std::vector<std::string>{"--containers", containers_.path(), "--keep", "50"});
    ASSERT_TRUE(server_->started());
  }

  TempDir containers_;
  std::unique_ptr<DevServerProcess> server_;
};

TEST_F(DevServerProcessTest, ServesCompiledContainersAsTheContainerServerProtocolSays) {
  const auto start = server_->lines().front();
  EXPECT_EQ(start["listening"], server_->baseUrl());
  EXPECT_EQ(start["containers"], containers_.path());

  const HttpResponse full = httpGet(server_->url("/r?id=GTM-SHOP&v=i107577340"));
  ASSERT_EQ(full.status, 200) << full.body;
  MOXPLegacyRawProtoSupplementedResource message;
  ASSERT_TRUE(message.ParseFromString(full.body));
  ASSERT_TRUE(message.has_resource());
  EXPECT_EQ(message.resource().version(), "7");
  EXPECT_FALSE(message.fingerprint().empty());
  // What is served is what the compiler wrote, and it expands.
  EXPECT_EQ(message.resource().SerializeAsString(), readFile(containers_.file("GTM-SHOP")));
  EXPECT_NE(MOXResourceUtil::expandResource(message.resource()), nullptr);

  const HttpResponse same =
      httpGet(server_->url("/r?id=GTM-SHOP&v=i107577340&pv=" + message.fingerprint()));
  ASSERT_EQ(same.status, 200);
  MOXPLegacyRawProtoSupplementedResource unchanged;
  ASSERT_TRUE(unchanged.ParseFromString(same.body));
  EXPECT_FALSE(unchanged.has_resource());
  EXPECT_EQ(unchanged.fingerprint(), message.fingerprint());

  EXPECT_EQ(httpGet(server_->url("/r?id=GTM-NOPE&v=i107577340")).status, 404);
  EXPECT_EQ(httpGet(server_->url("/elsewhere")).status, 404);
}

TEST_F(DevServerProcessTest, CollectsAGzipBatchPrintsItsHitsAndAnswersThemOnHits) {
  HttpRequest batch;
  batch.method = "POST";
  batch.url = server_->url("/batch");
  batch.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"},
                   {"Content-Encoding", "gzip"}};
  batch.body = gzip(
      "v=1&tid=UA-1&t=screenview&cd=Home+Screen\n"
      "v=1&tid=UA-1&t=event&ec=shop&ea=add%20to%20cart\n"
      "v=1&tid=UA-1&t=transaction&ti=T%2F1&tr=42.5");
  ASSERT_EQ(httpFetch(batch).status, 200);
  EXPECT_EQ(httpGet(server_->url("/collect?v=1&tid=UA-1&t=item&in=Sock")).status, 200);

  const HttpResponse answer = httpGet(server_->url("/hits"));
  ASSERT_EQ(answer.status, 200);
  const auto hits = nlohmann::ordered_json::parse(answer.body);
  ASSERT_EQ(hits.size(), 4u);
  EXPECT_EQ(hits[0]["path"], "/batch");
  EXPECT_EQ(hits[0]["params"]["cd"], "Home Screen");
  EXPECT_EQ(hits[1]["params"]["ea"], "add to cart");
  EXPECT_EQ(hits[2]["params"]["ti"], "T/1");
  EXPECT_EQ(hits[3]["method"], "GET");
  EXPECT_EQ(hits[3]["params"]["in"], "Sock");

  // The same records were printed, one JSON line each, after the start line.
  ASSERT_TRUE(server_->waitForLines(5));
  const auto lines = server_->lines();
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i + 1], hits[i]);

  // A damaged body is refused and records nothing.
  batch.body = "not gzip at all";
  EXPECT_EQ(httpFetch(batch).status, 400);
  const auto cleared = nlohmann::ordered_json::parse(httpGet(server_->url("/hits?clear=1")).body);
  EXPECT_EQ(cleared.size(), 4u);
  EXPECT_EQ(nlohmann::ordered_json::parse(httpGet(server_->url("/hits")).body).size(), 0u);

  EXPECT_EQ(server_->stop(SIGTERM), 0);
  const auto last = server_->lines().back();
  EXPECT_EQ(last["stopped"], true);
  EXPECT_EQ(last["received"], 4);
}

TEST_F(DevServerProcessTest, StopsCleanlyOnInterruptEvenWithARequestWaiting) {
  // A "/hits" request waiting for hits that never come must not hold the server up.
  std::thread waiting([this] {
    const HttpResponse answer = httpGet(server_->url("/hits?min=5&timeout=60000"));
    EXPECT_TRUE(answer.status == 200 || answer.hasError()) << answer.status;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // lets the request arrive
  EXPECT_EQ(server_->stop(SIGINT), 0);
  waiting.join();
  EXPECT_EQ(server_->lines().back()["stopped"], true);
}

TEST(DevServerCommandLine, RefusesBadOptions) {
  TempDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--port", "99999"},
                                               {"--keep", "-1"},
                                               {"--bogus"},
                                               {"--containers", dir.file("missing")},
                                               {"extra"}}) {
    std::vector<std::string> argv{LOOMSET_DEVSERVER_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    // Exits at once with a usage error, printing nothing on standard output.
    const std::string command = [&] {
      std::string c;
      for (const auto& a : argv) c += "'" + a + "' ";
      return c + ">" + dir.file("out") + " 2>" + dir.file("err");
    }();
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << command;
    EXPECT_EQ(readFile(dir.file("out")), "") << command;
    EXPECT_NE(readFile(dir.file("err")).find("usage:"), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace loomset::testing
