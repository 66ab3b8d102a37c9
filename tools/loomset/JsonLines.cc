#include "tools/loomset/JsonLines.h"

#include <string>

#include "tools/loomset/JsonObjects.h"

namespace loomset::tools {

bool JsonLinesReader::next(JsonLine& line) {
  std::string text;
  while (std::getline(in_, text)) {
    ++lineNumber_;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.find_first_not_of(" \t") == std::string::npos) continue;
    line = JsonLine{};
    line.lineNumber = lineNumber_;
    try {
      line.json = parseStrictJson(text);
    } catch (const JsonInputError& e) {
      line.error = e.what();
    }
    return true;
  }
  return false;
}

}  // namespace loomset::tools

namespace loomset::tools {

void JsonLinesWriter::write(const Json& json) {
  out_ << toJsonLine(json) << '\n' << std::flush;
}

}  // namespace loomset::tools
