// Dotted key paths: "a.b.c" names entry c of the map at b of the map at a. Every "." separates,
// so empty components are kept ("a..b" has three, "" has one).
#pragma once

#include <string_view>
#include <vector>

namespace loomset::keypath {

inline std::vector<std::string_view> split(std::string_view path) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = path.find('.', start);
    if (dot == std::string_view::npos) {
      components.push_back(path.substr(start));
      return components;
    }
    components.push_back(path.substr(start, dot - start));
    start = dot + 1;
  }
}

inline std::size_t componentCount(std::string_view path) {
  std::size_t n = 1;
  for (char c : path) n += c == '.';
  return n;
}

}  // namespace loomset::keypath
