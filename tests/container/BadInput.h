// Bytes that no well-behaved server, disk or bundle would hand the library: protocol-buffer
// messages nested far past any sane depth (built straight as wire bytes, since a message object
// that deep could not even be destroyed without recursing), resources whose indexes point
// nowhere, and JSON or property lists nested 100,000 levels deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "loomset/proto/serving.pb.h"

namespace loomset::testing {

constexpr std::size_t kDeep = 100000;

// A protocol-buffer varint.
std::string varint(std::uint64_t value);
// A length-delimited field: tag, length, bytes.
std::string lengthDelimited(int fieldNumber, const std::string& bytes);

// Wire bytes of a MOXPValue: a list holding a list holding ... `depth` levels, a string inside.
std::string deepValueBytes(std::size_t depth);
// A server answer whose one supplemental carries that deep Value.
std::string deepSupplementBytes(std::size_t depth);
// A data-layer archive (MOXPDataLayerValue) of lists nested that deep.
std::string deepArchiveBytes(std::size_t depth);

// A serving resource whose Values nest `depth` lists deep by index, with the macro "greeting"
// reading the outermost one.
MOXPResource deepListResource(std::size_t depth);
// A serving resource of `length` macros "m0", "m1", ..., each answering the next one's value; the
// last answers "end".
MOXPResource macroChainResource(std::size_t length);
// A resource whose macro names a property key and a value that do not exist.
MOXPResource outOfRangeResource();
// A resource whose macro carries its function index as text: the macro lacks its required field.
std::string wrongFieldTypeResourceBytes();

std::string deepJson(std::size_t depth);
std::string deepPlist(std::size_t depth);
// `size` bytes from a fixed seed.
std::string randomBytes(std::size_t size, std::uint32_t seed = 7);

}  // namespace loomset::testing
