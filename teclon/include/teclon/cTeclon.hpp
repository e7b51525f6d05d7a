// cTeclon: the PIN pad driver for C++ programs, the class that libteclon exports beside its C interface.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "teclon/resultado.h"

#if defined(TECLON_COMPILANDO)
#define TECLON_API __attribute__((visibility("default")))
#define TECLON_OCULTO __attribute__((visibility("hidden")))
#else
#define TECLON_API
#define TECLON_OCULTO
#endif

namespace teclon {
class Manejador;
struct Interno;
}  // namespace teclon

// Drives a PIN pad on a serial port. Every operation opens the port, runs one framed exchange on
// the calling thread, closes the port and returns true on success, leaving CodError and MsgError
// set. Nothing is thrown to the caller, except std::bad_alloc by the constructor. While an operation
// waits, the pump set with FijarBombeo runs at every poll on the calling thread; Cancelar may be
// called from it, or from any other thread. One object is used by one thread at a time.
//
// The object holds only a pointer to the library's driver, so the library can change inside without
// changing the size or the members a program was built against.
class TECLON_API cTeclon {
 public:
  // Port 1; the port stays closed until an operation.
  cTeclon();
  ~cTeclon();
  cTeclon(const cTeclon&) = delete;
  cTeclon& operator=(const cTeclon&) = delete;

  // Port N opens the device named by TECLON_PUERTO_<N>, else /dev/ttyS<N-1>.
  void Puerto(short vPuerto);
  // A TeclonError value.
  short CodError() const;
  std::string MsgError() const;
  void Cancelar(bool vCancelar);
  // Closes the port if it was left open; the result stays.
  void CerrarPuerto();

  bool CargarPROMPT();
  bool LeerCHIP(std::string& Banda);
  // Banda gets track 1 (with its leading "B") and then track 2, each ended by a carriage return.
  bool LeerBANDA(std::string& Banda);
  // NroPIN gets the 16-character PIN block that the PIN pad encrypted.
  bool IngresarPIN(const std::string& NroTarjeta, const std::string& ClaveTrabajo,
                   const std::string& Mensaje1, const std::string& Mensaje2, std::string& NroPIN);
  bool InicializarTECLON();
  bool TransferirClaveMaestra(const std::string& ClaveMaestra);
  bool VerificarClaveMaestra(short PosClave);
  bool SelClaveMaestra(short PosClave);

  // Lets the caller's pending events run during waits; none by default, an empty function removes it.
  void FijarBombeo(std::function<void()> bombeo);

 private:
  // The library's own way in (the C interface, and tests that bring their own port and clock).
  friend struct teclon::Interno;
  TECLON_OCULTO explicit cTeclon(std::unique_ptr<teclon::Manejador> manejador);

  std::unique_ptr<teclon::Manejador> m_;
};
