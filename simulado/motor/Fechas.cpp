// The dates of the simulated server: the civil calendar, datetime's range, reading and printing date texts.
#include "Fechas.h"

#include <cstdio>

#include "Texto.h"

namespace simulado {

namespace {

void CivilDesdeDias(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

}  // namespace

std::int64_t DiasDesdeCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads 'yyyy-mm-dd[ hh:mi[:ss[.mmm]]]' (also 'yyyymmdd' and a T separator); empty is 1900-01-01.
std::int64_t TextoAFecha(const std::string& original) {
  const std::string_view s = Recortar(original);
  const ErrorSql fallo(241, "Conversion failed when converting date and/or time from character string.");
  if (s.empty()) return DiasDesdeCivil(1900, 1, 1) * kDia;
  std::size_t i = 0;
  auto numero = [&](std::size_t cifras) -> int {
    int v = 0;
    for (std::size_t k = 0; k < cifras; ++k, ++i) {
      if (i >= s.size() || !Digito(s[i])) throw fallo;
      v = v * 10 + (s[i] - '0');
    }
    return v;
  };
  const int y = numero(4);
  const bool guiones = i < s.size() && s[i] == '-';
  if (guiones) ++i;
  const int mo = numero(2);
  if (guiones) {
    if (i >= s.size() || s[i] != '-') throw fallo;
    ++i;
  }
  const int d = numero(2);
  int h = 0, mi = 0, se = 0, ms = 0;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') throw fallo;
    while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
    h = numero(2);
    if (i >= s.size() || s[i] != ':') throw fallo;
    ++i;
    mi = numero(2);
    if (i < s.size() && s[i] == ':') {
      ++i;
      se = numero(2);
      if (i < s.size() && s[i] == '.') {
        ++i;
        int factor = 100;
        while (i < s.size() && Digito(s[i])) {
          ms += (s[i] - '0') * factor;
          factor /= 10;
          ++i;
        }
      }
    }
    if (i != s.size()) throw fallo;
  }
  static const int diasMes[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bisiesto = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo < 1 || mo > 12 || d < 1 || d > diasMes[mo - 1] || (mo == 2 && d == 29 && !bisiesto) || h > 23 ||
      mi > 59 || se > 59)
    throw ErrorSql(242,
                   "The conversion of a varchar data type to a datetime data type resulted in an "
                   "out-of-range value.");
  return DiasDesdeCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kDia +
         ((h * 60 + mi) * 60 + se) * std::int64_t{1000} + ms;
}

// datetime runs from 1753-01-01 to 9999-12-31 23:59:59.997; the engine keeps milliseconds as
// given, and SQL Server rounds .998 down into the range and .999 out of it.
const std::int64_t kFechaMinima = DiasDesdeCivil(1753, 1, 1) * kDia;
const std::int64_t kFechaTope = DiasDesdeCivil(10000, 1, 1) * kDia - 1;

bool EnRangoFecha(std::int64_t ms) {
  return ms >= kFechaMinima && ms < kFechaTope;
}

ErrorSql FechaFueraDeRango() {
  return ErrorSql(242,
                  "The conversion of a varchar data type to a datetime data type resulted in an out-of-range "
                  "value.");
}

// A text compared with a date converts to datetime, with its range.
std::int64_t TextoAFechaEnRango(const std::string& s) {
  const std::int64_t ms = TextoAFecha(s);
  if (!EnRangoFecha(ms)) throw FechaFueraDeRango();
  return ms;
}

namespace {

void Cifras(std::string& r, std::int64_t v, int ancho) {
  char b[24];
  int n = 0;
  do {
    b[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0 || n < ancho);
  while (n > 0) r += b[--n];
}

}  // namespace

void AnexarFecha(std::string& r, std::int64_t ms, int escala) {
  std::int64_t dias = ms / kDia, resto = ms % kDia;
  if (resto < 0) {
    resto += kDia;
    --dias;
  }
  std::int64_t y;
  unsigned m, d;
  CivilDesdeDias(dias, y, m, d);
  const auto seg = resto / 1000;
  // As printf's %04lld: the sign takes one of the four places.
  if (y < 0) {
    r += '-';
    Cifras(r, -y, 3);
  } else {
    Cifras(r, y, 4);
  }
  r += '-';
  Cifras(r, m, 2);
  r += '-';
  Cifras(r, d, 2);
  r += ' ';
  Cifras(r, seg / 3600, 2);
  r += ':';
  Cifras(r, seg / 60 % 60, 2);
  r += ':';
  Cifras(r, seg % 60, 2);
  if (escala != 0) {
    r += '.';
    Cifras(r, resto % 1000, 3);
  }
}

std::string TextoFecha(std::int64_t ms, int escala) {
  std::string r;
  AnexarFecha(r, ms, escala);
  return r;
}

}  // namespace simulado
