// The simulated engine of cBaseDatos: the in-process SQL Server over a database script file.
#pragma once

#include <memory>
#include <string>

#include "Motor.h"
#include "motor/Archivo.h"
#include "motor/Servidor.h"

namespace solvane {

// Connecting locks and runs the script file, and the lock is kept until disconnecting, so a second run
// (or a simulated server) on the same file is told it is in use. The outermost commit writes the whole
// state back atomically, so an interrupted or failed run leaves the file exactly as it was.
class MotorSimulado : public MotorBD {
 public:
  explicit MotorSimulado(std::string archivo);
  ~MotorSimulado() override;

  void Conectar() override;
  void Desconectar() noexcept override;
  void Ejecutar(const std::string& sentencia) override;
  PrimeraFila Consultar(const std::string& sentencia) override;
  void Comenzar() override;
  void Confirmar() override;
  void Deshacer() noexcept override;
  bool TransaccionAbierta() const override;
  std::string NombreServidor() const override;

  const std::string& Archivo() const { return archivo_; }
  simulado::Servidor* Servidor() { return servidor_.get(); }

 private:
  simulado::Servidor& Conectado();
  std::string archivo_;
  std::unique_ptr<simulado::ArchivoBase> base_;
  std::unique_ptr<simulado::Servidor> servidor_;
};

}  // namespace solvane
