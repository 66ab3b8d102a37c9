#include "runtime/MOXExperimentMacroHelper.h"

#include <exception>
#include <limits>
#include <string>

#include "loomset/MOXLog.h"
#include "loomset/MOXTypes.h"
#include "loomset/Objects.h"

namespace loomset {

namespace {

// Pushes made here run the data layer's listeners, and with them the rules of every open
// container. Whatever they throw stays here: the supplemental's other items still apply, and the
// resource that carried it is applied all the same.
template <typename Work>
void guarded(const char* what, Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    MOXLog::warning(std::string(what) + " failed: " + e.what());
  } catch (...) {
    MOXLog::warning(std::string(what) + " failed");
  }
}

// Uniform in [0, 2^64), from 16-bit draws (RandomSource bounds are 32-bit).
std::uint64_t draw64(RandomSource& random) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) bits = (bits << 16) | random.uniform(1u << 16);
  return bits;
}

}  // namespace

void MOXExperimentMacroHelper::handleExperimentSupplemental(
    const std::shared_ptr<MOXDataLayer>& dataLayer, const MOXPSupplemental& supplemental) {
  if (!supplemental.has_experiment_supplemental()) {
    MOXLog::warning("supplemental missing experimentSupplemental");
    return;
  }
  if (!dataLayer) return;
  const MOXPQzExperimentSupplemental& experiment = supplemental.experiment_supplemental();
  clearKeys(*dataLayer, experiment);
  pushValues(*dataLayer, experiment);
  setRandomValues(*dataLayer, experiment);
}

void MOXExperimentMacroHelper::clearKeys(MOXDataLayer& dataLayer,
                                         const MOXPQzExperimentSupplemental& experiment) {
  for (const MOXPValue& value : experiment.value_to_clear()) {
    const std::string prefix = MOXTypes::valueToString(&value)->text();
    guarded("Experiment clear", [&] { dataLayer.clearPersistentKeysWithPrefix(prefix); });
  }
}

void MOXExperimentMacroHelper::pushValues(MOXDataLayer& dataLayer,
                                          const MOXPQzExperimentSupplemental& experiment) {
  for (const MOXPValue& value : experiment.value_to_push()) {
    const ObjectPtr object = MOXTypes::valueToObject(&value);
    if (!asDictionary(object)) {
      MOXLog::warning("value: " + describe(object) + " is not a map value, ignored.");
      continue;
    }
    guarded("Experiment push",
            [&] { dataLayer.push(std::static_pointer_cast<Dictionary>(object)); });
  }
}

std::int64_t MOXExperimentMacroHelper::drawInRange(RandomSource& random, std::int64_t minRandom,
                                                   std::int64_t maxRandom) {
  // Unsigned arithmetic: the width of [INT64_MIN, INT64_MAX] does not fit a signed integer.
  const std::uint64_t width =
      static_cast<std::uint64_t>(maxRandom) - static_cast<std::uint64_t>(minRandom);
  std::uint64_t offset;
  if (width <= std::numeric_limits<std::uint32_t>::max()) {
    offset = random.uniform(static_cast<std::uint32_t>(width));
  } else {
    // Wider ranges are drawn over their full width: cut to 32 bits, a width of exactly 2^32
    // would always give minRandom. Rejecting the low end keeps the draw uniform.
    const std::uint64_t threshold = (0 - width) % width;
    std::uint64_t bits;
    do {
      bits = draw64(random);
    } while (bits < threshold);
    offset = bits % width;
  }
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(minRandom) + offset);
}

void MOXExperimentMacroHelper::setRandomValues(MOXDataLayer& dataLayer,
                                               const MOXPQzExperimentSupplemental& experiment) {
  for (const MOXPQzExperimentRandom& entry : experiment.experiment_random()) {
    if (!entry.has_key() || entry.key().empty()) {
      MOXLog::warning("QzExperimentRandom: No key");
      continue;
    }
    const std::string& key = entry.key();
    const std::int64_t minRandom = entry.min_random();
    const std::int64_t maxRandom = entry.max_random();

    ObjectPtr chosen;
    const ObjectPtr current = dataLayer.get(key);
    if (const Number* number = asNumber(current); number && entry.retain_original_value()) {
      const std::int64_t held = number->longLongValue();
      if (minRandom <= held && held <= maxRandom) chosen = current;
    }
    if (!chosen) {
      if (maxRandom < minRandom) {
        MOXLog::warning("QzExperimentRandom: random range invalid");
        continue;
      }
      const auto platform = Platform::current();
      chosen = Number::int64(drawInRange(*platform->random, minRandom, maxRandom));
    }

    guarded("QzExperimentRandom", [&] {
      dataLayer.clearPersistentKeysWithPrefix(key);
      const std::shared_ptr<Dictionary> update = MOXDataLayer::expandKey(key, chosen);
      if (update->count() == 0) return;  // a key the data layer refused (logged there)
      if (entry.lifetime_in_milliseconds() > 0) {
        const ObjectPtr lifetime = Number::int64(entry.lifetime_in_milliseconds());
        const ObjectPtr wen = update->objectForKey(std::string_view("wen"));
        if (!wen) {
          auto fresh = Dictionary::create();
          fresh->setObject(lifetime, "lifetime");
          update->setObject(fresh, "wen");
        } else if (Dictionary* wenMap = asDictionary(wen)) {
          // expandKey built this map for this update alone, so it may be changed in place.
          wenMap->setObject(lifetime, "lifetime");
        } else {
          MOXLog::warning("QzExperimentRandom: wen not a map");
        }
      }
      dataLayer.push(update);
    });
  }
}

std::shared_ptr<Dictionary> MOXExperimentMacroHelper::valueToMap(const MOXPValue& value) {
  const ObjectPtr object = MOXTypes::valueToObject(&value);
  if (!asDictionary(object)) return nullptr;
  return std::static_pointer_cast<Dictionary>(object);
}

}  // namespace loomset
