// Reading JSON written by people: member order kept, duplicate members and excessive nesting
// rejected, and every problem located by its JSON path ("$.rules[0].if[1]") or, for syntax
// errors, by line and column.
//
// Threads: stateless; any thread.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace loomset::tools {

using Json = nlohmann::ordered_json;

// A problem in a JSON document. `where` is a JSON path or "line L, column C".
class JsonInputError : public std::runtime_error {
 public:
  JsonInputError(std::string where, std::string message)
      : std::runtime_error(where.empty() ? message : where + ": " + message),
        where_(std::move(where)),
        message_(std::move(message)) {}
  const std::string& where() const { return where_; }
  const std::string& message() const { return message_; }

 private:
  std::string where_;
  std::string message_;
};

// Deeper documents are refused: everything that walks them later recurses.
inline constexpr std::size_t kMaxJsonNesting = 200;

// Parses one document. Throws JsonInputError for a syntax error, a duplicate member or nesting
// deeper than `maxNesting`.
Json parseStrictJson(std::string_view text, std::size_t maxNesting = kMaxJsonNesting);

// The path of a member or an element below `parent`: `$.name`, `$["odd name"]`, `$[3]`.
std::string memberPath(const std::string& parent, std::string_view name);
std::string elementPath(const std::string& parent, std::size_t index);

// "an object", "a string", ... for messages about a value of the wrong kind.
std::string describeJsonKind(const Json& value);

}  // namespace loomset::tools
