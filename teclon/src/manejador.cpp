// Manejador: creation, properties, result bookkeeping and the opening and closing of the port.
#include "manejador.hpp"

#include <cerrno>
#include <new>
#include <thread>

#include "enlace.hpp"

namespace teclon {

std::chrono::steady_clock::time_point RelojReal::Ahora() {
  return std::chrono::steady_clock::now();
}

void RelojReal::Dormir(std::chrono::microseconds duracion) {
  std::this_thread::sleep_for(duracion);
}

void RelojReal::DormirSalvoEntrada(std::chrono::microseconds duracion, AvisoDeEntrada& esperar) {
  esperar.EsperarEntrada(duracion);
}

Manejador::Manejador(std::unique_ptr<PuertoSerie> puerto, std::shared_ptr<Reloj> reloj)
    : mComm(puerto ? std::move(puerto) : CrearPuertoTermios()),
      mReloj(reloj ? std::move(reloj) : std::make_shared<RelojReal>()) {
  mEnlace = std::make_unique<Enlace>(*mComm, *mReloj, mBombeo, mCancelar);
}

Manejador::~Manejador() {
  CerrarPuerto();
}

void Manejador::Puerto(short vPuerto) {
  mPuerto = vPuerto;
}

short Manejador::CodError() const {
  return static_cast<short>(mCodError);
}

std::string Manejador::MsgError() const {
  return mMsgError;
}

void Manejador::Cancelar(bool vCancelar) {
  mCancelar.store(vCancelar);
}

void Manejador::FijarBombeo(std::function<void()> bombeo) {
  mBombeo = std::move(bombeo);
}

void Manejador::CerrarPuerto() {
  try {
    if (mComm->Abierto()) mComm->FijarAbierto(false);
  } catch (...) {
  }
}

void Manejador::Entrada(TeclonError codigo) {
  mMsgError.clear();
  mCodError = codigo;
}

// Out of memory, the full message may not be buildable; the prefix alone (which usually fits in
// the capacity the message already has) or an empty message is still better than an exception.
void Manejador::ErrorAtrapado(const char* prefijo, bool fijarCodigo, int numero,
                              const char* descripcion) noexcept {
  if (fijarCodigo) mCodError = tcError;
  try {
    mMsgError = prefijo + std::to_string(numero) + " " + descripcion;
  } catch (...) {
    try {
      mMsgError.assign(prefijo);
    } catch (...) {
      mMsgError.clear();
    }
  }
}

// numero is null when the port simply did not open, without an error of its own.
void Manejador::ErrorApertura(const int* numero, const char* descripcion) noexcept {
  mCodError = tcError;
  try {
    mMsgError = "ERROR al Abrir Puerto " + std::to_string(mPuerto);
    if (numero != nullptr) mMsgError += " - " + std::to_string(*numero) + " " + descripcion;
  } catch (...) {
    try {
      mMsgError.assign("ERROR al Abrir Puerto ");
    } catch (...) {
      mMsgError.clear();
    }
  }
}

bool Manejador::AbrirPuerto() {
  try {
    if (mComm->Abierto()) mComm->FijarAbierto(false);
    mComm->FijarNumero(mPuerto);
    mComm->FijarConfiguracion("1200,E,7,1");
    mComm->FijarLongitudLectura(0);
    mComm->FijarTamanoBuffers(1024, 1024);
    mComm->FijarAbierto(true);
    if (mComm->Abierto()) return true;
    ErrorApertura(nullptr, nullptr);
  } catch (const ErrorPuerto& e) {
    const int numero = e.Numero();
    ErrorApertura(&numero, e.what());
  } catch (const std::bad_alloc&) {
    const int numero = ENOMEM;
    ErrorApertura(&numero, "Memoria insuficiente");
  } catch (const std::exception& e) {
    const int numero = -1;
    ErrorApertura(&numero, e.what());
  } catch (...) {
    const int numero = -1;
    ErrorApertura(&numero, "Error inesperado");
  }
  CerrarPuerto();
  return false;
}

}  // namespace teclon
