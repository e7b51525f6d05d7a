// The simulated engine: script file in, whole state out on the outermost commit.
#include "MotorSimulado.h"

#include <filesystem>
#include <utility>

namespace solvane {

namespace {

ErrorBD Traducir(const simulado::ErrorSql& e) {
  return ErrorBD(e.numero, e.descripcion);
}

ErrorBD Traducir(const simulado::ErrorArchivo& e) {
  return ErrorBD(e.errno_, e.descripcion);
}

}  // namespace

MotorSimulado::MotorSimulado(std::string archivo) : archivo_(std::move(archivo)) {}

MotorSimulado::~MotorSimulado() {
  Desconectar();
}

simulado::Servidor& MotorSimulado::Conectado() {
  if (!servidor_) throw ErrorBD(3704, "Operation is not allowed when the object is closed.");
  return *servidor_;
}

void MotorSimulado::Conectar() {
  Desconectar();
  std::unique_ptr<simulado::ArchivoBase> base;
  try {
    base = simulado::ArchivoBase::Abrir(archivo_);
  } catch (const simulado::ErrorArchivo& e) {
    throw Traducir(e);
  }
  auto servidor = std::make_unique<simulado::Servidor>(std::filesystem::path(archivo_).stem().string());
  try {
    servidor->EjecutarScript(base->Contenido());
  } catch (const simulado::ErrorSql& e) {
    throw ErrorBD(e.numero, "Base de datos " + archivo_ + ": " + e.descripcion);
  }
  base_ = std::move(base);
  servidor_ = std::move(servidor);
}

void MotorSimulado::Desconectar() noexcept {
  Deshacer();
  servidor_.reset();
  base_.reset();
}

void MotorSimulado::Ejecutar(const std::string& sentencia) {
  try {
    Conectado().Ejecutar(sentencia);
  } catch (const simulado::ErrorSql& e) {
    throw Traducir(e);
  }
}

PrimeraFila MotorSimulado::Consultar(const std::string& sentencia) {
  try {
    auto r = Conectado().Ejecutar(sentencia, 1);
    PrimeraFila p;
    p.Columnas = std::move(r.columnas);
    if (!r.filas.empty()) p.Fila = std::move(r.filas.front());
    return p;
  } catch (const simulado::ErrorSql& e) {
    throw Traducir(e);
  }
}

void MotorSimulado::Comenzar() {
  Ejecutar("BEGIN TRANSACTION");
}

// The file is written before the server commits: if the write fails, the transaction is undone and
// the caller told, so memory and file never disagree.
void MotorSimulado::Confirmar() {
  auto& s = Conectado();
  if (s.NivelTransaccion() == 0)
    throw ErrorBD(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  try {
    base_->Escribir(s.Script());
  } catch (const simulado::ErrorArchivo& e) {
    Deshacer();
    throw Traducir(e);
  } catch (...) {
    Deshacer();
    throw;
  }
  Ejecutar("COMMIT TRANSACTION");
}

void MotorSimulado::Deshacer() noexcept {
  if (!servidor_) return;
  try {
    if (servidor_->NivelTransaccion() > 0) servidor_->Ejecutar("ROLLBACK TRANSACTION");
  } catch (...) {
  }
}

bool MotorSimulado::TransaccionAbierta() const {
  return servidor_ && servidor_->NivelTransaccion() > 0;
}

std::string MotorSimulado::NombreServidor() const {
  return "SQL Server simulado (" + archivo_ + ")";
}

}  // namespace solvane
