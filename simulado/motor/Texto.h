// Plain text helpers of the emulator: ASCII digits, case folding of names, trimming, a hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace simulado {

// What separates the words of a statement, and what a batch of nothing but blanks holds.
inline constexpr std::string_view kBlancosSql = " \t\r\n";
// What may stand around a value written as text (a number, a date) and around GO on its line.
inline constexpr std::string_view kBlancosLinea = " \t";

inline bool Blanco(char c, std::string_view blancos = kBlancosSql) {
  return blancos.find(c) != std::string_view::npos;
}

// A decimal digit, whatever the locale says.
inline bool Digito(char c) {
  return c >= '0' && c <= '9';
}

// Names fold ASCII letters only: a byte of a UTF-8 letter is never taken for another one.
inline char Minuscula(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}
inline char Mayuscula(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

inline std::string Minusculas(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Minuscula(c);
  return r;
}

inline std::string Mayusculas(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Mayuscula(c);
  return r;
}

inline bool MismoNombre(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Minuscula(a[i]) != Minuscula(b[i])) return false;
  return true;
}

// `s` without the characters of `blancos` at its end.
inline std::string_view RecortarFinal(std::string_view s, std::string_view blancos) {
  const std::size_t fin = s.find_last_not_of(blancos);
  return s.substr(0, fin == std::string_view::npos ? 0 : fin + 1);
}

// `s` without the characters of `blancos` at either end.
inline std::string_view Recortar(std::string_view s, std::string_view blancos = kBlancosLinea) {
  s = RecortarFinal(s, blancos);
  const std::size_t inicio = s.find_first_not_of(blancos);
  return s.substr(inicio == std::string_view::npos ? s.size() : inicio);
}

// 64-bit FNV-1a, fed in pieces: what names a version of a file, checks a dump or a journal record, and
// places a key in an index.
struct Fnv {
  std::uint64_t h = 14695981039346656037ull;
  void operator()(std::string_view s) {
    for (const unsigned char c : s) {
      h ^= c;
      h *= 1099511628211ull;
    }
  }
};

}  // namespace simulado
