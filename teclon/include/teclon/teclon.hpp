// teclon::Teclon: the PIN pad driver for C++ programs, written inline over the C interface (teclon.h).
#pragma once

#include <string.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "teclon/teclon.h"

namespace teclon {

// One PIN pad on one serial port; the members are those of cTeclon. Everything is inline over the C
// functions, so a program built against this header depends only on libteclon's C symbols and keeps
// working when the library changes inside. Nothing is thrown but std::bad_alloc from the constructor
// (the library could not create its object). Not copyable or movable: the library keeps a pointer to it
// while a pump is set.
class Teclon {
 public:
  Teclon() : h_(cTeclon_Crear()) {
    if (h_ == nullptr) throw std::bad_alloc();
  }
  ~Teclon() { cTeclon_Destruir(h_); }
  Teclon(const Teclon&) = delete;
  Teclon& operator=(const Teclon&) = delete;

  void Puerto(short vPuerto) { cTeclon_Puerto(h_, vPuerto); }
  short CodError() const { return cTeclon_CodError(h_); }
  std::string MsgError() const { return cTeclon_MsgError(h_); }
  // May be called from the pump or from another thread while an operation waits.
  void Cancelar(bool vCancelar) { cTeclon_Cancelar(h_, vCancelar ? 1 : 0); }
  void CerrarPuerto() { cTeclon_CerrarPuerto(h_); }

  bool CargarPROMPT() { return cTeclon_CargarPROMPT(h_) != 0; }
  bool LeerCHIP(std::string& Banda) { return Leer(Banda, cTeclon_LeerCHIP); }
  // Banda gets both tracks, each ended by a carriage return.
  bool LeerBANDA(std::string& Banda) { return Leer(Banda, cTeclon_LeerBANDA); }
  bool IngresarPIN(const std::string& NroTarjeta, const std::string& ClaveTrabajo,
                   const std::string& Mensaje1, const std::string& Mensaje2, std::string& NroPIN) {
    std::vector<char> pin(kRespuesta, '\0');
    const bool r = cTeclon_IngresarPIN(h_, NroTarjeta.c_str(), ClaveTrabajo.c_str(), Mensaje1.c_str(),
                                       Mensaje2.c_str(), pin.data(), pin.size()) != 0;
    NroPIN.assign(pin.data());
    explicit_bzero(pin.data(), pin.size());
    return r;
  }
  bool InicializarTECLON() { return cTeclon_InicializarTECLON(h_) != 0; }
  bool TransferirClaveMaestra(const std::string& ClaveMaestra) {
    return cTeclon_TransferirClaveMaestra(h_, ClaveMaestra.c_str()) != 0;
  }
  bool VerificarClaveMaestra(short PosClave) { return cTeclon_VerificarClaveMaestra(h_, PosClave) != 0; }
  bool SelClaveMaestra(short PosClave) { return cTeclon_SelClaveMaestra(h_, PosClave) != 0; }

  // Runs at every poll of a wait, on the calling thread; an empty function removes it. Whatever it
  // throws cannot cross the C library: it cancels the operation instead.
  void FijarBombeo(std::function<void()> bombeo) {
    bombeo_ = std::move(bombeo);
    if (bombeo_)
      cTeclon_FijarBombeo(h_, &Teclon::Bombear, this);
    else
      cTeclon_FijarBombeo(h_, nullptr, nullptr);
  }

 private:
  // Room for any answer: tracks and PIN blocks are well under a hundred characters; a longer one fails
  // with the library's "Espacio insuficiente" message rather than being cut.
  static constexpr size_t kRespuesta = 4096;

  template <class Funcion>
  bool Leer(std::string& destino, Funcion funcion) {
    std::vector<char> texto(kRespuesta, '\0');
    const bool r = funcion(h_, texto.data(), texto.size()) != 0;
    destino.assign(texto.data());
    explicit_bzero(texto.data(), texto.size());
    return r;
  }

  static void Bombear(void* contexto) noexcept {
    auto* yo = static_cast<Teclon*>(contexto);
    try {
      yo->bombeo_();
    } catch (...) {
      yo->Cancelar(true);
    }
  }

  TeclonObjeto* h_;
  std::function<void()> bombeo_;
};

}  // namespace teclon
