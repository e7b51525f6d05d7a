// The frame shared by every public operation: open the port, run the exchange, trap, close.
#pragma once

#include <cerrno>
#include <exception>
#include <new>

#include "enlace.hpp"
#include "teclon/cTeclon.hpp"

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
