#include "runtime/MOXBuiltInImplementations.h"

#include "container/MOXPixelNetworking.h"

#include "runtime/macros/MOXAdvertiserId.h"
#include "runtime/macros/MOXApplicationMacros.h"
#include "runtime/macros/MOXCliquetClickReferrer.h"
#include "runtime/macros/MOXConstantMacro.h"
#include "runtime/macros/MOXCustomFunctionCall.h"
#include "runtime/macros/MOXDataLayerMacro.h"
#include "runtime/macros/MOXDeviceMacros.h"
#include "runtime/macros/MOXEncode.h"
#include "runtime/macros/MOXEventMacro.h"
#include "runtime/macros/MOXHashMacro.h"
#include "runtime/macros/MOXJoinerMacro.h"
#include "runtime/macros/MOXLanguage.h"
#include "runtime/macros/MOXRandom.h"
#include "runtime/macros/MOXRegexGroup.h"
#include "runtime/macros/MOXResolution.h"
#include "runtime/macros/MOXTime.h"
#include "runtime/macros/MOXVersionMacros.h"
#include "runtime/predicates/MOXNumberPredicate.h"
#include "runtime/predicates/MOXRegex.h"
#include "runtime/predicates/MOXStringPredicate.h"
#include "tags/MOXArbitraryPixel.h"
#include "tags/MOXDataLayerWrite.h"
#include "tags/MOXQuorra.h"

namespace loomset {

void registerBuiltInImplementations(MOXRuntime& runtime,
                                    const std::shared_ptr<MOXCustomEvaluator>& macroEvaluator,
                                    const std::shared_ptr<MOXCustomEvaluator>& tagEvaluator) {
  // A pixel tag stores its hits through the shared pixel dispatcher, which sends them through
  // the container half's network.
  installPixelNetworking();
  runtime.addTrackingTag(std::make_shared<MOXCustomFunctionCall>(tagEvaluator));
  runtime.addTrackingTag(std::make_shared<MOXArbitraryPixel>());
  runtime.addTrackingTag(std::make_shared<MOXDataLayerWrite>(runtime.dataLayer()));
  runtime.addTrackingTag(std::make_shared<MOXQuorra>(runtime.dataLayer()));

  runtime.addPredicate(std::make_shared<MOXContains>());
  runtime.addPredicate(std::make_shared<MOXEndsWith>());
  runtime.addPredicate(std::make_shared<MOXEquals>());
  runtime.addPredicate(std::make_shared<MOXGreaterEquals>());
  runtime.addPredicate(std::make_shared<MOXGreaterThan>());
  runtime.addPredicate(std::make_shared<MOXLessEquals>());
  runtime.addPredicate(std::make_shared<MOXLessThan>());
  runtime.addPredicate(std::make_shared<MOXRegex>());
  runtime.addPredicate(std::make_shared<MOXStartsWith>());

  runtime.addMacro(std::make_shared<MOXAdvertiserId>());
  runtime.addMacro(std::make_shared<MOXAdvertiserIdFixed>());
  runtime.addMacro(std::make_shared<MOXAdvertisingTrackingEnabledMacro>());
  runtime.addMacro(std::make_shared<MOXCliquetClickReferrer>());
  runtime.addMacro(std::make_shared<MOXAppId>());
  runtime.addMacro(std::make_shared<MOXAppName>());
  runtime.addMacro(std::make_shared<MOXAppVersion>());
  runtime.addMacro(std::make_shared<MOXConstantMacro>());
  runtime.addMacro(std::make_shared<MOXContainerVersionMacro>(runtime.resource()->version()));
  runtime.addMacro(std::make_shared<MOXCustomFunctionCall>(macroEvaluator));
  runtime.addMacro(std::make_shared<MOXDataLayerMacro>(runtime.dataLayer()));
  runtime.addMacro(std::make_shared<MOXDeviceName>());
  runtime.addMacro(std::make_shared<MOXEncode>());
  runtime.addMacro(std::make_shared<MOXEventMacro>(runtime.weak_from_this()));
  runtime.addMacro(std::make_shared<MOXWenVersionMacro>());
  runtime.addMacro(std::make_shared<MOXHashMacro>());
  runtime.addMacro(std::make_shared<MOXJoinerMacro>());
  runtime.addMacro(std::make_shared<MOXLanguage>());
  runtime.addMacro(std::make_shared<MOXMobileCliquetUniqueIdMacro>());
  runtime.addMacro(std::make_shared<MOXOsVersion>());
  runtime.addMacro(std::make_shared<MOXPlatform>());
  runtime.addMacro(std::make_shared<MOXRandom>());
  runtime.addMacro(std::make_shared<MOXRegexGroup>());
  runtime.addMacro(std::make_shared<MOXResolution>());
  runtime.addMacro(std::make_shared<MOXRuntimeVersion>());
  runtime.addMacro(std::make_shared<MOXSdkVersion>());
  runtime.addMacro(std::make_shared<MOXTime>());
}

}  // namespace loomset
