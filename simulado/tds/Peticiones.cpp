// Decoding of SQL batches, RPC calls and transaction-manager requests.
#include "tds/Peticiones.h"

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

constexpr std::uint64_t kPlpNulo = 0xFFFFFFFFFFFFFFFFull;

std::string Latin1(const std::uint8_t* p, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] < 0x80) {
      s += static_cast<char>(p[i]);
    } else {
      s += static_cast<char>(0xC0 | p[i] >> 6);
      s += static_cast<char>(0x80 | (p[i] & 0x3F));
    }
  }
  return s;
}

// Reads a (max) value sent in chunks; bounded by the message, so a lying length stops at its end.
std::optional<Bytes> LeerPlp(Lector& l) {
  const std::uint64_t total = l.U64();
  if (total == kPlpNulo) return std::nullopt;
  Bytes r;
  for (int trozos = 0;; ++trozos) {
    const std::uint32_t n = l.U32();
    if (n == 0) break;
    const auto* p = l.Tomar(n);
    r.insert(r.end(), p, p + n);
  }
  return r;
}

// One parameter's TYPE_INFO and value; returns the value as text when it is a character type.
std::optional<std::string> LeerValor(Lector& l) {
  const std::uint8_t tipo = l.U8();
  switch (tipo) {
    case 0xE7:
    case 0xEF:
    case 0xA7:
    case 0xAF: {
      const bool ancho = tipo == 0xE7 || tipo == 0xEF;
      const std::uint16_t max = l.U16();
      l.Saltar(5);
      std::optional<Bytes> v;
      if (max == 0xFFFF) {
        v = LeerPlp(l);
      } else {
        const std::uint16_t n = l.U16();
        if (n != 0xFFFF) {
          const auto* p = l.Tomar(n);
          v = Bytes(p, p + n);
        }
      }
      if (!v) return std::nullopt;
      if (ancho) {
        if (v->size() % 2 != 0) throw ErrorProtocolo("texto UTF-16 con un número impar de bytes");
        return Utf16AUtf8(v->data(), v->size() / 2);
      }
      return Latin1(v->data(), v->size());
    }
    case 0x63:
    case 0x23: {  // ntext, text
      l.U32();
      l.Saltar(5);
      const std::uint8_t puntero = l.U8();
      if (puntero == 0) return std::nullopt;
      l.Saltar(puntero + 8u);
      const std::uint32_t n = l.U32();
      const auto* p = l.Tomar(n);
      if (tipo == 0x23) return Latin1(p, n);
      if (n % 2 != 0) throw ErrorProtocolo("texto UTF-16 con un número impar de bytes");
      return Utf16AUtf8(p, n / 2);
    }
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6F: {  // intn, bitn, floatn, datetimen: 1-byte max, 1-byte length
      l.U8();
      l.Saltar(l.U8());
      return std::nullopt;
    }
    case 0x6A:
    case 0x6C: {
      l.Saltar(3);
      l.Saltar(l.U8());
      return std::nullopt;
    }
    case 0x30:
    case 0x34:
    case 0x38:
    case 0x7F:  // tinyint, smallint, int, bigint: no length, the type says it
      l.Saltar(tipo == 0x30 ? 1u : tipo == 0x34 ? 2u : tipo == 0x38 ? 4u : 8u);
      return std::nullopt;
    default:
      throw ErrorProtocolo("tipo de parámetro RPC no admitido");
  }
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
    l.Texto(l.U8());
    l.U8();  // status flags
    auto v = LeerValor(l);
    if (r.parametros++ == 0) r.sentencia = std::move(v);
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
