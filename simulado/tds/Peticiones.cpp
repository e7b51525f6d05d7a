// Decoding of SQL batches, RPC calls (their parameters as literals) and transaction-manager requests.
#include "tds/Peticiones.h"

#include <cctype>
#include <charconv>
#include <cstring>

#include "motor/Fechas.h"
#include "motor/Texto.h"

namespace simulado::tds {

std::size_t SaltarEncabezados(Lector& l, bool presentes) {
  if (!presentes) return l.Pos();
  const std::uint32_t total = l.U32();
  if (total < 4) throw ErrorProtocolo("ALL_HEADERS con largo inválido");
  l.Saltar(total - 4);
  return l.Pos();
}

std::string LeerLote(const Bytes& datos, bool encabezados) {
  Lector l(datos);
  SaltarEncabezados(l, encabezados);
  if (l.Quedan() % 2 != 0) throw ErrorProtocolo("texto de lote con un número impar de bytes");
  return l.Texto(l.Quedan() / 2);
}

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t kPlpNulo = 0xFFFFFFFFFFFFFFFFull;
constexpr char kCifras[] = "0123456789ABCDEF";

// Reads a (max) value sent in chunks; bounded by the message, so a lying length stops at its end.
std::optional<Bytes> LeerPlp(Lector& l) {
  const std::uint64_t total = l.U64();
  if (total == kPlpNulo) return std::nullopt;
  Bytes r;
  for (;;) {
    const std::uint32_t n = l.U32();
    if (n == 0) break;
    const auto* p = l.Tomar(n);
    r.insert(r.end(), p, p + n);
  }
  return r;
}

std::string Comillas(std::string_view t, bool unicode) {
  std::string r = unicode ? "N'" : "'";
  for (const char c : t) {
    r += c;
    if (c == '\'') r += '\'';
  }
  return r + "'";
}

// `n` little-endian bytes as an unsigned number.
u128 SinSigno(const std::uint8_t* p, std::size_t n) {
  u128 v = 0;
  for (std::size_t k = n; k-- > 0;) v = v << 8 | p[k];
  return v;
}

std::int64_t ConSigno(const std::uint8_t* p, std::size_t n) {
  auto v = static_cast<std::uint64_t>(SinSigno(p, n));
  if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);
  return static_cast<std::int64_t>(v);
}

// A magnitude scaled by 10^escala, in decimal: "-1.50".
std::string Decimal(bool negativo, u128 m, int escala) {
  std::string d;
  do {
    d.insert(d.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m > 0);
  while (static_cast<int>(d.size()) <= escala) d.insert(d.begin(), '0');
  if (escala > 0) d.insert(d.end() - escala, '.');
  return (negativo && d.find_first_not_of("0.") != std::string::npos ? "-" : "") + d;
}

// The shortest decimal that reads back as the same binary value, without an exponent (the emulator reads
// none).
template <typename F>
std::string Real(F v) {
  char b[400];
  const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed);
  return std::string(b, r.ptr);
}

constexpr std::int64_t kDias0001a1970 = 719162;
constexpr std::int64_t kDias1900a1970 = 25567;

// 'yyyy-mm-dd hh:mi:ss' and its fraction, from days since 1970 and units of 10^-escala s into the day; the
// fraction keeps at least three digits and drops the zeros beyond them.
std::string FechaHora(std::int64_t dias, std::uint64_t unidades, int escala) {
  std::uint64_t potencia = 1;
  for (int k = 0; k < escala; ++k) potencia *= 10;
  const auto segundos = static_cast<std::int64_t>(unidades / potencia);
  std::string r = TextoFecha(dias * kDia + segundos * 1000, 0);
  if (escala > 0) {
    std::string f = std::to_string(unidades % potencia);
    f.insert(0, static_cast<std::size_t>(escala) - f.size(), '0');
    while (f.size() > 3 && f.back() == '0') f.pop_back();
    r += "." + f;
  }
  return r;
}

std::string Hex(const std::uint8_t* b, std::size_t n) {
  std::string r = "0x";
  for (std::size_t k = 0; k < n; ++k) {
    r += kCifras[b[k] >> 4];
    r += kCifras[b[k] & 15];
  }
  return r;
}

// The fixed-size types (no length on the wire) and the nullable forms that name a size per value.
std::size_t LargoFijo(std::uint8_t tipo) {
  switch (tipo) {
    case 0x30:  // tinyint
    case 0x32:  // bit
      return 1;
    case 0x34:  // smallint
      return 2;
    case 0x38:  // int
    case 0x3A:  // smalldatetime
    case 0x3B:  // real
    case 0x7A:  // smallmoney
      return 4;
    case 0x7F:  // bigint
    case 0x3D:  // datetime
    case 0x3E:  // float
    case 0x3C:  // money
      return 8;
    default:
      return 0;
  }
}

// The fixed type a nullable one (intn, bitn, floatn, moneyn, datetimen) stands for with `n` bytes.
std::uint8_t FijoDe(std::uint8_t tipo, std::size_t n) {
  switch (tipo) {
    case 0x26:
      return n == 1 ? 0x30 : n == 2 ? 0x34 : n == 4 ? 0x38 : 0x7F;
    case 0x68:
      return 0x32;
    case 0x6D:
      return n == 4 ? 0x3B : 0x3E;
    case 0x6E:
      return n == 4 ? 0x7A : 0x3C;
    default:
      return n == 4 ? 0x3A : 0x3D;
  }
}

// The literal of a value of fixed type `tipo` held in `d`; the integer itself too when it is one.
std::string LiteralFijo(std::uint8_t tipo, const std::uint8_t* d, std::optional<std::int64_t>& entero) {
  switch (tipo) {
    case 0x30:
    case 0x32:
      entero = tipo == 0x32 ? (d[0] != 0) : d[0];
      return std::to_string(*entero);
    case 0x34:
    case 0x38:
    case 0x7F:
      entero = ConSigno(d, LargoFijo(tipo));
      return std::to_string(*entero);
    case 0x3B: {
      float f;
      std::memcpy(&f, d, 4);
      return Real(f);
    }
    case 0x3E: {
      double f;
      std::memcpy(&f, d, 8);
      return Real(f);
    }
    case 0x7A:
    case 0x3C: {  // money: ten-thousandths, the high half first
      const std::int64_t v =
          tipo == 0x7A ? ConSigno(d, 4)
                       : static_cast<std::int64_t>(static_cast<std::uint64_t>(SinSigno(d, 4)) << 32 |
                                                   static_cast<std::uint64_t>(SinSigno(d + 4, 4)));
      const u128 m = v < 0 ? static_cast<u128>(-(v + 1)) + 1 : static_cast<u128>(v);
      return Decimal(v < 0, m, 4);
    }
    case 0x3A:  // smalldatetime: days from 1900, minutes
      return "'" +
             FechaHora(static_cast<std::int64_t>(SinSigno(d, 2)) - kDias1900a1970,
                       static_cast<std::uint64_t>(SinSigno(d + 2, 2)) * 60, 0) +
             "'";
    default: {  // datetime: days from 1900 and 1/300 s ticks, to the millisecond as SQL Server rounds them
      const std::uint64_t ms = (static_cast<std::uint64_t>(SinSigno(d + 4, 4)) * 10 + 1) / 3;
      return "'" + FechaHora(ConSigno(d, 4) - kDias1900a1970, ms, 3) + "'";
    }
  }
}

// A character value: the text, and its literal.
void PonerTexto(ParametroRpc& p, const Bytes& v, bool ancho) {
  if (ancho && v.size() % 2 != 0) throw ErrorProtocolo("texto UTF-16 con un número impar de bytes");
  p.texto = ancho ? Utf16AUtf8(v.data(), v.size() / 2) : Cp1252AUtf8(v.data(), v.size());
  p.literal = Comillas(*p.texto, ancho);
  p.nulo = false;
}

void PonerLiteral(ParametroRpc& p, std::string literal) {
  p.literal = std::move(literal);
  p.nulo = false;
}

// date, time and datetime2: a scale (not for date), then the length and units of 10^-scale s, days from
// 0001-01-01.
void LeerFecha(Lector& l, std::uint8_t tipo, ParametroRpc& p) {
  const int escala = tipo == 0x28 ? 0 : l.U8();
  if (escala > 7) throw ErrorProtocolo("escala de tiempo inválida");
  const std::size_t n = l.U8();
  if (n == 0) return;
  const std::size_t tiempo = tipo == 0x28 ? 0 : tipo == 0x29 ? n : n - 3;
  if (tiempo > 5 || n < tiempo || (tipo != 0x29 && n != tiempo + 3))
    throw ErrorProtocolo("fecha de largo inválido");
  const std::uint8_t* v = l.Tomar(n);
  const auto unidades = static_cast<std::uint64_t>(SinSigno(v, tiempo));
  const std::int64_t dias =
      tipo == 0x29 ? 0 : static_cast<std::int64_t>(SinSigno(v + tiempo, 3)) - kDias0001a1970;
  const std::string t = FechaHora(dias, unidades, escala);
  PonerLiteral(p, "'" + (tipo == 0x28 ? t.substr(0, 10) : tipo == 0x29 ? t.substr(11) : t) + "'");
}

// Reads the TYPE_INFO and value of one parameter into `p`; false for a type this server does not read.
bool LeerValor(Lector& l, ParametroRpc& p) {
  const std::uint8_t tipo = l.U8();
  if (const std::size_t n = LargoFijo(tipo)) {
    PonerLiteral(p, LiteralFijo(tipo, l.Tomar(n), p.entero));
    return true;
  }
  switch (tipo) {
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F: {  // intn, bitn, floatn, moneyn, datetimen: maximum, then the length of this value
      l.U8();
      const std::size_t n = l.U8();
      if (n == 0) return true;
      const std::uint8_t fijo = FijoDe(tipo, n);
      if (LargoFijo(fijo) != n) throw ErrorProtocolo("valor de largo inválido para su tipo");
      PonerLiteral(p, LiteralFijo(fijo, l.Tomar(n), p.entero));
      return true;
    }
    case 0x6A:
    case 0x6C: {  // decimal, numeric: maximum, precision, scale; value: length, sign, magnitude
      l.U8();
      l.U8();
      const int escala = l.U8();
      const std::size_t n = l.U8();
      if (n == 0) return true;
      if (n < 2 || n > 17 || escala > 38) throw ErrorProtocolo("decimal de largo inválido");
      const bool negativo = l.U8() == 0;
      PonerLiteral(p, Decimal(negativo, SinSigno(l.Tomar(n - 1), n - 1), escala));
      return true;
    }
    case 0x28:
    case 0x29:
    case 0x2A:
      LeerFecha(l, tipo, p);
      return true;
    case 0x24: {  // uniqueidentifier: the first three groups little-endian
      l.U8();
      const std::size_t n = l.U8();
      if (n == 0) return true;
      if (n != 16) throw ErrorProtocolo("uniqueidentifier de largo inválido");
      const std::uint8_t* g = l.Tomar(16);
      static constexpr int kOrden[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      std::string t;
      for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) t += '-';
        t += kCifras[g[kOrden[k]] >> 4];
        t += kCifras[g[kOrden[k]] & 15];
      }
      PonerLiteral(p, "'" + t + "'");
      return true;
    }
    case 0xE7:
    case 0xEF:
    case 0xA7:
    case 0xAF:
    case 0xA5:
    case 0xAD: {  // n/var/char and var/binary: maximum, collation (not binary), value or (max) in chunks
      const bool binario = tipo == 0xA5 || tipo == 0xAD;
      const std::uint16_t max = l.U16();
      if (!binario) l.Saltar(5);
      std::optional<Bytes> v;
      if (max == 0xFFFF) {
        v = LeerPlp(l);
      } else if (const std::uint16_t largo = l.U16(); largo != 0xFFFF) {
        const auto* q = l.Tomar(largo);
        v = Bytes(q, q + largo);
      }
      if (!v) return true;
      if (binario)
        PonerLiteral(p, Hex(v->data(), v->size()));
      else
        PonerTexto(p, *v, tipo == 0xE7 || tipo == 0xEF);
      return true;
    }
    case 0x63:
    case 0x23:
    case 0x22: {  // ntext, text, image: in a parameter the value has no text pointer, only its length
      l.U32();
      if (tipo != 0x22) l.Saltar(5);
      const std::uint32_t largo = l.U32();
      if (largo == 0xFFFFFFFF) return true;
      const auto* q = l.Tomar(largo);
      if (tipo == 0x22)
        PonerLiteral(p, Hex(q, largo));
      else
        PonerTexto(p, Bytes(q, q + largo), tipo == 0x63);
      return true;
    }
    default:
      return false;
  }
}

bool LetraDeNombre(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
         (static_cast<unsigned char>(c) & 0x80);
}

// One past the string, quoted name or comment that begins at `i`, or `i` when none does.
std::size_t SaltarCita(std::string_view s, std::size_t i) {
  if (s.substr(i, 2) == "--") {
    const auto f = s.find('\n', i);
    return f == std::string_view::npos ? s.size() : f;
  }
  if (s.substr(i, 2) == "/*") {
    const auto f = s.find("*/", i + 2);
    return f == std::string_view::npos ? s.size() : f + 2;
  }
  const char c = s[i];
  if (c != '\'' && c != '[' && c != '"') return i;
  const char fin = c == '[' ? ']' : c;
  for (++i; i < s.size(); ++i) {
    if (s[i] != fin) continue;
    if (i + 1 < s.size() && s[i + 1] == fin) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return s.size();
}

}  // namespace

Rpc LeerRpc(const Bytes& datos, bool encabezados) {
  Rpc r;
  Lector l(datos);
  SaltarEncabezados(l, encabezados);
  const std::uint16_t n = l.U16();
  if (n == 0xFFFF) {
    r.numero = l.U16();
    static const char* const nombres[] = {"",
                                          "sp_cursor",
                                          "sp_cursoropen",
                                          "sp_cursorprepare",
                                          "sp_cursorexecute",
                                          "sp_cursorprepexec",
                                          "sp_cursorunprepare",
                                          "sp_cursorfetch",
                                          "sp_cursoroption",
                                          "sp_cursorclose",
                                          "sp_executesql",
                                          "sp_prepare",
                                          "sp_execute",
                                          "sp_prepexec",
                                          "sp_prepexecrpc",
                                          "sp_unprepare"};
    r.nombre = r.numero >= 1 && r.numero <= 15 ? nombres[r.numero] : std::to_string(r.numero);
  } else {
    r.nombre = l.Texto(n);
  }
  l.U16();  // option flags
  while (l.Quedan() > 0) {
    const std::uint8_t siguiente = *l.Tomar(1);
    // Another call in the same message: neither client sends one, and it is refused with the first.
    if (siguiente == 0x80 || siguiente == 0xFF) break;
    l.Ir(l.Pos() - 1);
    ParametroRpc p;
    p.nombre = l.Texto(l.U8());
    p.salida = (l.U8() & 0x01) != 0;
    const std::uint8_t tipo = datos[l.Pos() < datos.size() ? l.Pos() : 0];
    if (!LeerValor(l, p)) {
      r.desconocido =
          "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is incorrect. "
          "Parameter " +
          std::to_string(r.parametros.size() + 1) + " (\"" + p.nombre + "\"): Data type 0x" +
          kCifras[tipo >> 4] + kCifras[tipo & 15] + " is unknown.";
      break;
    }
    r.parametros.push_back(std::move(p));
  }
  return r;
}

std::string Sustituir(std::string_view s, const std::map<std::string, std::string>& valores) {
  std::string r;
  r.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    if (const std::size_t j = SaltarCita(s, i); j != i) {
      r.append(s.substr(i, j - i));
      i = j;
    } else if (LetraDeNombre(s[i])) {
      std::size_t fin = i;
      while (fin < s.size() && LetraDeNombre(s[fin])) ++fin;
      const std::string_view palabra = s.substr(i, fin - i);
      const auto it = palabra.starts_with("@") ? valores.find(Mayusculas(palabra)) : valores.end();
      r.append(it == valores.end() ? palabra : std::string_view(it->second));
      i = fin;
    } else {
      r += s[i++];
    }
  }
  return r;
}

std::vector<std::string> Declarados(std::string_view s) {
  std::vector<std::string> r;
  int hondo = 0;
  bool esperaNombre = true;
  for (std::size_t i = 0; i < s.size();) {
    if (const std::size_t j = SaltarCita(s, i); j != i) {
      i = j;
    } else if (s[i] == '(' || s[i] == ')') {
      hondo += s[i++] == '(' ? 1 : -1;
    } else if (s[i] == ',' && hondo == 0) {
      esperaNombre = true;
      ++i;
    } else if (esperaNombre && s[i] == '@') {
      std::size_t fin = i;
      while (fin < s.size() && LetraDeNombre(s[fin])) ++fin;
      r.push_back(Mayusculas(s.substr(i, fin - i)));
      esperaNombre = false;
      i = fin;
    } else {
      ++i;
    }
  }
  return r;
}

PedidoTm LeerTm(const Bytes& datos, bool encabezados) {
  PedidoTm p;
  Lector l(datos);
  SaltarEncabezados(l, encabezados);
  p.tipo = l.U16();
  if (p.tipo == 5) {
    l.U8();
    l.Saltar(l.U8());
  } else if (p.tipo == 7 || p.tipo == 8) {
    l.Saltar(l.U8());
    if (l.Quedan() > 0) p.otra = (l.U8() & 0x01) != 0;
  }
  return p;
}

}  // namespace simulado::tds
