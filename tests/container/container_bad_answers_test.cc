// Bad input from the server and from the disk: every answer a container cannot use is reported
// with its failure code, never crashes, and never costs the copy already saved, which still loads
// in the next process. Every case runs in a fresh environment with its own server and data root.
#include <gtest/gtest.h>

#include <unistd.h>

#include "BadInput.h"
#include "ContainerTestEnvironment.h"
#include "Library/Util/platform/PosixFileSystem.h"

namespace loomset {
namespace {

using testing::constantResource;
using testing::ContainerServer;
using testing::ContainerTestEnvironment;
using testing::kDeep;
using testing::RecordingCallback;
using testing::savedCopyBytes;

constexpr char kId[] = "GTM-BAD";
constexpr double kHourMillis = 3600 * 1000;
constexpr std::size_t kHuge = 16 << 20;

std::string savedVersion(const ContainerTestEnvironment& env) {
  const auto bytes = PosixFileSystem().readFile(env.savedFilePath(kId));
  MOXPResourceWithMetadata saved;
  if (!bytes || !saved.ParseFromString(*bytes)) return "<none>";
  return saved.supplemented_resource().resource().version();
}

// Opens the container with a new manager over the environment's data root and runs until the
// callback has heard `events` calls.
std::pair<std::shared_ptr<MOXContainer>, std::shared_ptr<RecordingCallback>> openIn(
    ContainerTestEnvironment& env, std::size_t events) {
  auto callback = std::make_shared<RecordingCallback>();
  auto container = env.newManager()->openContainerById(kId, callback);
  EXPECT_TRUE(env.runUntilEvents(*callback, events));
  return {container, callback};
}

std::string answerBytes(const MOXPResource& resource) {
  MOXPLegacyRawProtoSupplementedResource answer;
  *answer.mutable_resource() = resource;
  answer.set_fingerprint("fp-" + resource.version());
  return answer.SerializeAsString();
}

TEST(ContainerBadAnswers, AnswersThatCannotBeUsedFailAndKeepTheSavedCopy) {
  const std::string good = answerBytes(constantResource("6", {{"greeting", "newer"}}));
  struct Case {
    const char* what;
    int status;
    std::string body;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"empty body: unchanged", 200, "", "success network"},
      {"truncated message", 200, good.substr(0, good.size() - 3), "failure 4 network"},
      {"random bytes", 200, testing::randomBytes(4096), "failure 4 network"},
      {"huge body", 200, testing::randomBytes(kHuge), "failure 4 network"},
      {"field of the wrong wire type", 200,
       testing::lengthDelimited(2, testing::wrongFieldTypeResourceBytes()), "failure 4 network"},
      {"indexes out of range", 200, answerBytes(testing::outOfRangeResource()),
       "failure 4 network"},
      {"lists nested deep by index", 200, answerBytes(testing::deepListResource(kDeep)),
       "failure 4 network"},
      {"a Value nested deep on the wire", 200, testing::deepSupplementBytes(kDeep),
       "failure 4 network"},
      {"not found", 404, "", "failure 4 network"},
  };
  for (int status : {201, 204, 301, 304, 400, 401, 403, 410, 429, 500, 502, 503, 599}) {
    cases.push_back({"status", status, "", "failure 3 network"});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.status));
    ContainerTestEnvironment env;
    const double now = env.platform().clock().nowMillis();
    // Saved 13 hours ago, so the container fetches as soon as it has applied it.
    env.writeSavedFile(kId, savedCopyBytes(constantResource("5", {{"greeting", "saved"}}), "fp-5",
                                           static_cast<std::int64_t>(now - 13 * kHourMillis)));
    const auto before = PosixFileSystem().readFile(env.savedFilePath(kId));
    env.server().enqueue(ContainerServer::body(c.status, c.body));

    auto [container, callback] = openIn(env, 4);
    EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", "success saved",
                                                            "begin network", c.expected}));
    EXPECT_EQ(container->stringForKey("greeting"), "saved");
    EXPECT_EQ(container->resourceVersion(), "5");
    container->close();
    env.platform().runUntilIdle();

    if (std::string(c.expected) != "success network") {
      EXPECT_EQ(PosixFileSystem().readFile(env.savedFilePath(kId)), before);
    }
    EXPECT_EQ(savedVersion(env), "5");
    auto [next, heard] = openIn(env, 2);
    EXPECT_EQ(heard->events()[1], "success saved");
    EXPECT_EQ(next->stringForKey("greeting"), "saved");
    next->close();
  }
}

TEST(ContainerBadAnswers, SavedFilesThatCannotBeUsedAreReportedAndReplacedByAFetch) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> make;
    const char* failure;
    bool replaced;  // the fetched copy can be saved in its place
  };
  const auto write = [](std::string bytes) {
    return [bytes](const std::string& path) { PosixFileSystem().writeFileAtomically(path, bytes); };
  };
  const std::string deepSaved = testing::varint(1 << 3) + testing::varint(5) +
                                testing::lengthDelimited(2, "") +
                                testing::lengthDelimited(3, testing::deepSupplementBytes(kDeep));
  const std::vector<Case> cases = {
      {"a directory instead of the file",
       [](const std::string& path) { PosixFileSystem().createDirectories(path + "/inside"); },
       "failure 0 saved", false},
      {"unreadable (a link to itself)",
       [](const std::string& path) { ASSERT_EQ(::symlink(path.c_str(), path.c_str()), 0); },
       "failure 0 saved", true},
      {"huge", write(testing::randomBytes(kHuge)), "failure 1 saved", true},
      {"nested deep", write(deepSaved), "failure 1 saved", true},
      {"another message", write(constantResource("5", {{"greeting", "x"}}).SerializeAsString()),
       "failure 1 saved", true},
      {"indexes out of range", write(savedCopyBytes(testing::outOfRangeResource(), "fp", 5)),
       "failure 1 saved", true},
      {"lists nested deep by index",
       write(savedCopyBytes(testing::deepListResource(kDeep), "fp", 5)), "failure 1 saved", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ContainerTestEnvironment env;
    env.server().setResource(kId, constantResource("12", {{"greeting", "fetched"}}), "fp-12");
    env.writeSavedFile(kId, "placeholder");
    const std::string path = env.savedFilePath(kId);
    ::unlink(path.c_str());
    c.make(path);

    auto [container, callback] = openIn(env, 4);
    EXPECT_EQ(callback->events(), std::vector<std::string>({"begin saved", c.failure,
                                                            "begin network", "success network"}));
    EXPECT_EQ(container->stringForKey("greeting"), "fetched");
    container->close();
    env.platform().runUntilIdle();
    if (c.replaced) {
      EXPECT_EQ(savedVersion(env), "12");
      auto [next, heard] = openIn(env, 2);
      EXPECT_EQ(heard->events()[1], "success saved");
      EXPECT_EQ(next->stringForKey("greeting"), "fetched");
    } else {
      EXPECT_TRUE(env.log().contains("Error writing resource to disk."));
    }
  }
}

TEST(ContainerBadAnswers, HugeAndDeepResourcesEvaluateWithoutExhaustingTheStack) {
  ContainerTestEnvironment env;
  env.server().setResource(kId, testing::macroChainResource(kDeep), "fp-chain");
  auto [container, callback] = openIn(env, 4);
  ASSERT_EQ(callback->last(), "success network");
  EXPECT_EQ(container->stringForKey("m99999"), "end");
  EXPECT_EQ(container->stringForKey("m99990"), "end");
  // A chain longer than evaluation goes answers the default, with a line saying why.
  EXPECT_EQ(container->stringForKey("m0"), "");
  EXPECT_TRUE(env.log().contains("Evaluation nested too deeply at: "));
  // Tag evaluation walks the whole resource.
  container->evaluateTags("purchase");
  container->close();
  env.platform().runUntilIdle();
  EXPECT_EQ(savedVersion(env), "chain");
}

}  // namespace
}  // namespace loomset
