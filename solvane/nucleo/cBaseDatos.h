// cBaseDatos: the process-wide database access object the updater runs every statement through.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "motores/Motor.h"

namespace solvane {

class cMensajes;

// A result set as the helpers read it: its first row, a field by column name (any letter case) or by
// position. A column the set does not have raises ErrorBD 3265, any field of a set without rows 3021: a
// misspelt name or a missing row is an error, never an empty value.
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

// Builds, without connecting, the engine the connection file `archivo` names; problems worth telling the
// operator that do not stop the connection go to `mensajes`. Throws ErrorBD.
using FabricaMotor = std::function<std::unique_ptr<MotorBD>(const std::string& archivo, cMensajes& mensajes)>;

// Statements go through Ejecutar and Consultar; CargarSQL with EjecutarSQL or AbrirConsulta is the same
// thing in two calls, kept for the callers written that way. Transactions nest as on SQL Server: only the
// outermost level reaches the engine, and a rollback at any level undoes everything.
class cBaseDatos {
 public:
  cBaseDatos();  // engines from the connection file, as CrearMotor builds them
  explicit cBaseDatos(FabricaMotor fabrica);
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
  // Throws ErrorBD; True when a row came back. `opciones` is not read.
  bool AbrirConsulta(Recordset& rs, long& opciones);
  void Ejecutar(const std::string& sentencia);        // throws ErrorBD
  Recordset Consultar(const std::string& sentencia);  // throws ErrorBD
  bool Desconectar() noexcept;
  void OpcionConexion1(bool valor);
  void OpcionConexion2(bool valor);
  void TextoConexion(const std::string& valor);
  std::string ArchivoConexion() const;

  // Settings of the front ends and the tests.
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
