// cTeclon: the PIN pad driver object and its public operations.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "puerto.hpp"
#include "teclon/resultado.h"

namespace teclon {
class Enlace;
struct Interno;
}  // namespace teclon

// Drives a PIN pad on a serial port. Every operation opens the port, runs one framed exchange on
// the calling thread, closes the port and returns true on success, leaving CodError and MsgError
// set. Nothing is thrown to the caller. While an operation waits, the pump callback runs at every
// poll; Cancelar may be called from it, or from any other thread.
class cTeclon {
 public:
  cTeclon();
  // For hosts and tests that bring their own port and clock (a null one gets the default).
  cTeclon(std::unique_ptr<teclon::PuertoSerie> puerto, std::shared_ptr<teclon::Reloj> reloj);
  ~cTeclon();
  cTeclon(const cTeclon&) = delete;
  cTeclon& operator=(const cTeclon&) = delete;

  void Puerto(short vPuerto);
  short CodError() const;
  std::string MsgError() const;
  void Cancelar(bool vCancelar);
  void CerrarPuerto();

  bool CargarPROMPT();
  bool LeerCHIP(std::string& Banda);
  bool LeerBANDA(std::string& Banda);
  bool IngresarPIN(const std::string& NroTarjeta, const std::string& ClaveTrabajo,
                   const std::string& Mensaje1, const std::string& Mensaje2, std::string& NroPIN);
  bool InicializarTECLON();
  bool TransferirClaveMaestra(const std::string& ClaveMaestra);
  bool VerificarClaveMaestra(short PosClave);
  bool SelClaveMaestra(short PosClave);

  // Lets the caller's pending events run during waits; none by default.
  void FijarBombeo(std::function<void()> bombeo);

 private:
  // The C interface reaches the secret-carrying operations below, which keep card numbers, keys,
  // tracks and PIN blocks in wiping memory all the way to the caller's buffer.
  friend struct teclon::Interno;
  template <class Texto>
  bool LeerBandaEn(Texto& Banda);
  template <class Texto>
  bool IngresarPinEn(std::string_view NroTarjeta, std::string_view ClaveTrabajo, std::string_view Mensaje1,
                     std::string_view Mensaje2, Texto& NroPIN);
  bool TransferirClave(std::string_view ClaveMaestra);

  bool AbrirPuerto();
  void Entrada(TeclonError codigo);
  void ErrorApertura(const int* numero, const char* descripcion) noexcept;
  void ErrorAtrapado(const char* prefijo, bool fijarCodigo, int numero, const char* descripcion) noexcept;
  template <class Texto, class Cuerpo>
  bool LeerTarjeta(const char* prefijo, Texto& Banda, Cuerpo&& cuerpo);
  template <class Cuerpo>
  bool Ejecutar(const char* prefijo, bool fijarCodigo, Cuerpo&& cuerpo);

  std::unique_ptr<teclon::PuertoSerie> mComm;
  std::shared_ptr<teclon::Reloj> mReloj;
  std::function<void()> mBombeo;
  std::atomic<bool> mCancelar{false};
  short mPuerto = 1;
  std::string mMsgError;
  TeclonError mCodError = tcError;
  std::unique_ptr<teclon::Enlace> mEnlace;
};
