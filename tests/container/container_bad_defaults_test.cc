// Bad default containers in the bundle: whatever the binary, ".plist" or ".json" default holds, a
// container is created without crashing and starts from the next default that works, or from an
// empty container.
#include <gtest/gtest.h>

#include <unistd.h>

#include "BadInput.h"
#include "ContainerTestEnvironment.h"
#include "Library/Util/platform/PosixFileSystem.h"

namespace loomset {
namespace {

using testing::ContainerTestEnvironment;
using testing::kDeep;

constexpr char kId[] = "GTM-BUNDLE";

const char kPlist[] =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>greeting</key><string>from the plist</string></dict></plist>)";
const char kJson[] = R"({"greeting": "from the json"})";

enum Kind { kBinary, kPlistKind, kJsonKind };

std::string fileName(Kind kind) {
  switch (kind) {
    case kBinary:
      return kId;
    case kPlistKind:
      return std::string(kId) + ".plist";
    case kJsonKind:
      return std::string(kId) + ".json";
  }
  return kId;
}

std::string goodBytes(Kind kind) {
  switch (kind) {
    case kBinary:
      return testing::constantResource("7", {{"greeting", "from the binary"}}).SerializeAsString();
    case kPlistKind:
      return kPlist;
    case kJsonKind:
      return kJson;
  }
  return "";
}

// What the container answers when the default of this kind is unusable: the next kind's value.
std::string fallback(Kind kind) {
  return kind == kBinary ? "from the plist" : kind == kPlistKind ? "from the json" : "";
}

TEST(ContainerBadDefaults, EveryKindOfUnusableDefaultIsPassedOver) {
  struct Badness {
    const char* what;
    std::function<std::string(Kind)> bytes;  // the file's content; when unset, `make` makes it
    std::function<void(const std::string& path)> make;
  };
  const std::vector<Badness> badness = {
      {"truncated",
       [](Kind k) {
         const std::string good = goodBytes(k);
         // The binary default's last byte is inside its version text.
         return good.substr(0, k == kBinary ? good.size() - 1 : good.size() / 2);
       },
       nullptr},
      {"garbage", [](Kind) { return testing::randomBytes(4096); }, nullptr},
      {"huge", [](Kind) { return testing::randomBytes(16 << 20, 11); }, nullptr},
      {"nested deep",
       [](Kind k) {
         return k == kBinary      ? testing::deepListResource(kDeep).SerializeAsString()
                : k == kPlistKind ? testing::deepPlist(kDeep)
                                  : testing::deepJson(kDeep);
       },
       nullptr},
      {"valid syntax, wrong shape",
       [](Kind k) {
         return k == kBinary      ? testing::outOfRangeResource().SerializeAsString()
                : k == kPlistKind ? std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><string>greeting</string></array></plist>)")
                                  : std::string(R"(["greeting", "from a list"])");
       },
       nullptr},
      {"a directory", nullptr,
       [](const std::string& path) { PosixFileSystem().createDirectories(path + "/inside"); }},
      {"unreadable (a link to itself)", nullptr,
       [](const std::string& path) { ASSERT_EQ(::symlink(path.c_str(), path.c_str()), 0); }},
  };
  for (Kind kind : {kBinary, kPlistKind, kJsonKind}) {
    for (const Badness& bad : badness) {
      SCOPED_TRACE(fileName(kind) + ": " + bad.what);
      ContainerTestEnvironment env;
      for (Kind later = static_cast<Kind>(kind + 1); later <= kJsonKind;
           later = static_cast<Kind>(later + 1)) {
        env.writeBundleFile(fileName(later), goodBytes(later));
      }
      const std::string path = env.platform().resourceDirectory() + "/" + fileName(kind);
      if (bad.bytes) {
        env.writeBundleFile(fileName(kind), bad.bytes(kind));
      } else {
        bad.make(path);
      }
      auto container = MOXContainer::create(kId, env.newManager());
      ASSERT_NE(container->runtime(), nullptr);
      EXPECT_EQ(container->stringForKey("greeting"), fallback(kind));
      EXPECT_TRUE(container->isDefault());
    }
  }
}

}  // namespace
}  // namespace loomset
