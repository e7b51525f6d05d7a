// Manejador: the PIN pad driver inside the library, behind the public cTeclon.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "puerto.hpp"
#include "teclon/cTeclon.hpp"
#include "teclon/resultado.h"

namespace teclon {

class Enlace;

// What cTeclon does, with its collaborators given (a null port or clock gets the default): its public
// operations are cTeclon's, one for one.
class Manejador {
 public:
  Manejador(std::unique_ptr<PuertoSerie> puerto, std::shared_ptr<Reloj> reloj);
  ~Manejador();
  Manejador(const Manejador&) = delete;
  Manejador& operator=(const Manejador&) = delete;

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

  // For the C interface: the secret-carrying operations, which keep card numbers, keys, tracks and PIN
  // blocks in wiping memory all the way to the caller's buffer.
  template <class Texto>
  bool LeerBandaEn(Texto& Banda);
  template <class Texto>
  bool IngresarPinEn(std::string_view NroTarjeta, std::string_view ClaveTrabajo, std::string_view Mensaje1,
                     std::string_view Mensaje2, Texto& NroPIN);
  bool TransferirClave(std::string_view ClaveMaestra);

 private:
  bool AbrirPuerto();
  void Entrada(TeclonError codigo);
  void ErrorApertura(const int* numero, const char* descripcion) noexcept;
  void ErrorAtrapado(const char* prefijo, bool fijarCodigo, int numero, const char* descripcion) noexcept;
  template <class Texto, class Cuerpo>
  bool LeerTarjeta(const char* prefijo, Texto& Banda, Cuerpo&& cuerpo);
  template <class Cuerpo>
  bool Ejecutar(const char* prefijo, bool fijarCodigo, Cuerpo&& cuerpo);

  std::unique_ptr<PuertoSerie> mComm;
  std::shared_ptr<Reloj> mReloj;
  std::function<void()> mBombeo;
  std::atomic<bool> mCancelar{false};
  short mPuerto = 1;
  std::string mMsgError;
  TeclonError mCodError = tcError;
  std::unique_ptr<Enlace> mEnlace;
};

// The library's way into a cTeclon: its driver, and one built over a given port and clock (tests, and
// hosts inside the library).
struct Interno {
  static Manejador& De(cTeclon& t) { return *t.m_; }
  static cTeclon Crear(std::unique_ptr<PuertoSerie> puerto, std::shared_ptr<Reloj> reloj) {
    return cTeclon(std::make_unique<Manejador>(std::move(puerto), std::move(reloj)));
  }
};

}  // namespace teclon
