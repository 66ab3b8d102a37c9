#include "runtime/MOXExperimentMacroHelper.h"

#include "loomset/MOXLog.h"

namespace loomset {

// Recognises experiment supplementals; clearing, pushing and drawing variants are carried out
// with the experiment macros, which replace the body below.
void MOXExperimentMacroHelper::handleExperimentSupplemental(
    const std::shared_ptr<MOXDataLayer>& dataLayer, const MOXPSupplemental& supplemental) {
  (void)dataLayer;
  if (!supplemental.has_experiment_supplemental()) {
    MOXLog::warning("supplemental missing experimentSupplemental");
    return;
  }
  MOXLog::debug("Experiment supplemental " + supplemental.name() + " not applied yet");
}

}  // namespace loomset
