#include "BadInput.h"

#include <random>

#include "support/RuntimeTestSupport.h"

namespace loomset::testing {

std::string varint(std::uint64_t value) {
  std::string out;
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
  return out;
}

std::string lengthDelimited(int fieldNumber, const std::string& bytes) {
  return varint((static_cast<std::uint64_t>(fieldNumber) << 3) | 2) + varint(bytes.size()) + bytes;
}

namespace {

// Wire bytes of `depth` nested messages, each made of `head` followed by the next one in field
// `field`, around `leaf`. Written outside in, from the lengths worked out inside out.
std::string nested(std::size_t depth, const std::string& head, int field, const std::string& leaf) {
  std::vector<std::size_t> lengths(depth + 1);
  lengths[0] = leaf.size();
  const std::string tag = varint((static_cast<std::uint64_t>(field) << 3) | 2);
  for (std::size_t i = 1; i <= depth; ++i) {
    lengths[i] = head.size() + tag.size() + varint(lengths[i - 1]).size() + lengths[i - 1];
  }
  std::string out;
  out.reserve(lengths[depth]);
  for (std::size_t i = depth; i >= 1; --i) out += head + tag + varint(lengths[i - 1]);
  return out + leaf;
}

}  // namespace

std::string deepValueBytes(std::size_t depth) {
  // type = List (field 1, value 2), list_item (field 3); the leaf is type = String.
  return nested(depth, std::string("\x08\x02", 2), 3, std::string("\x08\x01", 2));
}

std::string deepSupplementBytes(std::size_t depth) {
  const std::string supplemental = lengthDelimited(2, deepValueBytes(depth));
  return lengthDelimited(1, supplemental) + lengthDelimited(3, "fp-deep");
}

std::string deepArchiveBytes(std::size_t depth) {
  // list_value (field 6) holds a List whose item (field 1) is the next value: two messages a
  // level. The leaf is an empty string value.
  const std::string leaf = lengthDelimited(1, "");
  std::vector<std::size_t> lengths(2 * depth + 1);
  lengths[0] = leaf.size();
  for (std::size_t i = 1; i <= 2 * depth; ++i) {
    lengths[i] = 1 + varint(lengths[i - 1]).size() + lengths[i - 1];
  }
  std::string out;
  out.reserve(lengths[2 * depth]);
  for (std::size_t i = 2 * depth; i >= 1; --i) {
    out += (i % 2 == 0 ? '\x32' : '\x0a');  // field 6 on values, field 1 on lists
    out += varint(lengths[i - 1]);
  }
  return out + leaf;
}

MOXPResource deepListResource(std::size_t depth) {
  ServingResourceBuilder b;
  int value = b.addString("leaf");
  for (std::size_t i = 0; i < depth; ++i) value = b.addList({value});
  const int constant = b.addFunctionId("_c");
  b.addMacro(
      {{"instance_name", b.addString("greeting")}, {"function", constant}, {"value", value}});
  b.resource().set_version("deep");
  return b.resource();
}

MOXPResource macroChainResource(std::size_t length) {
  ServingResourceBuilder b;
  const int constant = b.addFunctionId("_c");
  for (std::size_t i = 0; i < length; ++i) {
    const int value = i + 1 == length
                          ? b.addString("end")
                          : b.addMacroReference(b.addString("m" + std::to_string(i + 1)));
    b.addMacro({{"instance_name", b.addString("m" + std::to_string(i))},
                {"function", constant},
                {"value", value}});
  }
  b.resource().set_version("chain");
  return b.resource();
}

MOXPResource outOfRangeResource() {
  ServingResourceBuilder b;
  const int constant = b.addFunctionId("_c");
  b.addMacro({{"instance_name", b.addString("greeting")}, {"function", constant}});
  MOXPProperty* property = b.resource().add_property();
  property->set_key(4000);
  property->set_value(-7);
  b.resource().mutable_macro(0)->add_property(b.resource().property_size() - 1);
  b.resource().mutable_macro(0)->add_property(99999);
  b.resource().set_version("out of range");
  return b.resource();
}

std::string wrongFieldTypeResourceBytes() {
  // macro (field 4) holding function (field 2) as a length-delimited text instead of a varint.
  return lengthDelimited(4, lengthDelimited(2, "0")) + lengthDelimited(13, "wrong types");
}

std::string deepJson(std::size_t depth) {
  return "{\"greeting\": " + std::string(depth, '[') + "1" + std::string(depth, ']') + "}";
}

std::string deepPlist(std::size_t depth) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>greeting</key>";
  out.reserve(out.size() + depth * 15 + 64);
  for (std::size_t i = 0; i < depth; ++i) out += "<array>";
  out += "<string>x</string>";
  for (std::size_t i = 0; i < depth; ++i) out += "</array>";
  return out + "</dict></plist>";
}

std::string randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(engine() & 0xff);
  return out;
}

}  // namespace loomset::testing
