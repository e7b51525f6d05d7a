// The C interface: a thin, non-throwing wrapper over the driver that cTeclon also uses.
#include "teclon/teclon.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "manejador.hpp"
#include "operacion.hpp"

struct TeclonObjeto {
  teclon::Manejador objeto{nullptr, nullptr};
  std::string mensaje;      // MsgError as last handed out
  std::string errorPropio;  // set when the wrapper itself refused an answer
  short codigoPropio = tcError;
  bool hayErrorPropio = false;
};

namespace {

// A caller's text read in place: card numbers and keys are never copied into memory that is not wiped.
std::string_view Texto(const char* c) {
  return c ? std::string_view(c) : std::string_view();
}

// The wrapper's own failure; out of memory the message may stay empty, but nothing is thrown.
void ErrorPropio(TeclonObjeto* h, const char* mensaje) noexcept {
  h->hayErrorPropio = true;
  h->codigoPropio = tcError;
  try {
    h->errorPropio = mensaje;
  } catch (...) {
    h->errorPropio.clear();
  }
}

void Limpiar(TeclonObjeto* h) {
  h->hayErrorPropio = false;
}

// Copies the answer when it fits, NUL included; otherwise writes nothing and reports why.
int Entregar(TeclonObjeto* h, bool resultado, std::string_view respuesta, char* destino, std::size_t tamano) {
  int salida = resultado ? 1 : 0;
  if (respuesta.empty() && (destino == nullptr || tamano == 0)) {
    // Nothing to hand back and nowhere asked to put it.
  } else if (respuesta.size() + 1 <= tamano && destino != nullptr) {
    std::memcpy(destino, respuesta.data(), respuesta.size());
    destino[respuesta.size()] = '\0';
  } else {
    if (destino != nullptr && tamano > 0) destino[0] = '\0';
    ErrorPropio(h, "Espacio insuficiente para la respuesta");
    h->errorPropio += ": se necesitan " + std::to_string(respuesta.size() + 1) + " bytes";
    salida = 0;
  }
  return salida;
}

template <class F>
int Proteger(TeclonObjeto* h, F&& f) {
  if (h == nullptr) return 0;
  try {
    Limpiar(h);
    return f();
  } catch (...) {
    ErrorPropio(h, "Error inesperado en la interfaz C");
    return 0;
  }
}

}  // namespace

extern "C" {

// Building the object allocates (port, clock, link); out of memory the caller gets null.
TeclonObjeto* cTeclon_Crear(void) {
  try {
    return new TeclonObjeto();
  } catch (...) {
    return nullptr;
  }
}

void cTeclon_Destruir(TeclonObjeto* h) {
  delete h;
}

void cTeclon_Puerto(TeclonObjeto* h, short vPuerto) {
  if (h) h->objeto.Puerto(vPuerto);
}

short cTeclon_CodError(TeclonObjeto* h) {
  if (!h) return tcError;
  return h->hayErrorPropio ? h->codigoPropio : h->objeto.CodError();
}

const char* cTeclon_MsgError(TeclonObjeto* h) {
  if (!h) return "";
  try {
    h->mensaje = h->hayErrorPropio ? h->errorPropio : h->objeto.MsgError();
  } catch (...) {
    h->mensaje.clear();
  }
  return h->mensaje.c_str();
}

void cTeclon_Cancelar(TeclonObjeto* h, int vCancelar) {
  if (h) h->objeto.Cancelar(vCancelar != 0);
}

void cTeclon_CerrarPuerto(TeclonObjeto* h) {
  if (h) h->objeto.CerrarPuerto();
}

int cTeclon_CargarPROMPT(TeclonObjeto* h) {
  return Proteger(h, [&] { return h->objeto.CargarPROMPT() ? 1 : 0; });
}

int cTeclon_LeerCHIP(TeclonObjeto* h, char* Banda, size_t tamano) {
  return Proteger(h, [&] {
    // The chip is only started; no track comes back.
    std::string banda;
    const bool r = h->objeto.LeerCHIP(banda);
    return Entregar(h, r, banda, Banda, tamano);
  });
}

int cTeclon_LeerBANDA(TeclonObjeto* h, char* Banda, size_t tamano) {
  return Proteger(h, [&] {
    teclon::TextoSeguro banda;
    const bool r = h->objeto.LeerBandaEn(banda);
    return Entregar(h, r, banda.Vista(), Banda, tamano);
  });
}

int cTeclon_IngresarPIN(TeclonObjeto* h, const char* NroTarjeta, const char* ClaveTrabajo,
                        const char* Mensaje1, const char* Mensaje2, char* NroPIN, size_t tamano) {
  return Proteger(h, [&] {
    teclon::TextoSeguro pin;
    const bool r = h->objeto.IngresarPinEn(Texto(NroTarjeta), Texto(ClaveTrabajo), Texto(Mensaje1),
                                           Texto(Mensaje2), pin);
    return Entregar(h, r, pin.Vista(), NroPIN, tamano);
  });
}

int cTeclon_InicializarTECLON(TeclonObjeto* h) {
  return Proteger(h, [&] { return h->objeto.InicializarTECLON() ? 1 : 0; });
}

int cTeclon_TransferirClaveMaestra(TeclonObjeto* h, const char* ClaveMaestra) {
  return Proteger(h, [&] { return h->objeto.TransferirClave(Texto(ClaveMaestra)) ? 1 : 0; });
}

int cTeclon_VerificarClaveMaestra(TeclonObjeto* h, short PosClave) {
  return Proteger(h, [&] { return h->objeto.VerificarClaveMaestra(PosClave) ? 1 : 0; });
}

int cTeclon_SelClaveMaestra(TeclonObjeto* h, short PosClave) {
  return Proteger(h, [&] { return h->objeto.SelClaveMaestra(PosClave) ? 1 : 0; });
}

void cTeclon_FijarBombeo(TeclonObjeto* h, void (*bombeo)(void*), void* contexto) {
  if (!h) return;
  try {
    if (bombeo == nullptr)
      h->objeto.FijarBombeo(nullptr);
    else
      h->objeto.FijarBombeo([bombeo, contexto] { bombeo(contexto); });
  } catch (...) {
    // Out of memory the previous pump stays; nothing may leave through the C interface.
  }
}

}  // extern "C"
