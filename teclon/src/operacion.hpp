// The frame shared by every public operation: open the port, run the exchange, trap, close.
#pragma once

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "enlace.hpp"
#include "manejador.hpp"

// Opens the port (returning false at once when it does not open), runs cuerpo, turns anything
// it throws into CodError/MsgError under the operation's prefix, and always closes the port.
template <class Cuerpo>
bool teclon::Manejador::Ejecutar(const char* prefijo, bool fijarCodigo, Cuerpo&& cuerpo) {
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

}  // namespace teclon
