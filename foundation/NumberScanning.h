// Whole-text number scanning behind MOXTypes::numberWithString, kept apart as a pure function so
// its grammar can be read in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace loomset::number_scanning {

struct ScannedNumber {
  bool isInteger;
  std::int64_t integer;  // when isInteger
  double floating;       // otherwise
};

// Reads the whole text as a number: leading white space is skipped, anything after the number
// (blanks included) makes the text unparsable. A text that is an integer is read as a 64-bit
// integer first, saturating at INT64_MAX / INT64_MIN when it has too many digits; otherwise it is
// read as a decimal floating number. Nothing is returned for any other text.
std::optional<ScannedNumber> scanWholeNumber(std::string_view text);

}  // namespace loomset::number_scanning
