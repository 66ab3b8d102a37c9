#include "capi/CHandlers.h"

#include <string>

#include "capi/CErrors.h"
#include "capi/CJson.h"
#include "capi/CText.h"
#include "loomset/MOXLog.h"
#include "loomset/Objects.h"

namespace loomset::capi {

namespace {

void release(loomset_release_fn fn, void* userData) noexcept {
  if (!fn) return;
  try {
    fn(userData);
  } catch (...) {
    MOXLog::error("A C handler's release function failed");
  }
}

}  // namespace

CTagHandler::~CTagHandler() {
  release(release_, userData_);
}

void CTagHandler::execute(const std::string& tagName,
                          const std::shared_ptr<Dictionary>& parameters) {
  try {
    const std::string json = jsonTextFromObject(parameters ? parameters : Dictionary::create());
    handler_(userData_, tagName.c_str(), json.c_str(), json.size());
  } catch (const std::exception& e) {
    MOXLog::error("The C handler of tag " + tagName + " failed: " + e.what());
  } catch (...) {
    MOXLog::error("The C handler of tag " + tagName + " failed");
  }
}

CMacroHandler::~CMacroHandler() {
  release(release_, userData_);
}

ObjectPtr CMacroHandler::valueForMacro(const std::string& macroName,
                                       const std::shared_ptr<Dictionary>& parameters) {
  try {
    const std::string json = jsonTextFromObject(parameters ? parameters : Dictionary::create());
    loomset_macro_result result;
    if (handler_(userData_, macroName.c_str(), json.c_str(), json.size(), &result) != 0) {
      return nullptr;
    }
    return result.value;
  } catch (const std::exception& e) {
    MOXLog::error("The C handler of macro " + macroName + " failed: " + e.what());
  } catch (...) {
    MOXLog::error("The C handler of macro " + macroName + " failed");
  }
  return nullptr;
}

}  // namespace loomset::capi

using loomset::capi::fail;
using loomset::capi::guarded;
using loomset::capi::textArgument;

extern "C" {

loomset_status loomset_macro_result_set_string(loomset_macro_result* result, const char* text,
                                               size_t length) {
  return guarded([&] {
    if (!result || (!text && length != 0 && length != LOOMSET_NUL_TERMINATED)) {
      return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no result or text");
    }
    result->value = loomset::String::create(std::string(textArgument(text, length)));
    return LOOMSET_OK;
  });
}

loomset_status loomset_macro_result_set_int64(loomset_macro_result* result, int64_t value) {
  return guarded([&] {
    if (!result) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no result");
    result->value = loomset::Number::int64(value);
    return LOOMSET_OK;
  });
}

loomset_status loomset_macro_result_set_double(loomset_macro_result* result, double value) {
  return guarded([&] {
    if (!result) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no result");
    result->value = loomset::Number::float64(value);
    return LOOMSET_OK;
  });
}

loomset_status loomset_macro_result_set_boolean(loomset_macro_result* result, int value) {
  return guarded([&] {
    if (!result) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no result");
    result->value = loomset::MOXBoolean::booleanWithBool(value != 0);
    return LOOMSET_OK;
  });
}

loomset_status loomset_macro_result_set_json(loomset_macro_result* result, const char* json,
                                             size_t length) {
  return guarded([&] {
    if (!result || !json) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "no result or JSON");
    loomset::ObjectPtr value = loomset::capi::objectFromJsonText(textArgument(json, length));
    if (!value) return fail(LOOMSET_ERROR_INVALID_ARGUMENT, "not JSON");
    result->value = std::move(value);
    return LOOMSET_OK;
  });
}

}  // extern "C"
