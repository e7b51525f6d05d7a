// Variante.cpp: conversions of the control's typed values.
#include "Variante.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "Contrato.h"
#include "Texto.h"

namespace prueba {

int32_t Variante::Tipo() const {
  static constexpr std::array<int32_t, 7> kTipos{PAGORA_VACIO, PAGORA_CADENA, PAGORA_BOOLEANO, PAGORA_ENTERO,
                                                 PAGORA_LARGO, PAGORA_BYTE,   PAGORA_DOBLE};
  return kTipos[valor_.index()];
}

std::string Variante::Texto() const {
  struct {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(int16_t v) const { return std::to_string(v); }
    std::string operator()(int32_t v) const { return std::to_string(v); }
    std::string operator()(uint8_t v) const { return std::to_string(v); }
    std::string operator()(double v) const {
      std::array<char, 32> b{};
      auto r = std::to_chars(b.data(), b.data() + b.size(), v);
      return std::string(b.data(), r.ptr);
    }
  } texto;
  return std::visit(texto, valor_);
}

std::optional<bool> Variante::ComoBooleano() const {
  if (std::holds_alternative<std::monostate>(valor_)) return false;
  if (const bool* b = Si<bool>()) return *b;
  if (const std::string* s = Si<std::string>()) {
    const std::string t = Minusculas(Recortar(*s, " \t"));
    if (t == "true") return true;
    if (t == "false") return false;
    double d = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), d);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return d != 0;
  }
  if (const double* d = Si<double>()) return *d != 0;
  if (const int16_t* e = Si<int16_t>()) return *e != 0;
  if (const int32_t* l = Si<int32_t>()) return *l != 0;
  return *Si<uint8_t>() != 0;
}

PagoraVariante Variante::AC() const {
  PagoraVariante c{};
  c.tipo = Tipo();
  if (const std::string* s = Si<std::string>())
    c.cadena = s->c_str();
  else if (const bool* b = Si<bool>())
    c.valor.booleano = *b ? 1 : 0;
  else if (const int16_t* e = Si<int16_t>())
    c.valor.entero = *e;
  else if (const int32_t* l = Si<int32_t>())
    c.valor.largo = *l;
  else if (const uint8_t* y = Si<uint8_t>())
    c.valor.byte = *y;
  else if (const double* d = Si<double>())
    c.valor.doble = *d;
  return c;
}

std::optional<Variante> Variante::DeC(const PagoraVariante& c) {
  switch (c.tipo) {
    case PAGORA_VACIO:
      return Variante();
    case PAGORA_CADENA:
      return Cadena(c.cadena ? c.cadena : "");
    case PAGORA_BOOLEANO:
      return Booleano(c.valor.booleano != 0);
    case PAGORA_ENTERO:
      return Entero(c.valor.entero);
    case PAGORA_LARGO:
      return Largo(c.valor.largo);
    case PAGORA_BYTE:
      return Byte(c.valor.byte);
    case PAGORA_DOBLE:
      return Doble(c.valor.doble);
    default:
      return std::nullopt;
  }
}

std::string NombrarDispid(int32_t dispid) {
  std::array<char, 16> b{};
  std::snprintf(b.data(), b.size(), "0x%08X", static_cast<uint32_t>(dispid));
  std::string s = b.data();
  if (auto m = BuscarMiembro(dispid)) s += " (" + std::string(m->nombre) + ")";
  return s;
}

}  // namespace prueba
