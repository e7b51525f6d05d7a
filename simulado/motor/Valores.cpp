// Column types and typed values of the simulated server: conversion, comparison, arithmetic, printing.
#include "Valores.h"

#include "Fechas.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace simulado {

namespace {

__extension__ typedef __int128 i128;

ErrorSql Desborde(const std::string& origen, const std::string& destino) {
  return ErrorSql(8115, "Arithmetic overflow error converting " + origen + " to data type " + destino + ".");
}

// The widest value a fixed-point intermediate may hold: 38 digits, SQL Server's maximum precision;
// 10^38 still fits in 128 bits, 10^39 does not.
constexpr int kPrecisionMaxima = 38;

i128 Potencia10(int e) {
  i128 r = 1;
  for (int i = 0; i < e && i < kPrecisionMaxima; ++i) r *= 10;
  return r;
}

i128 Absoluto(i128 v) {
  return v < 0 ? -v : v;
}

// v * 10^e when the product keeps within 38 digits.
std::optional<i128> Ampliar(i128 v, int e) {
  const i128 tope = Potencia10(kPrecisionMaxima);
  for (int i = 0; i < e; ++i) {
    if (Absoluto(v) >= tope / 10) return std::nullopt;
    v *= 10;
  }
  return v;
}

// Rescales a fixed-point value, rounding half away from zero when digits are lost; a value that
// would pass 38 digits is an overflow (8115).
i128 Reescalar(i128 v, int de, int a) {
  if (a >= de) {
    const auto r = Ampliar(v, a - de);
    if (!r) throw Desborde("expression", "numeric");
    return *r;
  }
  // |v| < 1.7e38, so losing 39 digits or more always leaves zero.
  if (de - a > kPrecisionMaxima) return 0;
  const i128 d = Potencia10(de - a);
  const i128 q = v / d, r = v % d;
  if (r * 2 >= d) return q + 1;
  if (r * 2 <= -d) return q - 1;
  return q;
}

bool CabeEn64(i128 v) {
  // The lowest 64-bit value is left out so that every stored number can be negated.
  return v <= std::numeric_limits<std::int64_t>::max() && v >= -std::numeric_limits<std::int64_t>::max();
}

// A decimal result that does not fit the stored 64 bits gives up fraction digits, down to six as
// SQL Server keeps at least, before it is an overflow.
Valor DecimalAjustado(i128 r, int escala) {
  while (!CabeEn64(r) && escala > 6) {
    const int menos = std::max(6, escala - 19);
    r = Reescalar(r, escala, menos);
    escala = menos;
  }
  if (!CabeEn64(r)) throw Desborde("expression", "numeric");
  return Valor::Decimal(static_cast<std::int64_t>(r), escala);
}

std::size_t Caracteres(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string TextoEntero(i128 v) {
  if (v == 0) return "0";
  const bool negativo = v < 0;
  std::string r;
  while (v != 0) {
    const int d = static_cast<int>(v % 10);
    r.insert(r.begin(), static_cast<char>('0' + (d < 0 ? -d : d)));
    v /= 10;
  }
  if (negativo) r.insert(r.begin(), '-');
  return r;
}

std::string TextoDecimal(std::int64_t n, int escala) {
  if (escala <= 0) return TextoEntero(n);
  const bool negativo = n < 0;
  std::string digitos = TextoEntero(negativo ? -static_cast<i128>(n) : static_cast<i128>(n));
  if (digitos.size() <= static_cast<std::size_t>(escala))
    digitos.insert(0, static_cast<std::size_t>(escala) + 1 - digitos.size(), '0');
  digitos.insert(digitos.size() - static_cast<std::size_t>(escala), 1, '.');
  return negativo ? "-" + digitos : digitos;
}

// Text to integer as SQL Server converts it: blanks around, an optional sign, digits; empty is 0.
std::int64_t TextoAEntero(const std::string& original, const std::string& tipo) {
  std::string_view s = Recortar(original);
  const ErrorSql fallo(245, "Conversion failed when converting the varchar value '" + original +
                                "' to data type " + tipo + ".");
  if (s.empty()) return 0;
  bool negativo = false;
  if (s.front() == '-' || s.front() == '+') {
    negativo = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) throw fallo;
  i128 v = 0;
  for (char c : s) {
    if (!Digito(c)) throw fallo;
    v = v * 10 + (c - '0');
    if (v > std::numeric_limits<std::int64_t>::max())
      throw ErrorSql(248, "The conversion of the varchar value '" + original + "' overflowed an " + tipo +
                              " column. Use a larger integer column.");
  }
  return static_cast<std::int64_t>(negativo ? -v : v);
}

// Text to a fixed-point value with the scale the text itself has.
Valor TextoADecimal(const std::string& original) {
  std::string_view s = Recortar(original);
  const ErrorSql fallo(8114, "Error converting data type varchar to numeric.");
  bool negativo = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negativo = s.front() == '-';
    s.remove_prefix(1);
  }
  const ErrorSql desborde(8115, "Arithmetic overflow error converting varchar to data type numeric.");
  i128 v = 0;
  int escala = 0, digitos = 0, significativos = 0;
  bool punto = false;
  for (char c : s) {
    if (c == '.' && !punto) {
      punto = true;
      continue;
    }
    if (!Digito(c)) throw fallo;
    ++digitos;
    if (punto) ++escala;
    // Leading zeros add no precision; the 39th significant digit or fraction digit is checked
    // before it is multiplied in, as it would not fit the 128-bit accumulator.
    if (v != 0 || c != '0') ++significativos;
    if (significativos > kPrecisionMaxima || escala > kPrecisionMaxima) throw desborde;
    v = v * 10 + (c - '0');
  }
  if (digitos == 0) throw fallo;
  if (!CabeEn64(v)) throw desborde;
  return Valor::Decimal(static_cast<std::int64_t>(negativo ? -v : v), escala);
}

i128 LimiteEntero(Tipo t, bool maximo) {
  switch (t) {
    case Tipo::TinyInt:
      return maximo ? 255 : 0;
    case Tipo::SmallInt:
      return maximo ? 32767 : -32768;
    default:
      return maximo ? i128{2147483647} : -i128{2147483648};
  }
}

Valor ADecimal(const Valor& v) {
  if (v.clase == Valor::Clase::Decimal) return v;
  if (v.clase == Valor::Clase::Entero) return Valor::Decimal(v.n, 0);
  if (v.clase == Valor::Clase::Texto) return TextoADecimal(v.s);
  throw ErrorSql(206, "Operand type clash: datetime is incompatible with numeric");
}

Valor ANumero(const Valor& texto, const Valor& otro) {
  if (otro.clase == Valor::Clase::Decimal) return TextoADecimal(texto.s);
  return Valor::Entero(TextoAEntero(texto.s, "int"));
}

}  // namespace

bool EsTexto(Tipo t) {
  return t == Tipo::Char || t == Tipo::VarChar;
}
bool EsEntero(Tipo t) {
  return t == Tipo::Bit || t == Tipo::TinyInt || t == Tipo::SmallInt || t == Tipo::Int;
}
bool EsFecha(Tipo t) {
  return t == Tipo::SmallDateTime || t == Tipo::DateTime;
}

std::string NombreTipo(Tipo t) {
  static constexpr std::pair<Tipo, const char*> kNombres[] = {
      {Tipo::Bit, "bit"},           {Tipo::TinyInt, "tinyint"},
      {Tipo::SmallInt, "smallint"}, {Tipo::Int, "int"},
      {Tipo::Decimal, "decimal"},   {Tipo::Char, "char"},
      {Tipo::VarChar, "varchar"},   {Tipo::SmallDateTime, "smalldatetime"},
      {Tipo::DateTime, "datetime"}};
  for (const auto& [tipo, nombre] : kNombres)
    if (tipo == t) return nombre;
  return "int";
}

std::string NombreTipo(const TipoCol& t) {
  return t.numeric ? "numeric" : NombreTipo(t.tipo);
}

std::string DeclaracionTipo(const TipoCol& t) {
  if (EsTexto(t.tipo)) return NombreTipo(t.tipo) + "(" + std::to_string(t.largo) + ")";
  if (t.tipo == Tipo::Decimal)
    return NombreTipo(t) + "(" + std::to_string(t.precision) + "," + std::to_string(t.escala) + ")";
  return NombreTipo(t.tipo);
}

bool EsErrorConversion(int numero) {
  return numero == 245 || numero == 248 || numero == 8114 || numero == 241 || numero == 242;
}

Valor Convertir(Valor v, const TipoCol& t) {
  if (v.Nulo()) return v;
  switch (t.tipo) {
    case Tipo::Bit:
    case Tipo::TinyInt:
    case Tipo::SmallInt:
    case Tipo::Int: {
      i128 n;
      std::string origen = "expression";
      if (v.clase == Valor::Clase::Entero) {
        n = v.n;
      } else if (v.clase == Valor::Clase::Decimal) {
        n = static_cast<i128>(v.n) / Potencia10(v.escala);
        origen = "numeric";
      } else if (v.clase == Valor::Clase::Texto) {
        if (t.tipo == Tipo::Bit) {
          const std::string c = ClaveTexto(v.s);
          if (c == "true") return Valor::Entero(1);
          if (c == "false") return Valor::Entero(0);
        }
        n = TextoAEntero(v.s, NombreTipo(t.tipo));
      } else {
        throw ErrorSql(
            529, "Explicit conversion from data type datetime to " + NombreTipo(t.tipo) + " is not allowed.");
      }
      if (t.tipo == Tipo::Bit) return Valor::Entero(n != 0 ? 1 : 0);
      if (n < LimiteEntero(t.tipo, false) || n > LimiteEntero(t.tipo, true))
        throw Desborde(origen, NombreTipo(t.tipo));
      return Valor::Entero(static_cast<std::int64_t>(n));
    }
    case Tipo::Decimal: {
      if (v.clase == Valor::Clase::Fecha)
        throw ErrorSql(529, "Explicit conversion from data type datetime to numeric is not allowed.");
      const Valor d = ADecimal(v);
      const i128 n = Reescalar(d.n, d.escala, t.escala);
      const i128 tope = Potencia10(t.precision);
      if (n >= tope || n <= -tope)
        throw Desborde(v.clase == Valor::Clase::Entero  ? "int"
                       : v.clase == Valor::Clase::Texto ? "varchar"
                                                        : "numeric",
                       "numeric");
      return Valor::Decimal(static_cast<std::int64_t>(n), t.escala);
    }
    case Tipo::Char:
    case Tipo::VarChar: {
      std::string s;
      if (v.clase == Valor::Clase::Texto) {
        s = std::move(v.s);
        std::size_t largo = Caracteres(s);
        if (largo > static_cast<std::size_t>(t.largo)) {
          // Blanks beyond the length are dropped silently; anything else is truncation.
          std::size_t fin = s.size();
          while (fin > 0 && s[fin - 1] == ' ' && largo > static_cast<std::size_t>(t.largo)) {
            --fin;
            --largo;
          }
          if (largo > static_cast<std::size_t>(t.largo))
            throw ErrorSql(8152, "String or binary data would be truncated.");
          s.resize(fin);
        }
      } else {
        s = Imprimir(v);
        if (Caracteres(s) > static_cast<std::size_t>(t.largo))
          throw Desborde("expression", NombreTipo(t.tipo));
      }
      if (t.tipo == Tipo::Char) {
        const std::size_t largo = Caracteres(s);
        if (largo < static_cast<std::size_t>(t.largo))
          s.append(static_cast<std::size_t>(t.largo) - largo, ' ');
      }
      return Valor::Texto(std::move(s));
    }
    case Tipo::SmallDateTime:
    case Tipo::DateTime: {
      std::int64_t ms;
      if (v.clase == Valor::Clase::Fecha) {
        ms = v.n;
      } else if (v.clase == Valor::Clase::Texto) {
        ms = TextoAFecha(v.s);
        if (!EnRangoFecha(ms) && t.tipo == Tipo::DateTime) throw FechaFueraDeRango();
      } else if (v.clase == Valor::Clase::Entero) {
        // Checked in days first: the product in milliseconds would not fit 64 bits for large counts.
        const std::int64_t dias = DiasDesdeCivil(1900, 1, 1) + v.n;
        if (v.n < -kDiasRango || v.n > kDiasRango || !EnRangoFecha(dias * kDia))
          throw Desborde("expression", NombreTipo(t.tipo));
        ms = dias * kDia;
      } else {
        throw ErrorSql(529, "Explicit conversion from data type numeric to datetime is not allowed.");
      }
      if (t.tipo == Tipo::SmallDateTime) {
        // To the nearest minute with floor division: before 1970 the milliseconds are negative and
        // truncation would move every reloaded value one minute later.
        const std::int64_t q = ms + 30000;
        ms = (q / 60000 - (q % 60000 < 0 ? 1 : 0)) * 60000;
        if (ms < DiasDesdeCivil(1900, 1, 1) * kDia || ms >= DiasDesdeCivil(2079, 6, 7) * kDia)
          throw ErrorSql(242,
                         "The conversion of a varchar data type to a smalldatetime data type resulted in an "
                         "out-of-range value.");
        return Valor::Fecha(ms, 0);
      }
      return Valor::Fecha(ms, 3);
    }
  }
  return v;
}

int Comparar(const Valor& a, const Valor& b) {
  using C = Valor::Clase;
  auto signo = [](i128 d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); };
  if (a.clase == C::Texto && b.clase == C::Texto) {
    const std::string x = ClaveTexto(a.s), y = ClaveTexto(b.s);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.clase == C::Texto)
    return Comparar(b.clase == C::Fecha ? Valor::Fecha(TextoAFechaEnRango(a.s), 3) : ANumero(a, b), b);
  if (b.clase == C::Texto)
    return Comparar(a, a.clase == C::Fecha ? Valor::Fecha(TextoAFechaEnRango(b.s), 3) : ANumero(b, a));
  if (a.clase == C::Fecha || b.clase == C::Fecha) {
    if (a.clase != b.clase) throw ErrorSql(206, "Operand type clash: datetime is incompatible with numeric");
    return signo(static_cast<i128>(a.n) - b.n);
  }
  // Whole parts first, then the fractions brought to one scale: each fraction is below 10^escala,
  // so neither side can leave 128 bits whatever the two scales are.
  const int ea = a.clase == C::Decimal ? a.escala : 0, eb = b.clase == C::Decimal ? b.escala : 0;
  const int escala = std::max(ea, eb);
  const i128 da = Potencia10(ea), db = Potencia10(eb);
  if (const int c = signo(static_cast<i128>(a.n / da) - static_cast<i128>(b.n / db)); c != 0) return c;
  return signo(static_cast<i128>(a.n % da) * Potencia10(escala - ea) -
               static_cast<i128>(b.n % db) * Potencia10(escala - eb));
}

Valor Negar(const Valor& a) {
  if (a.clase == Valor::Clase::Entero || a.clase == Valor::Clase::Decimal) {
    Valor r = a;
    r.n = -a.n;
    return r;
  }
  if (a.Nulo()) return a;
  if (a.clase == Valor::Clase::Texto) return Negar(Valor::Entero(TextoAEntero(a.s, "int")));
  throw ErrorSql(8117, "Operand data type datetime is invalid for minus operator.");
}

Valor Operar(char op, const Valor& a, const Valor& b) {
  using C = Valor::Clase;
  if (a.Nulo() || b.Nulo()) return Valor{};
  if (a.clase == C::Texto && b.clase == C::Texto) {
    if (op == '+') return Valor::Texto(a.s + b.s);
    throw ErrorSql(402, "The data types varchar and varchar are incompatible in the operator.");
  }
  if (a.clase == C::Texto) return Operar(op, ANumero(a, b), b);
  if (b.clase == C::Texto) return Operar(op, a, ANumero(b, a));
  if (a.clase == C::Fecha || b.clase == C::Fecha)
    throw ErrorSql(8117, "Operand data type datetime is invalid for this operator.");
  if (a.clase == C::Entero && b.clase == C::Entero) {
    i128 r;
    switch (op) {
      case '+':
        r = static_cast<i128>(a.n) + b.n;
        break;
      case '-':
        r = static_cast<i128>(a.n) - b.n;
        break;
      case '*':
        r = static_cast<i128>(a.n) * b.n;
        break;
      default:
        if (b.n == 0) throw ErrorSql(8134, "Divide by zero error encountered.");
        r = a.n / b.n;
    }
    if (r < -i128{2147483648} || r > 2147483647) throw Desborde("expression", "int");
    return Valor::Entero(static_cast<std::int64_t>(r));
  }
  const Valor x = ADecimal(a), y = ADecimal(b);
  i128 r;
  int escala;
  switch (op) {
    case '+':
    case '-': {
      // Both sides at the finer scale, unless that would pass 38 digits: then at the finest scale
      // the wider side allows, the finer one rounded to it.
      escala = std::max(x.escala, y.escala);
      while (escala > std::min(x.escala, y.escala) &&
             (!Ampliar(x.n, std::max(0, escala - x.escala)) || !Ampliar(y.n, std::max(0, escala - y.escala))))
        --escala;
      const i128 p = Reescalar(x.n, x.escala, escala), q = Reescalar(y.n, y.escala, escala);
      r = op == '+' ? p + q : p - q;
      break;
    }
    case '*':
      escala = x.escala + y.escala;
      r = static_cast<i128>(x.n) * y.n;
      if (escala > 12) {
        r = Reescalar(r, escala, 12);
        escala = 12;
      }
      break;
    default: {
      if (y.n == 0) throw ErrorSql(8134, "Divide by zero error encountered.");
      // The dividend is widened by the divisor's scale as well; together at most 38 places.
      const int total = std::min(kPrecisionMaxima, std::max(6, x.escala) + y.escala);
      escala = std::max(0, total - y.escala);
      r = Reescalar(x.n, x.escala, escala + y.escala) / y.n;
    }
  }
  return DecimalAjustado(r, escala);
}

std::string Imprimir(const Valor& v) {
  switch (v.clase) {
    case Valor::Clase::Nulo:
      return "NULL";
    case Valor::Clase::Entero:
      return std::to_string(v.n);
    case Valor::Clase::Decimal:
      return TextoDecimal(v.n, v.escala);
    case Valor::Clase::Texto:
      return v.s;
    case Valor::Clase::Fecha:
      return TextoFecha(v.n, v.escala);
  }
  return {};
}

// A carriage return counts as a blank only at the end, where a CRLF file puts it.
bool EsSeparador(std::string_view linea) {
  return MismoNombre(Recortar(RecortarFinal(linea, " \t\r")), "go");
}

std::string Literal(const Valor& v) {
  if (v.clase != Valor::Clase::Texto && v.clase != Valor::Clase::Fecha) return Imprimir(v);
  const std::string texto = Imprimir(v);
  std::string r = "'";
  for (std::size_t i = 0; i < texto.size(); ++i) {
    const char c = texto[i];
    r += c;
    if (c == '\'') r += '\'';
    if (c != '\n') continue;
    // A whole line the script reader would take for GO is opened by a new quoted piece, so that
    // in the script its line starts with "' + '" instead; the parser joins the pieces again.
    const std::size_t fin = texto.find('\n', i + 1);
    if (fin != std::string::npos && EsSeparador(std::string_view(texto).substr(i + 1, fin - i - 1)))
      r += "' + '";
  }
  return r + "'";
}

std::string ClaveTexto(std::string_view s) {
  std::string r(RecortarFinal(s, " "));
  for (std::size_t i = 0; i < r.size(); ++i) {
    r[i] = Minuscula(r[i]);
    if (static_cast<unsigned char>(r[i]) == 0xC3 && i + 1 < r.size()) {
      // Latin-1 capitals in UTF-8 (À..Þ except ×) fold to their small letters.
      const auto d = static_cast<unsigned char>(r[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) r[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return r;
}

std::int64_t AhoraMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace simulado
