// Variante.h: a typed value put to or got from the transaction control, and its conversions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "pagora_control.h"

namespace prueba {

class Variante {
 public:
  Variante() = default;
  static Variante Cadena(std::string v) { return Variante(Valor(std::move(v))); }
  static Variante Booleano(bool v) { return Variante(Valor(v)); }
  static Variante Entero(int16_t v) { return Variante(Valor(v)); }
  static Variante Largo(int32_t v) { return Variante(Valor(v)); }
  static Variante Byte(uint8_t v) { return Variante(Valor(v)); }
  static Variante Doble(double v) { return Variante(Valor(v)); }

  int32_t Tipo() const;  // one of the PAGORA_ type numbers

  template <class T>
  const T* Si() const {
    return std::get_if<T>(&valor_);
  }

  // The value as text, the way the form shows it: numbers in C notation (shortest form that reads
  // back the same), Booleans "True"/"False", Empty as "".
  std::string Texto() const;
  // The value as a Boolean: Booleans themselves, numbers other than 0, the texts "True"/"False"
  // (any case) or a number; Empty is False. Anything else has no Boolean value.
  std::optional<bool> ComoBooleano() const;

  // Views this value through the C interface; the string pointer lives as long as this object.
  PagoraVariante AC() const;
  // Copies a value received through the C interface; nullopt for an unknown type.
  static std::optional<Variante> DeC(const PagoraVariante& c);

  bool operator==(const Variante&) const = default;

 private:
  using Valor = std::variant<std::monostate, std::string, bool, int16_t, int32_t, uint8_t, double>;
  explicit Variante(Valor v) : valor_(std::move(v)) {}
  Valor valor_;
};

// "0x6803010B", "0x6803010B (Monto)" when the member is known.
std::string NombrarDispid(int32_t dispid);

}  // namespace prueba
