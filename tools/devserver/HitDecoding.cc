#include "tools/devserver/HitDecoding.h"

#include <zlib.h>

#include <cctype>
#include <climits>

namespace loomset::devserver {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!lower.empty() && lower.back() == ' ') lower.pop_back();
  while (!lower.empty() && lower.front() == ' ') lower.erase(0, 1);
  return lower;
}

enum class InflateResult { kOk, kDamaged, kTooLarge };

// windowBits as zlib takes them: 16 + 15 gzip, 15 zlib, -15 raw deflate.
InflateResult inflateAll(std::string_view input, int windowBits, std::size_t maxBytes,
                         std::string& output) {
  output.clear();
  if (input.size() > UINT_MAX) return InflateResult::kTooLarge;
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) return InflateResult::kDamaged;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  char chunk[16384];
  int status = Z_OK;
  InflateResult result = InflateResult::kOk;
  while (status != Z_STREAM_END) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      result = InflateResult::kDamaged;  // also a stream cut short (Z_BUF_ERROR)
      break;
    }
    output.append(chunk, sizeof chunk - stream.avail_out);
    if (output.size() > maxBytes) {
      result = InflateResult::kTooLarge;
      break;
    }
    if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
      result = InflateResult::kDamaged;  // input ended before the stream did
      break;
    }
  }
  inflateEnd(&stream);
  return result;
}

}  // namespace

std::string formUrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

Json decodeHitText(std::string_view text) {
  Json hit = Json::object();
  while (!text.empty()) {
    const auto amp = text.find('&');
    const std::string_view piece = text.substr(0, amp);
    text.remove_prefix(amp == std::string_view::npos ? text.size() : amp + 1);
    if (piece.empty()) continue;
    const auto eq = piece.find('=');
    const std::string name = formUrlDecode(piece.substr(0, eq));
    const std::string value =
        eq == std::string_view::npos ? std::string() : formUrlDecode(piece.substr(eq + 1));
    hit[name] = value;
  }
  return hit;
}

std::vector<std::string_view> splitHitLines(std::string_view body) {
  std::vector<std::string_view> lines;
  while (!body.empty()) {
    const auto end = body.find('\n');
    std::string_view line = body.substr(0, end);
    body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") != std::string_view::npos) lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> decodeContent(std::string_view body, std::string_view encoding,
                                         std::size_t maxBytes, std::string& error) {
  const std::string name = lowerCase(encoding);
  std::string output;
  InflateResult result;
  if (name.empty() || name == "identity") {
    if (body.size() > maxBytes) {
      error = "body larger than " + std::to_string(maxBytes) + " bytes";
      return std::nullopt;
    }
    return std::string(body);
  } else if (name == "gzip" || name == "x-gzip") {
    result = inflateAll(body, 16 + MAX_WBITS, maxBytes, output);
  } else if (name == "deflate") {
    result = inflateAll(body, MAX_WBITS, maxBytes, output);
    if (result == InflateResult::kDamaged) {
      result = inflateAll(body, -MAX_WBITS, maxBytes, output);
    }
  } else {
    error = "unsupported Content-Encoding \"" + std::string(encoding) + "\"";
    return std::nullopt;
  }
  if (result == InflateResult::kTooLarge) {
    error = "body inflates beyond " + std::to_string(maxBytes) + " bytes";
    return std::nullopt;
  }
  if (result == InflateResult::kDamaged) {
    error = "body is not valid " + name + " data";
    return std::nullopt;
  }
  return output;
}

std::string jsonLine(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace loomset::devserver
