// The dates of the simulated server, kept as milliseconds from 1970-01-01 on the civil calendar.
#pragma once

#include <cstdint>
#include <string>

#include "Servidor.h"

namespace simulado {

inline constexpr std::int64_t kDia = 86400000;
inline constexpr std::int64_t kDiasRango = 3000000;  // wider than datetime's range in either direction

// Days from 1970-01-01 to the given civil date (any year, proleptic Gregorian).
std::int64_t DiasDesdeCivil(std::int64_t y, unsigned m, unsigned d);

// Reads 'yyyy-mm-dd[ hh:mi[:ss[.mmm]]]' (also 'yyyymmdd' and a T separator); empty is 1900-01-01.
// Throws 241 for a text that is not a date, 242 for a date that does not exist.
std::int64_t TextoAFecha(const std::string& original);

// Whether the value lies within datetime's range, 1753-01-01 to 9999-12-31 23:59:59.997.
bool EnRangoFecha(std::int64_t ms);
ErrorSql FechaFueraDeRango();

// A text compared with a date converts to datetime, with its range.
std::int64_t TextoAFechaEnRango(const std::string& s);

// 'yyyy-mm-dd hh:mi:ss', with '.mmm' when `escala` is not 0.
std::string TextoFecha(std::int64_t ms, int escala);
// The same, appended to `r`.
void AnexarFecha(std::string& r, std::int64_t ms, int escala);

}  // namespace simulado
