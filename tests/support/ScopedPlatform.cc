#include "support/ScopedPlatform.h"

#include "Library/Util/platform/OpenSslRandomSource.h"

namespace loomset::testing {

void SeededRandomSource::reseed(std::uint64_t seed) {
  std::lock_guard<std::mutex> lock(mu_);
  engine_.seed(seed);
}

std::uint32_t SeededRandomSource::uniform(std::uint32_t bound) {
  std::lock_guard<std::mutex> lock(mu_);
  return randomshape::uniform(bound,
                              [this] { return static_cast<std::uint32_t>(engine_() >> 32); });
}

double SeededRandomSource::unit() {
  std::lock_guard<std::mutex> lock(mu_);
  return randomshape::unitFromBits(engine_());
}

std::string SeededRandomSource::uuid() {
  unsigned char bytes[16];
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (int i = 0; i < 16; i += 8) {
      std::uint64_t word = engine_();
      for (int j = 0; j < 8; ++j) bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
  }
  return randomshape::uuidFromBytes(bytes);
}

ScopedPlatform::ScopedPlatform(std::function<void(Platform&)> customize)
    : clock_(std::make_shared<FakeClock>()),
      mainLoop_(std::make_shared<ManualEventLoop>(clock_, "loomset-main")),
      random_(std::make_shared<SeededRandomSource>()),
      previous_(Platform::current()) {
  // The services without fakes (files, HTTP, logger, worker loops, reachability, advertising)
  // are those of the bundle in force.
  auto platform = std::make_shared<Platform>(*previous_);
  platform->clock = clock_;
  platform->random = random_;
  platform->mainLoop = mainLoop_;
  platform->background = std::make_shared<LoopExecutor>(mainLoop_);

  platform->application.name = "LoomsetTests";
  platform->application.identifier = "org.loomset.tests";
  platform->application.shortVersion = "1.0";
  platform->application.resourceDirectory = tempDir_.file("bundle");
  platform->fileSystem->createDirectories(platform->application.resourceDirectory);

  platform->device.model = "x86_64";
  platform->device.systemName = "Linux";
  platform->device.systemVersion = "6.1.0";
  platform->device.screenWidth = 1024;
  platform->device.screenHeight = 768;
  platform->device.screenScale = 2;
  platform->device.preferredLanguages = {"en-US", "en"};
  platform->device.localeLanguage = "en";
  platform->device.localeCountry = "US";

  platform->directories = DataDirectories(tempDir_.file("data"));
  platform->fileSystem->createDirectories(platform->directories.root());

  if (customize) customize(*platform);
  platform_ = platform;
  Platform::setCurrent(platform_);
}

ScopedPlatform::~ScopedPlatform() {
  Platform::setCurrent(previous_);
}

}  // namespace loomset::testing
