#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "container/MOXFunctionCallHandlers.h"
#include "container/MOXFunctionCallMacroHandlerAdapter.h"
#include "container/MOXFunctionCallTagHandlerAdapter.h"
#include "loomset/MOXResourceUtil.h"
#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "runtime/macros/MOXCustomFunctionCall.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using namespace testing;

using Registry = MOXFunctionCallHandlers;

// Records each call's name and parameters (as text); answers `answer`, or throws when asked to.
class Recorder : public MOXFunctionCallTagHandler, public MOXFunctionCallMacroHandler {
 public:
  explicit Recorder(ObjectPtr answer = nullptr, bool throws = false)
      : answer_(std::move(answer)), throws_(throws) {}
  void execute(const std::string& name, const std::shared_ptr<Dictionary>& parameters) override {
    record(name, parameters);
  }
  ObjectPtr valueForMacro(const std::string& name,
                          const std::shared_ptr<Dictionary>& parameters) override {
    record(name, parameters);
    return answer_;
  }
  std::vector<std::string> calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }
  std::shared_ptr<Dictionary> lastParameters() {
    std::lock_guard<std::mutex> lock(mu_);
    return last_;
  }

 private:
  void record(const std::string& name, const std::shared_ptr<Dictionary>& parameters) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      calls_.push_back(name + " " + describe(parameters));
      last_ = parameters;
    }
    if (throws_) throw std::runtime_error("handler failed");
  }
  const ObjectPtr answer_;
  const bool throws_;
  std::mutex mu_;
  std::vector<std::string> calls_;
  std::shared_ptr<Dictionary> last_;
};

class CustomFunctionCallTest : public ::testing::Test {
 protected:
  ValuePtr callMacro(const std::string& name, ValuePtr additional = nullptr) {
    MOXParameterMap parameters;
    parameters.append("function", fnValue("_func"));
    parameters.append("function_call_macro_name", strValue(name));
    if (additional) parameters.append("additional_params", additional);
    return macro.evaluate(parameters);
  }
  std::string text(const ValuePtr& value) { return MOXTypes::valueToString(value)->text(); }

  std::shared_ptr<Registry> registry = std::make_shared<Registry>();
  std::shared_ptr<MOXFunctionCallMacroHandlerAdapter> macroAdapter =
      std::make_shared<MOXFunctionCallMacroHandlerAdapter>(registry);
  std::shared_ptr<MOXFunctionCallTagHandlerAdapter> tagAdapter =
      std::make_shared<MOXFunctionCallTagHandlerAdapter>(registry);
  MOXCustomFunctionCall macro{macroAdapter};
};

TEST_F(CustomFunctionCallTest, HandlersReceiveTheAdditionalParametersWithTextKeys) {
  EXPECT_EQ(macro.instanceFunctionId(), "_func");
  EXPECT_EQ(macro.requiredKeys(), std::vector<std::string>{"function_call_macro_name"});
  EXPECT_FALSE(macro.isCacheable());

  auto handler = std::make_shared<Recorder>(obj::str("answer"));
  registry->registerFunctionCallMacroHandler(handler, "m");
  ScopedRecordingLogger log;
  const ValuePtr result =
      callMacro("m", mapValue({{intValue(7), strValue("seven")},
                               {strValue("list"), listValue({intValue(1), boolValue(true)})},
                               {boolValue(false), mapValue({{strValue("in"), intValue(2)}})}}));
  EXPECT_EQ(text(result), "answer");

  const auto parameters = handler->lastParameters();
  ASSERT_TRUE(parameters);
  ASSERT_EQ(parameters->count(), 3u);
  // Every key arrives as text, whatever its kind in the container; the values as converted.
  for (const auto& entry : parameters->entries()) {
    EXPECT_TRUE(asString(entry.first)) << describe(entry.first);
  }
  EXPECT_EQ(describe(parameters->objectForKey(std::string_view("7"))), "seven");
  const Array* list = asArray(parameters->objectForKey(std::string_view("list")));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->count(), 2u);
  EXPECT_TRUE(asNumber(list->objectAtIndex(0)));
  EXPECT_TRUE(asBoolean(list->objectAtIndex(1)));
  EXPECT_TRUE(asDictionary(parameters->objectForKey(std::string_view("false"))));

  // Without "additional_params" the handler gets an empty dictionary, a new one each time.
  callMacro("m");
  ASSERT_TRUE(handler->lastParameters());
  EXPECT_EQ(handler->lastParameters()->count(), 0u);
  EXPECT_NE(handler->lastParameters(), parameters);
  EXPECT_TRUE(log->lines().empty());
}

TEST_F(CustomFunctionCallTest, ParametersThatAreNotAMapNeverReachTheHandler) {
  auto handler = std::make_shared<Recorder>(obj::str("answer"));
  registry->registerFunctionCallMacroHandler(handler, "m");
  ScopedRecordingLogger log;
  EXPECT_EQ(callMacro("m", listValue({strValue("a")})), MOXTypes::defaultValue());
  EXPECT_EQ(callMacro("m", strValue("k=v")), MOXTypes::defaultValue());
  EXPECT_EQ(log->count("FunctionCallMacro: expected additional_params to be a map."), 2);
  EXPECT_TRUE(handler->calls().empty());
}

TEST_F(CustomFunctionCallTest, HandlerAnswersConvertToValues) {
  auto answer = [&](ObjectPtr object) {
    registry->registerFunctionCallMacroHandler(std::make_shared<Recorder>(std::move(object)), "m");
    return callMacro("m");
  };
  EXPECT_EQ(answer(obj::str("hi"))->string(), "hi");
  const ValuePtr number = answer(obj::i64(-42));
  EXPECT_EQ(number->type(), MOXPValue::Integer);
  EXPECT_EQ(number->integer(), -42);
  const ValuePtr flag = answer(obj::boolean(true));
  EXPECT_EQ(flag->type(), MOXPValue::Boolean);
  EXPECT_TRUE(flag->boolean());
  // There is no floating kind of Value: the number travels as its text.
  const ValuePtr floating = answer(obj::dbl(2.5));
  EXPECT_EQ(floating->type(), MOXPValue::String);
  EXPECT_EQ(floating->string(), "2.5");
  EXPECT_EQ(answer(obj::array({obj::str("a"), obj::i64(1)}))->list_item_size(), 2);
  EXPECT_EQ(answer(obj::dict({{"k", obj::str("v")}}))->map_key_size(), 1);

  ScopedRecordingLogger log;
  EXPECT_EQ(answer(nullptr), MOXTypes::defaultValue());
  EXPECT_FALSE(log->lines().empty());  // the conversion's error line
  log->clear();
  registry->registerFunctionCallMacroHandler(nullptr, "m");
  EXPECT_EQ(callMacro("m"), MOXTypes::defaultValue());
  EXPECT_FALSE(log->lines().empty());
}

TEST_F(CustomFunctionCallTest, ThrowingHandlersAreLoggedAndAnswerTheDefault) {
  registry->registerFunctionCallMacroHandler(
      std::make_shared<Recorder>(obj::str("x"), /*throws=*/true), "bad");
  ScopedRecordingLogger log;
  EXPECT_EQ(callMacro("bad"), MOXTypes::defaultValue());
  EXPECT_EQ(log->count("Custom macro/tag bad threw exception handler failed"), 1);

  // Something that is not a std::exception is caught too.
  struct Odd {};
  class OddEvaluator : public MOXCustomEvaluator {
    ObjectPtr evaluate(const std::string&, const std::shared_ptr<Dictionary>&) override {
      throw Odd{};
    }
  };
  MOXCustomFunctionCall odd(std::make_shared<OddEvaluator>());
  MOXParameterMap parameters;
  parameters.append("function_call_macro_name", strValue("odd"));
  EXPECT_EQ(odd.evaluate(parameters), MOXTypes::defaultValue());
  EXPECT_EQ(log->count("Custom macro/tag odd threw exception"), 1);

  // No evaluator at all (a runtime built without one) is no failure.
  MOXCustomFunctionCall none(nullptr);
  EXPECT_EQ(none.evaluate(parameters), MOXTypes::defaultValue());
}

TEST_F(CustomFunctionCallTest, AdaptersLookHandlersUpOnEveryCallAndHoldTheContainerWeakly) {
  auto tagHandler = std::make_shared<Recorder>();
  auto macroHandler = std::make_shared<Recorder>(obj::str("macro"));
  ScopedRecordingLogger log;
  // No tag handler: nothing is called, nothing logged, and the answer is the default string.
  EXPECT_EQ(tagAdapter->evaluate("same", Dictionary::create()), MOXTypes::defaultString());
  EXPECT_TRUE(log->lines().empty());

  // One name, two registries: each adapter reaches only its own kind of handler.
  registry->registerFunctionCallTagHandler(tagHandler, "same");
  registry->registerFunctionCallMacroHandler(macroHandler, "same");
  tagAdapter->evaluate("same", obj::dict({{"a", obj::i64(1)}}));
  tagAdapter->evaluate("other", Dictionary::create());
  EXPECT_EQ(describe(macroAdapter->evaluate("same", Dictionary::create())), "macro");
  EXPECT_EQ(tagHandler->calls().size(), 1u);
  EXPECT_EQ(macroHandler->calls().size(), 1u);

  // A replaced handler is used from then on.
  auto replacement = std::make_shared<Recorder>(obj::str("new"));
  registry->registerFunctionCallMacroHandler(replacement, "same");
  EXPECT_EQ(describe(macroAdapter->evaluate("same", Dictionary::create())), "new");

  // The container owns the runtime that owns the adapters; once it is gone they find nothing.
  std::weak_ptr<Registry> weak = registry;
  registry.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(macroAdapter->container(), nullptr);
  EXPECT_EQ(macroAdapter->evaluate("same", Dictionary::create()), nullptr);
  EXPECT_EQ(tagAdapter->evaluate("same", Dictionary::create()), MOXTypes::defaultString());
  EXPECT_EQ(tagHandler->calls().size(), 1u);

  auto second = std::make_shared<Registry>();
  second->registerFunctionCallMacroHandler(replacement, "same");
  macroAdapter->setContainer(second);
  EXPECT_EQ(describe(macroAdapter->evaluate("same", Dictionary::create())), "new");
}

// "_func" as a resource uses it: a serving resource with a "_func" macro and three tags fired by
// one event, one of whose handlers throws.
class CustomFunctionCallRuntimeTest : public CustomFunctionCallTest {
 protected:
  void SetUp() override {
    ServingResourceBuilder s;
    const int func = s.addFunctionId("_func");
    const int count = s.addFunctionId("count_tag");
    const int greeting = s.addString("greeting");
    const int seven = s.addInteger(7);
    const int colour = s.addString("colour");
    const int blue = s.addString("blue");
    const int params = s.addMap({seven, colour}, {blue, blue});
    s.addMacro({{"instance_name", greeting},
                {"function", func},
                {"function_call_macro_name", greeting},
                {"additional_params", params}});
    const int boom = s.addString("boom");
    const int fine = s.addString("fine");
    const int counted = s.addString("counted");
    MOXPRule* rule = s.addRule();
    rule->add_add_tag(s.addTag({{"function", func}, {"function_call_macro_name", boom}}));
    rule->add_add_tag(s.addTag(
        {{"function", func}, {"function_call_macro_name", fine}, {"additional_params", params}}));
    rule->add_add_tag(s.addTag({{"function", count}, {"name", counted}}));

    runtime = MOXRuntime::runtimeWithResource(MOXResourceUtil::expandResourceFromBytes(s.bytes()),
                                              MOXDataLayer::create(), macroAdapter, tagAdapter);
    ASSERT_TRUE(runtime);
    // The built-in registration makes "_func" from the two adapters.
    ASSERT_TRUE(runtime->macroMap().count("_func"));
    ASSERT_TRUE(runtime->trackingTagMap().count("_func"));
    counter = std::make_shared<CountingTag>("count_tag");
    runtime->addTrackingTag(counter);
  }

  std::shared_ptr<MOXRuntime> runtime;
  std::shared_ptr<CountingTag> counter;
};

TEST_F(CustomFunctionCallRuntimeTest, MacroHandlerIsAskedOnEveryLookup) {
  ScopedRecordingLogger log;
  // Registered after the runtime was built: still found.
  auto handler = std::make_shared<Recorder>(obj::str("hello"));
  EXPECT_EQ(runtime->evaluateMacroReference("greeting").value(), MOXTypes::defaultValue());
  registry->registerFunctionCallMacroHandler(handler, "greeting");
  for (int i = 0; i < 3; ++i) {
    const MOXPValueAndStatic result = runtime->evaluateMacroReference("greeting");
    EXPECT_EQ(text(result.value()), "hello");
    EXPECT_FALSE(result.isStatic());
  }
  // All properties are constant, yet "_func" is never cached.
  ASSERT_EQ(handler->calls().size(), 3u);
  EXPECT_EQ(handler->calls()[0], "greeting {7 = blue, colour = blue}");
}

TEST_F(CustomFunctionCallRuntimeTest, ThrowingTagHandlerDoesNotStopTheOtherTags) {
  auto boom = std::make_shared<Recorder>(nullptr, /*throws=*/true);
  auto fine = std::make_shared<Recorder>();
  registry->registerFunctionCallTagHandler(boom, "boom");
  registry->registerFunctionCallTagHandler(fine, "fine");
  // A macro handler of the same name is no tag handler.
  auto macroOnly = std::make_shared<Recorder>(obj::str("x"));
  registry->registerFunctionCallMacroHandler(macroOnly, "fine");

  ScopedRecordingLogger log;
  EXPECT_NO_THROW(runtime->evaluateTags("go"));
  EXPECT_NO_THROW(runtime->evaluateTags("go"));
  EXPECT_EQ(boom->calls().size(), 2u);
  EXPECT_EQ(fine->calls(), (std::vector<std::string>(2, "fine {7 = blue, colour = blue}")));
  EXPECT_EQ(counter->fired(), 2);
  EXPECT_TRUE(macroOnly->calls().empty());
  EXPECT_EQ(log->count("Custom macro/tag boom threw exception handler failed"), 2);
}

}  // namespace
}  // namespace loomset
