// The frame shared by every public operation: open the port, run the exchange, trap, close.
#pragma once

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "cTeclon.hpp"
#include "enlace.hpp"

// Opens the port (returning false at once when it does not open), runs cuerpo, turns anything
// it throws into CodError/MsgError under the operation's prefix, and always closes the port.
template <class Cuerpo>
bool cTeclon::Ejecutar(const char* prefijo, bool fijarCodigo, Cuerpo&& cuerpo) {
  if (!AbrirPuerto()) return false;
  bool resultado = false;
  try {
    resultado = cuerpo();
  } catch (const teclon::ErrorPuerto& e) {
    ErrorAtrapado(prefijo, fijarCodigo, e.Numero(), e.what());
    resultado = false;
  } catch (const std::bad_alloc&) {
    ErrorAtrapado(prefijo, fijarCodigo, ENOMEM, "Memoria insuficiente");
    resultado = false;
  } catch (const std::exception& e) {
    ErrorAtrapado(prefijo, fijarCodigo, -1, e.what());
    resultado = false;
  } catch (...) {
    ErrorAtrapado(prefijo, fijarCodigo, -1, "Error inesperado");
    resultado = false;
  }
  CerrarPuerto();
  return resultado;
}

namespace teclon {

// An operation's answer into either kind of destination: the caller's string or wiping memory.
inline void Poner(std::string& destino, std::string_view valor) {
  destino.assign(valor);
}
inline void Poner(TextoSeguro& destino, std::string_view valor) {
  destino.Vaciar();
  destino.Agregar(valor);
}
inline void Borrar(TextoSeguro& texto) noexcept {
  texto.Vaciar();
}

// What the C interface may call beyond the public operations.
struct Interno {
  static bool LeerBANDA(cTeclon& t, TextoSeguro& banda) { return t.LeerBandaEn(banda); }
  static bool IngresarPIN(cTeclon& t, std::string_view tarjeta, std::string_view clave, std::string_view m1,
                          std::string_view m2, TextoSeguro& pin) {
    return t.IngresarPinEn(tarjeta, clave, m1, m2, pin);
  }
  static bool TransferirClaveMaestra(cTeclon& t, std::string_view clave) { return t.TransferirClave(clave); }
};

}  // namespace teclon
