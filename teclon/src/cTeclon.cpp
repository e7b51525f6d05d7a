// cTeclon: creation, properties, result bookkeeping and the opening and closing of the port.
#include "teclon/cTeclon.hpp"

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

}  // namespace teclon

cTeclon::cTeclon() : cTeclon(teclon::CrearPuertoTermios(), std::make_shared<teclon::RelojReal>()) {}

cTeclon::cTeclon(std::unique_ptr<teclon::PuertoSerie> puerto, std::shared_ptr<teclon::Reloj> reloj)
    : mComm(puerto ? std::move(puerto) : teclon::CrearPuertoTermios()),
      mReloj(reloj ? std::move(reloj) : std::make_shared<teclon::RelojReal>()) {
  mEnlace = std::make_unique<teclon::Enlace>(*mComm, *mReloj, mBombeo, mCancelar, mCodError);
}

cTeclon::~cTeclon() {
  CerrarPuerto();
}

void cTeclon::Puerto(short vPuerto) {
  mPuerto = vPuerto;
}

short cTeclon::CodError() const {
  return static_cast<short>(mCodError);
}

std::string cTeclon::MsgError() const {
  return mMsgError;
}

void cTeclon::Cancelar(bool vCancelar) {
  mCancelar.store(vCancelar);
}

void cTeclon::FijarBombeo(std::function<void()> bombeo) {
  mBombeo = std::move(bombeo);
}

void cTeclon::CerrarPuerto() {
  try {
    if (mComm->Abierto()) mComm->FijarAbierto(false);
  } catch (...) {
  }
}

void cTeclon::Entrada(TeclonError codigo) {
  mMsgError.clear();
  mCodError = codigo;
}

void cTeclon::ErrorAtrapado(const char* prefijo, bool fijarCodigo, int numero,
                            const std::string& descripcion) {
  if (fijarCodigo) mCodError = tcError;
  mMsgError = prefijo + std::to_string(numero) + " " + descripcion;
}

bool cTeclon::AbrirPuerto() {
  try {
    if (mComm->Abierto()) mComm->FijarAbierto(false);
    mComm->FijarNumero(mPuerto);
    mComm->FijarConfiguracion("1200,E,7,1");
    mComm->FijarLongitudLectura(0);
    mComm->FijarTamanoBuffers(1024, 1024);
    mComm->FijarAbierto(true);
    if (mComm->Abierto()) return true;
    mCodError = tcError;
    mMsgError = "ERROR al Abrir Puerto " + std::to_string(mPuerto);
  } catch (const teclon::ErrorPuerto& e) {
    mCodError = tcError;
    mMsgError = "ERROR al Abrir Puerto " + std::to_string(mPuerto) + " - " + std::to_string(e.Numero()) +
                " " + e.what();
  } catch (const std::exception& e) {
    mCodError = tcError;
    mMsgError = "ERROR al Abrir Puerto " + std::to_string(mPuerto) + " - -1 " + e.what();
  }
  CerrarPuerto();
  return false;
}
