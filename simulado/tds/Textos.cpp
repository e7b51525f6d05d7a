// Text conversions of the wire (declared in Tokens.h): UTF-16LE and UTF-8, and Windows-1252 for varchar.
#include <algorithm>
#include <iterator>

#include "tds/Tokens.h"

namespace simulado::tds {

namespace {

void PonerUtf8(std::uint32_t c, std::string& s) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | c >> 6);
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | c >> 12);
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | c >> 18);
    s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Next code point of UTF-8 text; malformed bytes read as U+FFFD one at a time.
std::uint32_t SiguienteUtf8(std::string_view s, std::size_t& i) {
  const auto b = static_cast<unsigned char>(s[i++]);
  if (b < 0x80) return b;
  int mas = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
  if (mas < 0 || (b >= 0xF0 && b >= 0xF5)) return 0xFFFD;
  std::uint32_t c = b & (0x3F >> mas);
  for (int k = 0; k < mas; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = c << 6 | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return c;
}

constexpr std::uint16_t kCp1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string Utf16AUtf8(const std::uint8_t* p, std::size_t caracteres) {
  std::string s;
  s.reserve(caracteres);
  for (std::size_t i = 0; i < caracteres; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < caracteres) {
      const std::uint32_t d = static_cast<std::uint32_t>(p[2 * i + 2] | p[2 * i + 3] << 8);
      if (d >= 0xDC00 && d < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    PonerUtf8(c, s);
  }
  return s;
}

void Utf8AUtf16(std::string_view s, Bytes& salida) {
  for (std::size_t i = 0; i < s.size();) {
    std::uint32_t c = SiguienteUtf8(s, i);
    auto poner = [&](std::uint32_t u) {
      salida.push_back(static_cast<std::uint8_t>(u));
      salida.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (c >= 0x10000) {
      c -= 0x10000;
      poner(0xD800 + (c >> 10));
      poner(0xDC00 + (c & 0x3FF));
    } else {
      poner(c);
    }
  }
}

std::size_t LargoUtf16(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) n += SiguienteUtf8(s, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string Utf8ACp1252(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::uint32_t c = SiguienteUtf8(s, i);
    if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
      r += static_cast<char>(c);
      continue;
    }
    const auto* q = std::find(std::begin(kCp1252), std::end(kCp1252), c);
    r += c != 0 && q != std::end(kCp1252) ? static_cast<char>(0x80 + (q - std::begin(kCp1252))) : '?';
  }
  return r;
}

std::string Cp1252AUtf8(const std::uint8_t* p, std::size_t n) {
  std::string r;
  r.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = p[i];
    const std::uint32_t c = b >= 0x80 && b < 0xA0 && kCp1252[b - 0x80] != 0 ? kCp1252[b - 0x80] : b;
    PonerUtf8(c, r);
  }
  return r;
}

}  // namespace simulado::tds
