// The served database: loading, one holder at a time, writing on commit.
#include "tds/Base.h"

#include "tds/Sistema.h"

namespace simulado::tds {

std::string NombreDeBase(const std::string& ruta) {
  std::string n = ruta.substr(ruta.find_last_of('/') + 1);
  if (const auto p = n.find_last_of('.'); p != std::string::npos && p > 0) n.resize(p);
  return n;
}

Base::Base(const std::string& ruta, std::chrono::milliseconds espera, std::uint64_t maximoDiario)
    : nombre_(NombreDeBase(ruta)), deposito_(ruta, espera, nombre_, maximoDiario) {}

bool Base::Tomar(std::uint16_t sesion, const std::function<bool()>& seguir, std::chrono::milliseconds plazo) {
  const auto limite = std::chrono::steady_clock::now() + plazo;
  std::unique_lock lk(m_);
  while (dueno_ != 0 && dueno_ != sesion) {
    lk.unlock();
    const bool s = seguir();
    lk.lock();
    if (!s) return false;
    if (std::chrono::steady_clock::now() >= limite)
      throw ErrorSql(1222, "Lock request time out period exceeded.");
    cv_.wait_for(lk, std::chrono::milliseconds(50));
  }
  dueno_ = sesion;
  return true;
}

void Base::Soltar(std::uint16_t sesion) {
  std::lock_guard lk(m_);
  if (dueno_ != sesion || Motor().NivelTransaccion() > 0) return;
  dueno_ = 0;
  cv_.notify_all();
}

bool Base::Tiene(std::uint16_t sesion) const {
  std::lock_guard lk(m_);
  return dueno_ == sesion;
}

int Base::Nivel(std::uint16_t sesion) const {
  std::lock_guard lk(m_);
  return dueno_ == sesion ? deposito_.Motor().NivelTransaccion() : 0;
}

void Base::Grabar() {
  try {
    deposito_.Confirmar();
  } catch (const ErrorArchivo& e) {
    // SQL Server's words, with the system's own text for the error as it gives it, in English; a fault of
    // ours (the file changed behind our back) has no errno and keeps our description.
    throw ErrorSql(823, "The operating system returned error " + std::to_string(e.errno_) + "(" +
                            (e.errno_ != 0 ? TextoErrnoC(e.errno_) : e.descripcion) +
                            ") to SQL Server during a write in file '" + Ruta() + "'.");
  }
}

std::string Base::Consolidar() {
  std::lock_guard lk(m_);
  if (deposito_.Archivo().BytesDiario() == 0 && deposito_.Archivo().DiarioSano()) return {};
  try {
    deposito_.Grabar();
  } catch (const ErrorArchivo& e) {
    return e.descripcion;
  }
  return {};
}

void Base::Abandonar(std::uint16_t sesion) {
  std::lock_guard lk(m_);
  if (dueno_ != sesion) return;
  if (Motor().NivelTransaccion() > 0) {
    try {
      Motor().Ejecutar("ROLLBACK TRANSACTION");
    } catch (const ErrorSql&) {
      // A rollback with a transaction open cannot be refused; nothing else to undo.
    }
  }
  dueno_ = 0;
  cv_.notify_all();
}

}  // namespace simulado::tds
