#include "tools/loomset/StrictJson.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <vector>

namespace loomset::tools {
namespace {

struct Frame {
  bool isObject;
  std::string path;
  std::set<std::string> keys;
  std::string lastKey;
  std::size_t nextIndex = 0;
};

// Follows the parser's events to know where it is, so that problems it finds can be named by
// path while the document is still being read.
class PathTracker {
 public:
  explicit PathTracker(std::size_t maxNesting) : maxNesting_(maxNesting) {}

  bool operator()(int, nlohmann::json::parse_event_t event, Json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    switch (event) {
      case Event::object_start:
      case Event::array_start: {
        std::string path = nextElementPath();
        if (frames_.size() >= maxNesting_) {
          throw JsonInputError(path,
                               "nested more than " + std::to_string(maxNesting_) + " levels deep");
        }
        frames_.push_back(Frame{event == Event::object_start, std::move(path), {}, {}, 0});
        break;
      }
      case Event::object_end:
      case Event::array_end:
        frames_.pop_back();
        break;
      case Event::key: {
        Frame& top = frames_.back();
        std::string key = parsed.get<std::string>();
        if (!top.keys.insert(key).second) {
          throw JsonInputError(memberPath(top.path, key), "duplicate member");
        }
        top.lastKey = std::move(key);
        break;
      }
      case Event::value:
        nextElementPath();
        break;
    }
    return true;
  }

 private:
  std::string nextElementPath() {
    if (frames_.empty()) return "$";
    Frame& top = frames_.back();
    if (top.isObject) return memberPath(top.path, top.lastKey);
    return elementPath(top.path, top.nextIndex++);
  }

  const std::size_t maxNesting_;
  std::vector<Frame> frames_;
};

std::string lineAndColumn(std::string_view text, std::size_t byte) {
  // The parser counts the offending character itself; point at it.
  std::size_t line = 1, column = 1;
  const std::size_t end = std::min(byte > 0 ? byte - 1 : 0, text.size());
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool isPlainName(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

}  // namespace

Json parseStrictJson(std::string_view text, std::size_t maxNesting) {
  PathTracker tracker(maxNesting);
  try {
    return Json::parse(text.begin(), text.end(), std::ref(tracker));
  } catch (const nlohmann::json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 1, column 5: <what went wrong>"
    std::string what = e.what();
    const std::size_t column = what.find("column");
    const std::size_t colon = what.find(": ", column == std::string::npos ? 0 : column);
    if (colon != std::string::npos) what = what.substr(colon + 2);
    throw JsonInputError(lineAndColumn(text, e.byte), what);
  }
}

std::string memberPath(const std::string& parent, std::string_view name) {
  if (isPlainName(name)) return parent + "." + std::string(name);
  return parent + "[" +
         nlohmann::json(std::string(name))
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
         "]";
}

std::string elementPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string describeJsonKind(const Json& value) {
  switch (value.type()) {
    case Json::value_t::object:
      return "an object";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "an integer";
    case Json::value_t::number_float:
      return "a fractional number";
    case Json::value_t::null:
      return "null";
    default:
      return "an unsupported value";
  }
}

}  // namespace loomset::tools
