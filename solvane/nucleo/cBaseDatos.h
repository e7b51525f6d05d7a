// cBaseDatos: the process-wide database access object the updater runs every statement through.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "motores/Motor.h"

namespace solvane {

class cMensajes;

// A result set as the helpers read it: a field by column name (any letter case) or by position.
// Reading a column the set does not have raises ErrorBD, as ADO does.
class Recordset {
 public:
  Recordset() = default;
  explicit Recordset(PrimeraFila datos) : datos_(std::move(datos)) {}
  bool HayFila() const { return datos_.Fila.has_value(); }
  ValorCampo Campo(const std::string& nombre) const;
  ValorCampo Campo(std::size_t posicion) const;
  void Liberar() { datos_ = {}; }

 private:
  PrimeraFila datos_;
};

class cBaseDatos {
 public:
  cBaseDatos();
  ~cBaseDatos();
  cBaseDatos(const cBaseDatos&) = delete;
  cBaseDatos& operator=(const cBaseDatos&) = delete;

  void NombreAplicacion(const std::string& nombre);
  void CargarSQL(const std::string& sentencia);
  bool IniciarTransaccion();
  bool ConfirmarTransaccion();
  bool EjecutarSQL();  // throws ErrorBD
  bool CancelarTransaccion();
  bool Conectar();
  void BuscarArchivoConexion();
  bool AbrirConsulta(Recordset& rs, long& opciones);  // throws ErrorBD; True when a row came back
  bool Desconectar() noexcept;
  void OpcionConexion1(bool valor);
  void OpcionConexion2(bool valor);
  void TextoConexion(const std::string& valor);
  std::string ArchivoConexion() const;

  // Our own settings, outside the original contract.
  void ArchivoExplicito(const std::string& ruta);  // front end's --conexion
  void Registro(const std::string& ruta);          // statement record (audit trail); "" = none
  void Mensajes(cMensajes* mensajes);              // where connection problems are told
  void Motor(std::unique_ptr<MotorBD> motor);      // tests: use this engine, skip the file
  // Tests: wrap the engine built by Conectar (for fault injection).
  void Envoltorio(std::function<std::unique_ptr<MotorBD>(std::unique_ptr<MotorBD>)> envolver);
  MotorBD* MotorActual() const;
  int NivelTransaccion() const;
  bool Conectado() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The process-wide instance, created on first use.
cBaseDatos& BaseDatos();

}  // namespace solvane
