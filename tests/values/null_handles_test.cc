// The public builders are the door through which an application hands objects and Values in: a
// null handle is refused there with IllegalArgumentException, instead of being stored and
// dereferenced later by a lookup or a conversion.
#include <gtest/gtest.h>

#include "loomset/Exceptions.h"
#include "loomset/MOXExpandedFunctionCall.h"
#include "loomset/Objects.h"
#include "support/RuntimeTestSupport.h"

namespace loomset {
namespace {

using obj::null;
using obj::str;
using testing::fnValue;
using testing::strValue;

TEST(NullHandles, ArraysRefuseNullItems) {
  EXPECT_THROW(Array::create({str("a"), nullptr}), IllegalArgumentException);
  EXPECT_THROW(Array(std::vector<ObjectPtr>{nullptr}), IllegalArgumentException);
  // Objects are fine, and so is the null object, which is not a null handle.
  EXPECT_EQ(Array::create({str("a"), null()})->count(), 2u);
}

TEST(NullHandles, CallsRefuseNullPropertyValues) {
  EXPECT_THROW(MOXExpandedFunctionCall::builder().addPropertyWithValue(nullptr, "value"),
               IllegalArgumentException);
  EXPECT_THROW(MOXExpandedFunctionCall({{"function", fnValue("_c")}, {"value", nullptr}}, nullptr),
               IllegalArgumentException);
  // No push value is simply none.
  auto call = MOXExpandedFunctionCall::builder()
                  .addPropertyWithValue(strValue("x"), "value")
                  .setPushAfterEvaluate(nullptr)
                  .build();
  EXPECT_EQ(call->pushAfterEvaluate(), nullptr);
}

}  // namespace
}  // namespace loomset
