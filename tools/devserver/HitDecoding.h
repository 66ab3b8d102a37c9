// Undoing what the analytics dispatcher does to hits on their way out: the content encoding of a
// request body (gzip, or "deflate" in zlib format), the split into one hit per line, and the form
// encoding of each hit's parameters ("name=value&name", "+" for a space, "%XX" escapes).
//
// Threads: stateless; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace loomset::devserver {

using Json = nlohmann::ordered_json;

// "+" becomes a space, then "%XX" escapes are decoded as bytes. A "%" that starts no valid escape
// stays as it is, so nothing a client sends is lost.
std::string formUrlDecode(std::string_view text);

// One hit's parameters as a JSON object of strings, in wire order. A piece without "=" is a name
// with the empty value; empty pieces are skipped; a repeated name keeps its last value.
Json decodeHitText(std::string_view text);

// The hit texts of a body: its lines (a "\r" before the line feed dropped), blank ones skipped.
std::vector<std::string_view> splitHitLines(std::string_view body);

// The body with its Content-Encoding undone: none or "identity" as it is, "gzip" (or "x-gzip"),
// and "deflate", which is the zlib format but is also accepted as raw deflate since clients
// disagree about it. Nothing, with `error` set, for an unknown encoding, damaged data, or data
// that would inflate beyond `maxBytes`.
std::optional<std::string> decodeContent(std::string_view body, std::string_view encoding,
                                         std::size_t maxBytes, std::string& error);

// One line of JSON; bytes that are not UTF-8 are replaced rather than refused.
std::string jsonLine(const Json& json);

}  // namespace loomset::devserver
