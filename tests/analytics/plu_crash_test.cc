// Crash reporting: frame symbols, exception descriptions, handler chaining, and the crash path
// itself, run in a child process (the death-test runner re-executes this test binary).
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>

#include "analytics/crash/PLUExceptionParser.h"
#include "analytics/crash/PLUUncaughtExceptionHandler.h"
#include "analytics/store/PLUError.h"
#include "loomset/Exceptions.h"
#include "loomset/PLU.h"
#include "support/PLURecording.h"

namespace loomset {
namespace {

TEST(PLUExceptionParser, SymbolsFromGlibcFrames) {
  EXPECT_EQ(PLUExceptionParser::symbolFromStackFrame(
                "./app(_ZN3app5Store4loadERKSs+0x2f) [0x55d1c0a0b1c2]"),
            "app::Store::load(std::string const&)");
  EXPECT_EQ(PLUExceptionParser::symbolFromStackFrame(
                "/lib/x86_64-linux-gnu/libc.so.6(__libc_start_main+0xf3) [0x7f00]"),
            "__libc_start_main");
  EXPECT_EQ(PLUExceptionParser::symbolFromStackFrame("./app(main) [0x401000]"), "main");
  // No symbol, no frame text, or a frame of the throwing machinery.
  for (const char* none : {"./app(+0x1234) [0x55d1c0a0b1c2]", "./app() [0x401000]",
                           "[0x7f0000001234]", "", "/lib/libstdc++.so.6(__cxa_throw+0x4e) [0x7f00]",
                           "/lib/libgcc_s.so.1(_Unwind_RaiseException+0x2e) [0x7f00]",
                           "/lib/libstdc++.so.6(_ZSt9terminatev+0x10) [0x7f00]"}) {
    EXPECT_EQ(PLUExceptionParser::symbolFromStackFrame(none), std::nullopt) << none;
  }
}

TEST(PLUExceptionParser, DescriptionNamesTheExceptionAndItsTrace) {
  PLUExceptionInfo info;
  info.name = "X";
  info.callStackSymbols = {
      "./app(_ZN3app7handlerEv+0x1) [0x1]",  // the first two frames are the reporter's own
      "./app(_ZN3app8reporterEv+0x1) [0x2]",
      "/lib/libstdc++.so.6(__cxa_throw+0x4e) [0x3]",
      "./app(_ZN3app6Widget4drawEv+0x10) [0x4]",
      "./app(+0x99) [0x5]",
      "./app(main+0x20) [0x6]",
  };
  EXPECT_EQ(PLUExceptionParser::exceptionDescription(info, 0),
            "X\nTrace:\napp::Widget::draw()\nmain");
  EXPECT_EQ(PLUExceptionParser::exceptionDescription(info, 12), "X\nTrace:\napp");

  // Long traces stop at the limit; short stacks have no trace at all.
  info.callStackSymbols.insert(info.callStackSymbols.end(), 40,
                               "./app(_ZN3app6Widget4drawEv+0x10) [0x4]");
  EXPECT_EQ(PLUExceptionParser::exceptionDescription(info, 150).size(), 150u);
  info.callStackSymbols.resize(2);
  EXPECT_EQ(PLUExceptionParser::exceptionDescription(info, 150), "X");
  EXPECT_EQ(*PLUUtil::descriptionFromException(&info), "X");
  EXPECT_EQ(PLUUtil::descriptionFromException(nullptr), std::nullopt);

  const PLUError error = PLUError::errorWithCode(7, "disk full");
  EXPECT_EQ(*PLUUtil::descriptionFromError(&error), "com.orvex.kestrel.error 7: disk full");
}

TEST(PLUExceptionParser, NamesOfExceptions) {
  EXPECT_EQ(PLUExceptionInfo::fromException(
                std::make_exception_ptr(IllegalArgumentException("bad")), false)
                .name,
            "IllegalArgumentException");
  const auto info =
      PLUExceptionInfo::fromException(std::make_exception_ptr(std::out_of_range("r")), false);
  EXPECT_EQ(info.name, "std::out_of_range");
  EXPECT_EQ(info.reason, "r");
  EXPECT_EQ(PLUExceptionInfo::fromException(std::make_exception_ptr(42), false).name, "int");
}

void customTerminate() {
  std::abort();
}

TEST(PLUUncaughtExceptionHandler, InstallTwiceUninstallOnceRestoresThePrevious) {
  const std::terminate_handler original = std::set_terminate(&customTerminate);
  PLUInstallUncaughtExceptionHandler();
  PLUInstallUncaughtExceptionHandler();
  EXPECT_EQ(std::get_terminate(), &plu_terminateHandler);
  PLUUninstallUncaughtExceptionHandler();
  EXPECT_EQ(std::get_terminate(), &customTerminate);
  PLUUninstallUncaughtExceptionHandler();  // not installed: leaves the handler alone
  EXPECT_EQ(std::get_terminate(), &customTerminate);
  std::set_terminate(original);
}

struct CrashChild {
  static std::unique_ptr<testing::PLUTestFacade>& facade() {
    static std::unique_ptr<testing::PLUTestFacade> f;
    return f;
  }
  static void printHits() {
    const auto hits = facade()->dispatcher().hits();
    std::fprintf(stderr, "hits=%zu\n", hits.size());
    for (const auto& hit : hits) {
      for (const auto& [key, value] : hit) {
        std::fprintf(stderr, "%s=%s\n", key.c_str(), value ? value->c_str() : "<null>");
      }
    }
    std::fprintf(stderr, "bailing=%d\n",
                 facade()->log().count("Bailing on multiple uncaught exceptions:"));
  }
  // Stands for the application's own terminate handler: the crash report must chain to it.
  static void previousHandler() {
    printHits();
    std::fflush(stderr);
    std::_Exit(3);
  }
  // Reports a second crash from the chained handler, as a second failing thread would.
  static void previousHandlerCrashingAgain() {
    PLUUncaughtExceptionHandler(std::make_exception_ptr(std::logic_error("second")));
    previousHandler();
  }
  static void crash(std::terminate_handler previous) {
    facade() = std::make_unique<testing::PLUTestFacade>();
    facade()->facade().trackerWithName("main", "UA-CRASH");
    std::set_terminate(previous);
    facade()->facade().setTrackUncaughtExceptions(true);
    std::thread([] { throw std::runtime_error("disk on fire"); }).join();
  }
};

TEST(PLUCrashDeathTest, FirstUncaughtExceptionBecomesOneFatalHit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CrashChild::crash(&CrashChild::previousHandler), ::testing::ExitedWithCode(3),
              "hits=1\n(.*\n)*&exd=std::runtime_error(.*\n)*&exf=1\n(.*\n)*&t=exception\n"
              "(.*\n)*&tid=UA-CRASH\n(.*\n)*bailing=0");
}

TEST(PLUCrashDeathTest, SecondCrashOnlyLogs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CrashChild::crash(&CrashChild::previousHandlerCrashingAgain),
              ::testing::ExitedWithCode(3), "hits=1\n(.*\n)*bailing=1");
}

TEST(PLUCrashDeathTest, NoDefaultTrackerNoHit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CrashChild::facade() = std::make_unique<testing::PLUTestFacade>();
        std::set_terminate(&CrashChild::previousHandler);
        CrashChild::facade()->facade().setTrackUncaughtExceptions(true);
        std::thread([] { throw 1; }).join();
      },
      ::testing::ExitedWithCode(3), "hits=0\n");
}

}  // namespace
}  // namespace loomset
