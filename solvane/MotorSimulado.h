// The simulated engine of cBaseDatos: the in-process SQL Server over a database script file.
#pragma once

#include <memory>
#include <string>

#include "BaseDatos.h"
#include "motor/Servidor.h"

namespace solvane {

// Connecting runs the script file; the outermost commit writes the whole state back to it atomically
// (temporary file in the same folder, fsync, rename), so an interrupted or failed run leaves the file
// exactly as it was. Nothing else ever writes the file.
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
  std::unique_ptr<simulado::Servidor> servidor_;
};

// Replaces `archivo` by `contenido` atomically. Throws ErrorBD with the OS error code.
void EscribirAtomico(const std::string& archivo, const std::string& contenido);

}  // namespace solvane
