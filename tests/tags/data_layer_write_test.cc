#include <gtest/gtest.h>

#include "loomset/MOXRuntime.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"
#include "support/RecordingLogger.h"
#include "support/RuntimeTestSupport.h"
#include "tags/MOXDataLayerWrite.h"

namespace loomset {
namespace {

using namespace testing;

class Recorder : public MOXDataLayerListener {
 public:
  std::function<void(const std::shared_ptr<Dictionary>&)> onChange;
  std::vector<std::string> updates;
  void changed(const std::shared_ptr<Dictionary>& update) override {
    updates.push_back(MOXTypes::objectToString(update)->text());
    if (onChange) onChange(update);
  }
};

MOXParameterMap params(std::vector<std::pair<std::string, ValuePtr>> entries) {
  MOXParameterMap map;
  map.append("function", fnValue("_dlw"));
  for (auto& [key, value] : entries) map.append(key, value);
  return map;
}

TEST(DataLayerWrite, PushesEachMapOfTheListThenClears) {
  auto dataLayer = MOXDataLayer::create();
  auto recorder = std::make_shared<Recorder>();
  dataLayer->registerListener(recorder);
  MOXDataLayerWrite tag(dataLayer);
  EXPECT_FALSE(tag.isCacheable());

  ScopedRecordingLogger log;
  const ValuePtr result = tag.evaluate(
      params({{"value", listValue({mapValue({{strValue("a"), intValue(1)}}), strValue("skip"),
                                   mapValue({{strValue("b"), intValue(2)}})})}}));
  EXPECT_EQ(result, MOXTypes::defaultValue());
  EXPECT_EQ(recorder->updates, (std::vector<std::string>{"{a=1}", "{b=2}"}));

  // A single map, or a list without maps, pushes nothing; neither logs.
  tag.evaluate(params({{"value", mapValue({{strValue("c"), intValue(3)}})}}));
  tag.evaluate(params({{"value", listValue({strValue("x")})}}));
  EXPECT_EQ(recorder->updates.size(), 2u);
  EXPECT_TRUE(log->lines().empty());

  // The push comes first, so the prefix clears what this firing wrote under it.
  tag.evaluate(
      params({{"value",
               listValue({mapValue({{strValue("a"), mapValue({{strValue("b"), intValue(1)}})}})})},
              {"clear_data_layer_prefix", strValue("a")}}));
  EXPECT_TRUE(isNull(dataLayer->get("a")));
  // A prefix that does not convert to text clears nothing.
  dataLayer->push(obj::dict({{"keep", obj::i64(1)}}));
  tag.evaluate(params({{"value", listValue({})}, {"clear_data_layer_prefix", fnValue("keep")}}));
  EXPECT_EQ(MOXTypes::getInt64(dataLayer->get("keep")), 1);
}

// The container's manager forwards each event to its runtime; nested pushes from a tag are
// queued behind the update being delivered and so raise their events afterwards.
TEST(DataLayerWrite, PushesDuringAnEventAreDeliveredBreadthFirst) {
  auto dataLayer = MOXDataLayer::create();
  MOXExpandedResourceBuilder b;
  b.addMacro(makeCall({{"instance_name", strValue("event")}, {"function", fnValue("_e")}}));
  auto writer =
      makeCall({{"function", fnValue("_dlw")},
                {"value", listValue({mapValue({{strValue("event"), strValue("second")}}),
                                     mapValue({{strValue("event"), strValue("third")}})})}});
  auto recorder = makeCall({{"function", fnValue("count_tag")}, {"name", refValue("event")}});
  b.addRule(MOXExpandedRule::builder()
                .addPositivePredicate(predicateCall("_eq", refValue("event"), strValue("first")))
                .addAddTag(writer)
                .build());
  b.addRule(MOXExpandedRule::builder().addAddTag(recorder).build());
  auto runtime = MOXRuntime::runtimeWithResource(b.build(), dataLayer, nullptr, nullptr);
  auto counting = std::make_shared<CountingTag>("count_tag");
  runtime->addTrackingTag(counting);

  auto forwarder = std::make_shared<Recorder>();
  forwarder->onChange = [&](const std::shared_ptr<Dictionary>& update) {
    if (const String* event = asString(update->objectForKey("event"))) {
      runtime->evaluateTags(event->text());
    }
  };
  dataLayer->registerListener(forwarder);
  dataLayer->push(obj::dict({{"event", obj::str("first")}}));

  EXPECT_EQ(counting->names(), (std::vector<std::string>{"first", "second", "third"}));
  EXPECT_EQ(forwarder->updates,
            (std::vector<std::string>{"{event=first}", "{event=second}", "{event=third}"}));
  EXPECT_FALSE(runtime->currentEventName().has_value());
}

}  // namespace
}  // namespace loomset
