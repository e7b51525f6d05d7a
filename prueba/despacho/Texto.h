// Texto.h: the ASCII lower case and the trimming that ProgIDs and Boolean texts go through.
#pragma once

#include <string>
#include <string_view>

namespace prueba {

// Only A to Z change: the result does not depend on the process's locale, and a byte of a UTF-8
// sequence is never touched.
inline std::string Minusculas(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Without the characters of `blancos` at either end; each caller names its own set.
inline std::string Recortar(const std::string& s, std::string_view blancos) {
  const auto a = s.find_first_not_of(blancos);
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(blancos) - a + 1);
}

}  // namespace prueba
