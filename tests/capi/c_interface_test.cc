// The C interface over a real container (shipped default in wire form) and a real collector:
// typed getters, C handlers (also ones that throw C++ exceptions), JSON pushes, trackers,
// dispatch and opting out; errors as codes with the thread's last error text; values with
// embedded NULs kept whole in both directions.
#include "loomset/loomset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>

#include "analytics/PLUInstanceControl.h"
#include "analytics/PLUInternal.h"
#include "analytics/PLULog.h"
#include "loomset/MOXDataLayer.h"
#include "loomset/MOXManager.h"
#include "loomset/Objects.h"
#include "loomset/PLUCollectorEndpoints.h"
#include "support/PLUCollector.h"
#include "support/PLURecording.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "support/ScopedPlatform.h"

namespace loomset {
namespace {

constexpr char kId[] = "GTM-CAPI";
const std::string kNulText("left\0right", 10);

// Constants, a "_func" macro "compute" and a "_func" tag "fired" for the event "42" with the
// parameter {"order": "A\0B"}.
std::string containerBytes() {
  testing::ServingResourceBuilder b;
  const int constant = b.addFunctionId("_c");
  auto addConstant = [&](const std::string& name, int value) {
    b.addMacro({{"instance_name", b.addString(name)}, {"function", constant}, {"value", value}});
  };
  addConstant("greeting", b.addString(kNulText));
  addConstant("count", b.addString("12"));
  addConstant("rate", b.addString("0.25"));
  addConstant("flag", b.addString("true"));
  b.addMacro({{"instance_name", b.addString("computed")},
              {"function", b.addFunctionId("_func")},
              {"function_call_macro_name", b.addString("compute")}});
  const int eventName = b.addString("eventName");
  b.addMacro({{"instance_name", eventName}, {"function", b.addFunctionId("_e")}});
  const int predicate = b.addPredicate({{"function", b.addFunctionId("_eq")},
                                        {"arg0", b.addMacroReference(eventName)},
                                        {"arg1", b.addString("42")}});
  const int parameters = b.addMap({b.addString("order")}, {b.addString(std::string("A\0B", 3))});
  const int tag = b.addTag({{"function", b.addFunctionId("_func")},
                            {"function_call_macro_name", b.addString("fired")},
                            {"additional_params", parameters}});
  MOXPRule* rule = b.addRule();
  rule->add_positive_predicate(predicate);
  rule->add_add_tag(tag);
  b.resource().set_version("7");
  return b.bytes();
}

// Takes text handed out by the library and frees it.
std::string take(char* text, size_t length) {
  std::string copy(text, length);
  loomset_free(text);
  return copy;
}

class CInterfaceTest : public ::testing::Test {
 protected:
  CInterfaceTest() {
    MOXManager::clearManagerInstance();
    platform_.platform()->fileSystem->writeFileAtomically(platform_.resourceDirectory() + "/" + kId,
                                                          containerBytes());
    // Only the shipped default: the opening completes at its time-out, without network.
    MOXManager::instance()->setRefreshMode(kMOXRefreshModeDefaultContainer);
    EXPECT_EQ(loomset_container_open(kId, LOOMSET_OPEN_PREFER_NON_DEFAULT, 0, &container_),
              LOOMSET_OK)
        << loomset_last_error();
  }

  ~CInterfaceTest() override {
    loomset_container_close(container_);
    loomset_container_release(container_);
    // A push waits for the data layer's store to have restored, so no restore is still to run
    // when the data root goes.
    MOXManager::instance()->dataLayer()->push(Dictionary::create());
    MOXManager::clearManagerInstance();
  }

  std::string stringFor(const char* key) {
    char* text = nullptr;
    size_t length = 0;
    EXPECT_EQ(loomset_container_get_string(container_, key, &text, &length), LOOMSET_OK);
    return text ? take(text, length) : "<none>";
  }

  // Real loops: the opener waits on the main loop, and handlers run on the caller's thread.
  testing::ScopedPlatform platform_{[](Platform& p) {
    p.mainLoop = std::make_shared<AsioEventLoop>("capi-main");
    p.background = std::make_shared<ThreadPoolExecutor>(1);
  }};
  testing::ScopedRecordingLogger log_;
  loomset_container* container_ = nullptr;
};

TEST_F(CInterfaceTest, TypedGettersAnswerValuesAndTheTypesDefaults) {
  ASSERT_NE(container_, nullptr);
  EXPECT_EQ(stringFor("greeting"), kNulText);  // the NUL inside is kept
  int64_t count = 0;
  EXPECT_EQ(loomset_container_get_int64(container_, "count", &count), LOOMSET_OK);
  EXPECT_EQ(count, 12);
  double rate = 0;
  EXPECT_EQ(loomset_container_get_double(container_, "rate", &rate), LOOMSET_OK);
  EXPECT_DOUBLE_EQ(rate, 0.25);
  int flag = 0;
  EXPECT_EQ(loomset_container_get_boolean(container_, "flag", &flag), LOOMSET_OK);
  EXPECT_EQ(flag, 1);
  char* version = nullptr;
  ASSERT_EQ(loomset_container_version(container_, &version, nullptr), LOOMSET_OK);
  EXPECT_STREQ(version, "7");
  loomset_free(version);

  // A key that names no macro answers the default, as the C++ getters do.
  EXPECT_EQ(stringFor("missing"), "");
  int64_t missing = 99;
  EXPECT_EQ(loomset_container_get_int64(container_, "missing", &missing), LOOMSET_OK);
  EXPECT_EQ(missing, 0);

  // After closing, every getter answers its default.
  ASSERT_EQ(loomset_container_close(container_), LOOMSET_OK);
  EXPECT_EQ(stringFor("greeting"), "");
}

TEST_F(CInterfaceTest, BadArgumentsAreCodesWithTheThreadsLastErrorText) {
  int64_t value = 0;
  EXPECT_EQ(loomset_container_get_int64(nullptr, "count", &value), LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_STREQ(loomset_last_error(), "no container handle");
  EXPECT_EQ(loomset_container_get_int64(container_, nullptr, &value),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_container_get_int64(container_, "count", nullptr),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_container_get_string(container_, "greeting", nullptr, nullptr),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  loomset_container* none = nullptr;
  EXPECT_EQ(loomset_container_open("", LOOMSET_OPEN_PREFER_FRESH, 1, &none),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_container_open(kId, 7, 1, &none), LOOMSET_ERROR_INVALID_ARGUMENT);
  for (double endless : {std::nan(""), HUGE_VAL}) {
    EXPECT_EQ(loomset_container_open(kId, LOOMSET_OPEN_PREFER_FRESH, endless, &none),
              LOOMSET_ERROR_INVALID_ARGUMENT);
  }
  EXPECT_EQ(none, nullptr);

  // The text belongs to the thread that failed; a call that succeeds clears it.
  std::string otherThread =
      std::async(std::launch::async, [] { return std::string(loomset_last_error()); }).get();
  EXPECT_EQ(otherThread, "");
  EXPECT_NE(std::string(loomset_last_error()), "");
  EXPECT_EQ(loomset_container_get_int64(container_, "count", &value), LOOMSET_OK);
  EXPECT_STREQ(loomset_last_error(), "");
}

TEST_F(CInterfaceTest, ExplainedGettersGiveTheValueAndWhyAsJson) {
  char* text = nullptr;
  size_t length = 0;
  char* why = nullptr;
  size_t whyLength = 0;
  ASSERT_EQ(
      loomset_container_explain_string(container_, "greeting", &text, &length, &why, &whyLength),
      LOOMSET_OK)
      << loomset_last_error();
  EXPECT_EQ(take(text, length), kNulText);
  const std::string answered = take(why, whyLength);
  EXPECT_NE(answered.find(R"("containerVersion":"7")"), std::string::npos) << answered;
  EXPECT_NE(answered.find(R"("instanceName":"greeting")"), std::string::npos) << answered;
  EXPECT_NE(answered.find(R"("failure":"none")"), std::string::npos) << answered;

  int64_t number = 5;
  ASSERT_EQ(loomset_container_explain_int64(container_, "missing", &number, &why, &whyLength),
            LOOMSET_OK);
  EXPECT_EQ(number, 0);
  const std::string missing = take(why, whyLength);
  EXPECT_NE(missing.find(R"("call":null)"), std::string::npos) << missing;
  EXPECT_NE(missing.find(R"("failure":"noSuchMacro")"), std::string::npos) << missing;

  // The explanation is optional; the value is not.
  double rate = 0;
  EXPECT_EQ(loomset_container_explain_double(container_, "rate", &rate, nullptr, nullptr),
            LOOMSET_OK);
  EXPECT_DOUBLE_EQ(rate, 0.25);
  EXPECT_EQ(loomset_container_explain_boolean(container_, "flag", nullptr, &why, &whyLength),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(
      loomset_container_explain_string(container_, "greeting", nullptr, nullptr, &why, &whyLength),
      LOOMSET_ERROR_INVALID_ARGUMENT);

  ASSERT_EQ(loomset_container_close(container_), LOOMSET_OK);
  int flag = 1;
  ASSERT_EQ(loomset_container_explain_boolean(container_, "flag", &flag, &why, &whyLength),
            LOOMSET_OK);
  EXPECT_EQ(flag, 0);
  const std::string closed = take(why, whyLength);
  EXPECT_NE(closed.find(R"("failure":"closedContainer")"), std::string::npos) << closed;
}

struct MacroCalls {
  std::atomic<int> calls{0};
  std::atomic<int> released{0};
  std::string lastParameters;
};

TEST_F(CInterfaceTest, MacroHandlersAnswerAndEveryFailureGivesTheDefault) {
  MacroCalls state;
  auto answer = [](void* data, const char* name, const char* json, size_t length,
                   loomset_macro_result* result) -> int {
    auto* calls = static_cast<MacroCalls*>(data);
    ++calls->calls;
    calls->lastParameters.assign(json, length);
    EXPECT_STREQ(name, "compute");
    return loomset_macro_result_set_string(result, "x\0y", 3) == LOOMSET_OK ? 0 : 1;
  };
  auto release = [](void* data) { ++static_cast<MacroCalls*>(data)->released; };
  ASSERT_EQ(
      loomset_container_register_macro_handler(container_, "compute", answer, &state, release),
      LOOMSET_OK);
  EXPECT_EQ(stringFor("computed"), std::string("x\0y", 3));
  EXPECT_EQ(state.lastParameters, "{}");

  // A C++ handler that throws: caught in the wrapper, logged, and the default answered.
  auto throwing = [](void*, const char*, const char*, size_t, loomset_macro_result*) -> int {
    throw std::runtime_error("handler exploded");
  };
  ASSERT_EQ(
      loomset_container_register_macro_handler(container_, "compute", throwing, nullptr, nullptr),
      LOOMSET_OK);
  EXPECT_EQ(state.released, 1);  // the replaced handler's data, once
  EXPECT_EQ(stringFor("computed"), "");
  EXPECT_TRUE(log_->contains("The C handler of macro compute failed: handler exploded"));

  // A handler that reports failure, or sets nothing, answers the default too.
  auto refusing = [](void*, const char*, const char*, size_t, loomset_macro_result* result) {
    loomset_macro_result_set_int64(result, 5);
    return 1;
  };
  loomset_container_register_macro_handler(container_, "compute", refusing, nullptr, nullptr);
  int64_t number = 9;
  EXPECT_EQ(loomset_container_get_int64(container_, "computed", &number), LOOMSET_OK);
  EXPECT_EQ(number, 0);

  // JSON answers convert like the C++ objects they stand for.
  auto json = [](void*, const char*, const char*, size_t, loomset_macro_result* result) {
    return loomset_macro_result_set_json(result, "true", LOOMSET_NUL_TERMINATED) == LOOMSET_OK ? 0
                                                                                               : 1;
  };
  loomset_container_register_macro_handler(container_, "compute", json, nullptr, nullptr);
  int flag = 0;
  EXPECT_EQ(loomset_container_get_boolean(container_, "computed", &flag), LOOMSET_OK);
  EXPECT_EQ(flag, 1);

  // Removing (a NULL handler) works; a bad handle still releases the caller's data once.
  EXPECT_EQ(
      loomset_container_register_macro_handler(container_, "compute", nullptr, nullptr, nullptr),
      LOOMSET_OK);
  MacroCalls orphan;
  EXPECT_EQ(loomset_container_register_macro_handler(nullptr, "compute", answer, &orphan, release),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(orphan.released, 1);
}

struct TagCalls {
  std::atomic<int> calls{0};
  std::string name;
  std::string parameters;
};

TEST_F(CInterfaceTest, TagHandlersFireOnPushedEventsAndTheirThrowsStayInside) {
  TagCalls state;
  auto record = [](void* data, const char* name, const char* json, size_t length) {
    auto* calls = static_cast<TagCalls*>(data);
    calls->name = name;
    calls->parameters.assign(json, length);
    ++calls->calls;
  };
  ASSERT_EQ(loomset_container_register_tag_handler(container_, "fired", record, &state, nullptr),
            LOOMSET_OK);
  ASSERT_EQ(loomset_data_layer_push_json(R"({"event": "42"})", LOOMSET_NUL_TERMINATED), LOOMSET_OK)
      << loomset_last_error();
  EXPECT_EQ(state.calls, 1);
  EXPECT_EQ(state.name, "fired");
  EXPECT_EQ(state.parameters, R"({"order":"A\u0000B"})");
  ASSERT_EQ(loomset_data_layer_push_json(R"({"event": "other"})", LOOMSET_NUL_TERMINATED),
            LOOMSET_OK);
  EXPECT_EQ(state.calls, 1);

  auto throwing = [](void*, const char*, const char*, size_t) {
    throw std::logic_error("tag exploded");
  };
  loomset_container_register_tag_handler(container_, "fired", throwing, nullptr, nullptr);
  EXPECT_EQ(loomset_data_layer_push_json(R"({"event": "42"})", LOOMSET_NUL_TERMINATED), LOOMSET_OK);
  EXPECT_TRUE(log_->contains("The C handler of tag fired failed: tag exploded"));
}

TEST_F(CInterfaceTest, PushesAreJsonObjectsTakenByLength) {
  // The length counts: a NUL escaped inside a string stays, and bytes past the length are not
  // read.
  const std::string update = R"({"user": {"name": "ada\u0000lovelace", "visits": 3, "vip": true}})";
  const std::string padded = update + "garbage";
  ASSERT_EQ(loomset_data_layer_push_json(padded.data(), update.size()), LOOMSET_OK)
      << loomset_last_error();
  char* json = nullptr;
  size_t length = 0;
  ASSERT_EQ(loomset_data_layer_get_json("user", &json, &length), LOOMSET_OK);
  EXPECT_EQ(take(json, length), R"({"name":"ada\u0000lovelace","visits":3,"vip":true})");
  ASSERT_EQ(loomset_data_layer_get_json("user.name", &json, &length), LOOMSET_OK);
  EXPECT_EQ(take(json, length), R"("ada\u0000lovelace")");
  EXPECT_EQ(loomset_data_layer_get_json("user.age", &json, &length), LOOMSET_ERROR_NOT_FOUND);

  // A raw NUL inside the given length is not JSON, rather than the text before it.
  const std::string withNul("{\"a\": 1}\0{", 10);
  EXPECT_EQ(loomset_data_layer_push_json(withNul.data(), withNul.size()),
            LOOMSET_ERROR_INVALID_ARGUMENT);
  for (const char* bad : {"[1, 2]", "\"text\"", "{\"a\": ", ""}) {
    EXPECT_EQ(loomset_data_layer_push_json(bad, LOOMSET_NUL_TERMINATED),
              LOOMSET_ERROR_INVALID_ARGUMENT)
        << bad;
  }
  EXPECT_EQ(loomset_data_layer_push_json(nullptr, 0), LOOMSET_ERROR_INVALID_ARGUMENT);
  // Nesting beyond the reader's bound is refused, not a stack overflow.
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string deepObject = "{\"a\": " + deep + "}";
  EXPECT_EQ(loomset_data_layer_push_json(deepObject.data(), deepObject.size()),
            LOOMSET_ERROR_INVALID_ARGUMENT);
}

// The analytics half through the C interface, against a collector on 127.0.0.1.
class CAnalyticsTest : public CInterfaceTest {
 protected:
  CAnalyticsTest() {
    const auto endpoints = collector_.endpoints();
    EXPECT_EQ(
        loomset_set_collector(endpoints.plainBaseUrl.c_str(), endpoints.secureBaseUrl.c_str()),
        LOOMSET_OK);
    plu_log::setSharedLogger(pluLog_);
    PLUInstanceControl::setDispatcherFactory(nullptr);
    PLUInstanceControl::resetSharedInstance();
  }
  ~CAnalyticsTest() override {
    loomset_tracker_release(tracker_);
    PLUInstanceControl::resetSharedInstance();
    PLUInternal::thread()->postAndWait([] {});
    PLUCollectorEndpoints::setShared(PLUCollectorEndpoints());
    plu_log::setSharedLogger(std::make_shared<PLUDefaultLogger>());
  }

  int dispatchAndWait() {
    std::promise<int> outcome;
    EXPECT_EQ(loomset_dispatch(
                  [](void* data, int result) {
                    static_cast<std::promise<int>*>(data)->set_value(result);
                  },
                  &outcome),
              LOOMSET_OK);
    auto future = outcome.get_future();
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return -1;
    return future.get();
  }

  testing::PLUCollector collector_;
  std::shared_ptr<testing::PLURecordingLogger> pluLog_ =
      std::make_shared<testing::PLURecordingLogger>();
  loomset_tracker* tracker_ = nullptr;
};

TEST_F(CAnalyticsTest, TrackerFieldsHitsDispatchAndOptOut) {
  ASSERT_EQ(loomset_tracker_create("shop", "UA-C-1", &tracker_), LOOMSET_OK)
      << loomset_last_error();
  ASSERT_EQ(loomset_tracker_set(tracker_, "&cd", kNulText.data(), kNulText.size()), LOOMSET_OK);
  char* text = nullptr;
  size_t length = 0;
  ASSERT_EQ(loomset_tracker_get(tracker_, "&cd", &text, &length), LOOMSET_OK);
  EXPECT_EQ(take(text, length), kNulText);
  ASSERT_EQ(loomset_tracker_get(tracker_, "&tid", &text, &length), LOOMSET_OK);
  EXPECT_EQ(take(text, length), "UA-C-1");
  // A NULL value stores nil: the field is gone.
  ASSERT_EQ(loomset_tracker_set(tracker_, "&cd", nullptr, 0), LOOMSET_OK);
  EXPECT_EQ(loomset_tracker_get(tracker_, "&cd", &text, &length), LOOMSET_ERROR_NOT_FOUND);

  const loomset_hit_field fields[] = {
      {"&t", "event", LOOMSET_NUL_TERMINATED}, {"&ec", "cart", 4}, {"&ea", "add\0ed", 6}};
  ASSERT_EQ(loomset_tracker_send(tracker_, fields, 3), LOOMSET_OK);
  EXPECT_EQ(dispatchAndWait(), 1);  // sent
  const auto hits = collector_.hits();
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].at("t"), "event");
  EXPECT_EQ(hits[0].at("tid"), "UA-C-1");
  EXPECT_EQ(hits[0].at("ea"), std::string("add\0ed", 6));

  int optedOut = -1;
  ASSERT_EQ(loomset_set_opt_out(1), LOOMSET_OK);
  ASSERT_EQ(loomset_opt_out(&optedOut), LOOMSET_OK);
  EXPECT_EQ(optedOut, 1);
  ASSERT_EQ(loomset_tracker_send(tracker_, fields, 3), LOOMSET_OK);
  EXPECT_EQ(dispatchAndWait(), 0);  // nothing to send
  EXPECT_EQ(collector_.hits().size(), 1u);
  ASSERT_EQ(loomset_set_opt_out(0), LOOMSET_OK);

  // A bounded flush sends what is stored and says so.
  ASSERT_EQ(loomset_tracker_send(tracker_, fields, 3), LOOMSET_OK);
  loomset_flush_result flushed{};
  ASSERT_EQ(loomset_analytics_flush(10, &flushed), LOOMSET_OK) << loomset_last_error();
  EXPECT_EQ(flushed.hits_sent, 1u);
  EXPECT_EQ(flushed.hits_left, 0);
  EXPECT_EQ(flushed.timed_out, 0);
  EXPECT_EQ(collector_.hits().size(), 2u);
  ASSERT_EQ(loomset_tracker_send(tracker_, fields, 3), LOOMSET_OK);
  ASSERT_EQ(loomset_flush(10, &flushed), LOOMSET_OK) << loomset_last_error();
  EXPECT_EQ(flushed.hits_sent, 1u);
  EXPECT_EQ(flushed.pixels_left, 0);
  EXPECT_EQ(collector_.hits().size(), 3u);
  EXPECT_EQ(loomset_flush(-1, nullptr), LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_analytics_flush(std::nan(""), nullptr), LOOMSET_ERROR_INVALID_ARGUMENT);

  const loomset_hit_field keyless[] = {{nullptr, "x", 1}};
  EXPECT_EQ(loomset_tracker_send(tracker_, keyless, 1), LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_tracker_send(tracker_, nullptr, 2), LOOMSET_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(loomset_tracker_send(nullptr, fields, 3), LOOMSET_ERROR_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace loomset
