// Control.h: a transaction control reached by dispatch identifier only, and the error its calls raise.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "Variante.h"

namespace prueba {

// Error numbers beyond the control's own (pagora_control.h).
constexpr int32_t kErrClaseNoRegistrada = static_cast<int32_t>(0x80040154);
constexpr int32_t kErrClaseNoDisponible = static_cast<int32_t>(0x80040111);
constexpr int32_t kErrBiblioteca = static_cast<int32_t>(0x8007007E);
constexpr int32_t kErrPuntoEntrada = static_cast<int32_t>(0x8007007F);

// A failed creation, call or conversion: the error number and its description (the loader's own text
// when a library could not be loaded).
class ErrorControl : public std::runtime_error {
 public:
  ErrorControl(int32_t numero, const std::string& descripcion)
      : std::runtime_error(descripcion), numero_(numero) {}
  int32_t Numero() const { return numero_; }

 private:
  int32_t numero_;
};

// Put a property, get a property, call a method; every failure is an ErrorControl naming the DISPID.
class Control {
 public:
  virtual ~Control() = default;
  virtual void Poner(int32_t dispid, const Variante& valor) = 0;
  virtual Variante Obtener(int32_t dispid) = 0;
  virtual Variante Llamar(int32_t dispid) = 0;
};

}  // namespace prueba
