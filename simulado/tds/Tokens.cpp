// TDS byte layouts: bounded reading, token writing and value encoding.
#include "tds/Tokens.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "motor/Fechas.h"
#include "motor/Valores.h"

namespace simulado::tds {

__extension__ typedef unsigned __int128 u128;

const std::uint8_t* Lector::Tomar(std::size_t n) {
  if (n > n_ - i_) throw ErrorProtocolo("mensaje más corto que lo que declara");
  const std::uint8_t* r = p_ + i_;
  i_ += n;
  return r;
}

void Lector::Ir(std::size_t pos) {
  if (pos > n_) throw ErrorProtocolo("desplazamiento fuera del mensaje");
  i_ = pos;
}

std::uint8_t Lector::U8() {
  return *Tomar(1);
}
std::uint16_t Lector::U16() {
  const auto* p = Tomar(2);
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint16_t Lector::U16be() {
  const auto* p = Tomar(2);
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
std::uint32_t Lector::U32() {
  const auto* p = Tomar(4);
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t Lector::U64() {
  const std::uint64_t bajo = U32();
  return bajo | static_cast<std::uint64_t>(U32()) << 32;
}
std::string Lector::Texto(std::size_t caracteres) {
  if (caracteres > Quedan() / 2) throw ErrorProtocolo("texto más largo que el mensaje");
  return Utf16AUtf8(Tomar(caracteres * 2), caracteres);
}

void Escritor::U16(std::uint16_t v) {
  b_.push_back(static_cast<std::uint8_t>(v));
  b_.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Escritor::U32(std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}
void Escritor::U64(std::uint64_t v) {
  for (int k = 0; k < 8; ++k) b_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

namespace {
// Texts longer than their count field allows are cut at a character boundary of the wire form.
Bytes Utf16Hasta(std::string_view utf8, std::size_t unidades) {
  Bytes t;
  Utf8AUtf16(utf8, t);
  t.resize(std::min(t.size() / 2, unidades) * 2);
  return t;
}
}  // namespace

void Escritor::BVarchar(std::string_view utf8) {
  const Bytes t = Utf16Hasta(utf8, 255);
  U8(static_cast<std::uint8_t>(t.size() / 2));
  b_.insert(b_.end(), t.begin(), t.end());
}
void Escritor::UsVarchar(std::string_view utf8) {
  const Bytes t = Utf16Hasta(utf8, 65535);
  U16(static_cast<std::uint16_t>(t.size() / 2));
  b_.insert(b_.end(), t.begin(), t.end());
}

namespace {
// Patches the USHORT length that follows the token byte at `inicio`.
void CerrarLargo(Bytes& b, std::size_t inicio) {
  const std::size_t n = b.size() - inicio - 3;
  b[inicio + 1] = static_cast<std::uint8_t>(n);
  b[inicio + 2] = static_cast<std::uint8_t>(n >> 8);
}
}  // namespace

void Escritor::LoginAck(std::string_view programa, std::uint32_t versionSql) {
  const std::size_t inicio = b_.size();
  U8(0xAD);
  U16(0);
  U8(1);
  for (int k = 3; k >= 0; --k) U8(static_cast<std::uint8_t>(version_ >> (8 * k)));  // big-endian here
  BVarchar(programa);
  for (int k = 3; k >= 0; --k) U8(static_cast<std::uint8_t>(versionSql >> (8 * k)));
  CerrarLargo(b_, inicio);
}

void Escritor::EnvCambio(std::uint8_t tipo, std::string_view nuevo, std::string_view viejo) {
  const std::size_t inicio = b_.size();
  U8(0xE3);
  U16(0);
  U8(tipo);
  BVarchar(nuevo);
  BVarchar(viejo);
  CerrarLargo(b_, inicio);
}

void Escritor::EnvCambioBytes(std::uint8_t tipo, const Bytes& nuevo, const Bytes& viejo) {
  const std::size_t inicio = b_.size();
  U8(0xE3);
  U16(0);
  U8(tipo);
  U8(static_cast<std::uint8_t>(nuevo.size()));
  b_.insert(b_.end(), nuevo.begin(), nuevo.end());
  U8(static_cast<std::uint8_t>(viejo.size()));
  b_.insert(b_.end(), viejo.begin(), viejo.end());
  CerrarLargo(b_, inicio);
}

void Escritor::Mensaje(std::int32_t numero, std::uint8_t clase, std::string_view texto,
                       std::string_view servidor, std::int32_t linea, std::uint8_t estado) {
  const std::size_t inicio = b_.size();
  U8(clase > 10 ? 0xAA : 0xAB);
  U16(0);
  U32(static_cast<std::uint32_t>(numero));
  U8(estado);
  U8(clase);
  // The token's length is a USHORT: a huge text is cut so the whole token still fits.
  UsVarchar(texto.substr(0, 8000));
  BVarchar(servidor);
  BVarchar("");
  if (Desde72())
    U32(static_cast<std::uint32_t>(linea));
  else
    U16(static_cast<std::uint16_t>(linea));
  CerrarLargo(b_, inicio);
}

namespace {
constexpr std::uint8_t kColacion[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

std::uint8_t LargoDecimal(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// The fixed-size types, each sent as its nullable form (bitn, intn, floatn, datetimen) and its size.
struct Fijo {
  ColumnaTds::Tipo tipo;
  std::uint8_t token, largo;
};
const Fijo* BuscarFijo(ColumnaTds::Tipo t) {
  using T = ColumnaTds::Tipo;
  static constexpr Fijo kFijos[] = {{T::Bit, 0x68, 1},   {T::TinyInt, 0x26, 1},       {T::SmallInt, 0x26, 2},
                                    {T::Int, 0x26, 4},   {T::BigInt, 0x26, 8},        {T::Real, 0x6D, 4},
                                    {T::Float, 0x6D, 8}, {T::SmallDateTime, 0x6F, 4}, {T::DateTime, 0x6F, 8}};
  for (const Fijo& f : kFijos)
    if (f.tipo == t) return &f;
  return nullptr;
}
}  // namespace

void Escritor::Metadatos(const std::vector<ColumnaTds>& cols) {
  using T = ColumnaTds::Tipo;
  U8(0x81);
  U16(static_cast<std::uint16_t>(cols.size()));
  for (const auto& c : cols) {
    if (Desde72())
      U32(0);
    else
      U16(0);
    U16(c.nulos ? 1 : 0);
    if (const Fijo* f = BuscarFijo(c.tipo)) {
      U8(f->token);
      U8(f->largo);
    } else if (c.tipo == T::Decimal || c.tipo == T::Numeric) {
      U8(c.tipo == T::Decimal ? 0x6A : 0x6C);
      U8(LargoDecimal(c.precision));
      U8(static_cast<std::uint8_t>(c.precision));
      U8(static_cast<std::uint8_t>(c.escala));
    } else {
      const bool ancho = c.tipo == T::NChar || c.tipo == T::NVarChar;
      U8(c.tipo == T::Char ? 0xAF : c.tipo == T::VarChar ? 0xA7 : c.tipo == T::NChar ? 0xEF : 0xE7);
      U16(static_cast<std::uint16_t>(std::clamp(c.largo, 1, ancho ? 4000 : 8000) * (ancho ? 2 : 1)));
      b_.insert(b_.end(), std::begin(kColacion), std::end(kColacion));
    }
    BVarchar(c.nombre);
  }
}

namespace {

bool Numero(std::string_view s, std::int64_t& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

[[noreturn]] void Desborde(const char* tipo) {
  throw ErrorValor(8115,
                   std::string("Arithmetic overflow error converting expression to data type ") + tipo + ".");
}

// "YYYY-MM-DD HH:MM:SS[.mmm]" as the emulator prints it, to days since 1900-01-01 and milliseconds.
void Fecha(const std::string& v, std::int64_t& dias, std::int64_t& ms) {
  std::int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, mil = 0;
  if (v.size() < 19 || !Numero(std::string_view(v).substr(0, 4), y) ||
      !Numero(std::string_view(v).substr(5, 2), mo) || !Numero(std::string_view(v).substr(8, 2), d) ||
      !Numero(std::string_view(v).substr(11, 2), h) || !Numero(std::string_view(v).substr(14, 2), mi) ||
      !Numero(std::string_view(v).substr(17, 2), se) ||
      (v.size() > 19 && (v.size() != 23 || v[19] != '.' || !Numero(std::string_view(v).substr(20), mil))))
    throw ErrorValor(241, "Conversion failed when converting date and/or time from character string.");
  dias = DiasDesdeCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - DiasDesdeCivil(1900, 1, 1);
  ms = ((h * 60 + mi) * 60 + se) * 1000 + mil;
}

}  // namespace

namespace {

// The integer types: range checked against the column, little-endian bytes after the length.
void PonerEntero(Escritor& e, const ColumnaTds& c, std::int64_t n) {
  using T = ColumnaTds::Tipo;
  struct Limite {
    std::int64_t menor, mayor;
    const char* nombre;
    std::uint8_t largo;
  };
  const Limite l = c.tipo == T::Bit        ? Limite{0, 1, "bit", 1}
                   : c.tipo == T::TinyInt  ? Limite{0, 255, "tinyint", 1}
                   : c.tipo == T::SmallInt ? Limite{-32768, 32767, "smallint", 2}
                   : c.tipo == T::Int      ? Limite{INT32_MIN, INT32_MAX, "int", 4}
                                           : Limite{INT64_MIN, INT64_MAX, "bigint", 8};
  if (n < l.menor || n > l.mayor) Desborde(l.nombre);
  e.U8(l.largo);
  for (int k = 0; k < l.largo; ++k) e.U8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(n) >> (8 * k)));
}

// A decimal whose magnitude is already at the column's scale.
void PonerDecimal(Escritor& e, const ColumnaTds& c, bool negativo, u128 m) {
  u128 tope = 1;
  for (int k = 0; k < c.precision; ++k) tope *= 10;
  if (m >= tope) Desborde("numeric");
  const std::uint8_t largo = LargoDecimal(c.precision);
  e.U8(largo);
  e.U8(negativo && m != 0 ? 0 : 1);
  for (int k = 0; k < largo - 1; ++k) e.U8(static_cast<std::uint8_t>(m >> (8 * k)));
}

// Days since 1900-01-01 and milliseconds since midnight.
void PonerFecha(Escritor& e, const ColumnaTds& c, std::int64_t dias, std::int64_t ms) {
  if (c.tipo == ColumnaTds::Tipo::SmallDateTime) {
    if (dias < 0 || dias > 65535) Desborde("smalldatetime");
    e.U8(4);
    e.U16(static_cast<std::uint16_t>(dias));
    e.U16(static_cast<std::uint16_t>(ms / 60000));
    return;
  }
  if (dias < INT32_MIN || dias > INT32_MAX) Desborde("datetime");
  e.U8(8);
  e.U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(dias)));
  // The emulator keeps datetimes on SQL Server's 1/300 s grid; the nearest tick gives it back exactly.
  e.U32(static_cast<std::uint32_t>((ms * 300 + 500) / 1000));
}

constexpr std::int64_t kDiaMs = 86400000;
constexpr std::int64_t kDias1900a1970 = 25567;

}  // namespace

void Escritor::Valor(const ColumnaTds& c, const std::string& v) {
  using T = ColumnaTds::Tipo;
  switch (c.tipo) {
    case T::Bit:
    case T::TinyInt:
    case T::SmallInt:
    case T::Int:
    case T::BigInt: {
      std::int64_t n = 0;
      if (!Numero(v, n))
        throw ErrorValor(245,
                         "Conversion failed when converting the varchar value '" + v + "' to data type int.");
      PonerEntero(*this, c, n);
      return;
    }
    case T::Decimal:
    case T::Numeric: {
      std::string_view s = v;
      const bool negativo = !s.empty() && s[0] == '-';
      if (negativo || (!s.empty() && s[0] == '+')) s.remove_prefix(1);
      std::string_view entera = s, fraccion;
      if (const auto p = s.find('.'); p != std::string_view::npos) {
        entera = s.substr(0, p);
        fraccion = s.substr(p + 1);
      }
      const auto digito = [](char ch) { return ch >= '0' && ch <= '9'; };
      if ((entera.empty() && fraccion.empty()) || !std::all_of(entera.begin(), entera.end(), digito) ||
          !std::all_of(fraccion.begin(), fraccion.end(), digito))
        throw ErrorValor(8114, "Error converting data type varchar to numeric.");
      u128 m = 0;
      int digitos = 0;
      const auto meter = [&](char ch) {
        if ((m != 0 || ch != '0') && ++digitos > 38) Desborde("numeric");
        m = m * 10 + static_cast<unsigned>(ch - '0');
      };
      for (char ch : entera) meter(ch);
      const auto escala = static_cast<std::size_t>(std::max(c.escala, 0));
      for (std::size_t k = 0; k < escala; ++k) meter(k < fraccion.size() ? fraccion[k] : '0');
      // Digits beyond the column's scale round the value, as a conversion to it does.
      if (fraccion.size() > escala && fraccion[escala] >= '5') ++m;
      PonerDecimal(*this, c, negativo, m);
      return;
    }
    case T::Real:
    case T::Float: {
      double d = 0;
      const auto r = std::from_chars(v.data(), v.data() + v.size(), d);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size())
        throw ErrorValor(8114, "Error converting data type varchar to float.");
      if (c.tipo == T::Float) {
        std::uint64_t x;
        std::memcpy(&x, &d, 8);
        U8(8);
        U64(x);
      } else {
        const auto f = static_cast<float>(d);
        std::uint32_t x;
        std::memcpy(&x, &f, 4);
        U8(4);
        U32(x);
      }
      return;
    }
    case T::SmallDateTime:
    case T::DateTime: {
      std::int64_t dias = 0, ms = 0;
      Fecha(v, dias, ms);
      PonerFecha(*this, c, dias, ms);
      return;
    }
    case T::Char:
    case T::VarChar: {
      std::string t = Utf8ACp1252(v);
      const auto tope = static_cast<std::size_t>(std::clamp(c.largo, 1, 8000));
      if (t.size() > tope) throw ErrorValor(8152, "String or binary data would be truncated.");
      if (c.tipo == T::Char) t.resize(tope, ' ');
      U16(static_cast<std::uint16_t>(t.size()));
      b_.insert(b_.end(), t.begin(), t.end());
      return;
    }
    case T::NChar:
    case T::NVarChar: {
      Bytes t;
      Utf8AUtf16(v, t);
      const auto tope = static_cast<std::size_t>(std::clamp(c.largo, 1, 4000)) * 2;
      if (t.size() > tope) throw ErrorValor(8152, "String or binary data would be truncated.");
      if (c.tipo == T::NChar)
        while (t.size() < tope) t.insert(t.end(), {0x20, 0x00});
      U16(static_cast<std::uint16_t>(t.size()));
      b_.insert(b_.end(), t.begin(), t.end());
      return;
    }
  }
}

// Numbers and dates straight from the emulator's value; other pairings go through the value's text.
void Escritor::ValorTipado(const ColumnaTds& c, const simulado::Valor& v) {
  using T = ColumnaTds::Tipo;
  using K = simulado::Valor::Clase;
  switch (c.tipo) {
    case T::Bit:
    case T::TinyInt:
    case T::SmallInt:
    case T::Int:
    case T::BigInt:
      if (v.clase != K::Entero) break;
      PonerEntero(*this, c, v.n);
      return;
    case T::Decimal:
    case T::Numeric: {
      if (v.clase != K::Entero && v.clase != K::Decimal) break;
      const int escala = v.clase == K::Entero ? 0 : v.escala;
      if (escala < 0 || escala > 38 || c.escala < 0 || c.escala > 38) break;
      const bool negativo = v.n < 0;
      u128 m = negativo ? static_cast<u128>(-(v.n + 1)) + 1 : static_cast<u128>(v.n);
      for (int k = escala; k < c.escala; ++k) m *= 10;
      if (escala > c.escala) {
        u128 d = 1;
        for (int k = c.escala; k < escala; ++k) d *= 10;
        m = (m + d / 2) / d;  // half away from zero, as the magnitude is unsigned
      }
      PonerDecimal(*this, c, negativo, m);
      return;
    }
    case T::SmallDateTime:
    case T::DateTime: {
      if (v.clase != K::Fecha) break;
      std::int64_t dias = v.n / kDiaMs, ms = v.n % kDiaMs;
      if (ms < 0) {
        ms += kDiaMs;
        --dias;
      }
      PonerFecha(*this, c, dias + kDias1900a1970, ms);
      return;
    }
    default:
      if (v.clase == K::Texto) {
        Valor(c, v.s);
        return;
      }
      break;
  }
  Valor(c, simulado::Imprimir(v));
}

void Escritor::Fila(const std::vector<ColumnaTds>& cols,
                    const std::vector<std::optional<std::string>>& valores) {
  Fila(
      cols, valores.size(), [&](std::size_t i) { return valores[i].has_value(); },
      [&](std::size_t i) { Valor(cols[i], *valores[i]); });
}

void Escritor::Fila(const std::vector<ColumnaTds>& cols, const std::vector<simulado::Valor>& valores) {
  Fila(
      cols, valores.size(), [&](std::size_t i) { return !valores[i].Nulo(); },
      [&](std::size_t i) { ValorTipado(cols[i], valores[i]); });
}

void Escritor::Fila(const std::vector<ColumnaTds>& cols, std::size_t n,
                    const std::function<bool(std::size_t)>& presente,
                    const std::function<void(std::size_t)>& poner) {
  using T = ColumnaTds::Tipo;
  const std::size_t inicio = b_.size();
  try {
    const bool nbc = version_ >= 0x730B0003;
    U8(nbc ? 0xD2 : 0xD1);
    std::size_t mapa = b_.size();
    if (nbc) b_.resize(b_.size() + (cols.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < cols.size(); ++i) {
      if (i < n && presente(i)) {
        poner(i);
      } else if (nbc) {
        b_[mapa + i / 8] = static_cast<std::uint8_t>(b_[mapa + i / 8] | 1u << (i % 8));
      } else {
        const T t = cols[i].tipo;
        if (t == T::Char || t == T::VarChar || t == T::NChar || t == T::NVarChar)
          U16(0xFFFF);
        else
          U8(0);
      }
    }
  } catch (...) {
    b_.resize(inicio);
    throw;
  }
}

void Escritor::Hecho(std::uint8_t token, std::uint16_t estado, std::uint16_t orden, std::uint64_t filas) {
  U8(token);
  U16(estado);
  U16(orden);
  if (Desde72())
    U64(filas);
  else
    U32(static_cast<std::uint32_t>(filas));
}

void Escritor::Retorno(std::int32_t estado) {
  U8(0x79);
  U32(static_cast<std::uint32_t>(estado));
}

void Escritor::Salida(std::uint16_t orden, std::string_view nombre, std::optional<std::int32_t> valor) {
  U8(0xAC);
  U16(orden);
  BVarchar(nombre);
  U8(0x01);  // an output parameter
  if (Desde72())
    U32(0);
  else
    U16(0);
  U16(0x0001);  // nullable
  U8(0x26);
  U8(4);
  U8(valor ? 4 : 0);
  if (valor) U32(static_cast<std::uint32_t>(*valor));
}

}  // namespace simulado::tds
