// Shared pieces of the core tests: a fake engine, a simulated database in a scratch folder, an operator.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Archivos.h"
#include "Grabadores.h"
#include "motores/Motor.h"
#include "nucleo/cActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

namespace solvane {

// Reaches cActualiza's private helpers.
struct AccesoPrueba {
  static bool ExisteCampo(cActualiza& a, const std::string& t, const std::string& c, std::string& v) {
    return a.ExisteCampo(t, c, v);
  }
  static std::string ObtenerCollation(cActualiza& a, const std::string& t, const std::string& c, bool f) {
    return a.ObtenerCollation(t, c, f);
  }
  static bool ExisteTabla(cActualiza& a, const std::string& t) { return a.ExisteTabla(t); }
  static bool ExisteVista(cActualiza& a, const std::string& v) { return a.ExisteVista(v); }
  static bool ExisteIndice(cActualiza& a, const std::string& t, const std::string& i) {
    return a.ExisteIndice(t, i);
  }
  static bool EliminarTabla(cActualiza& a, const std::string& t) { return a.EliminarTabla(t); }
  static bool GrabarVersion(cActualiza& a) { return a.GrabarVersion(); }
  static void EnTransaccion(cActualiza& a, const char* v, bool& ok, const std::function<void()>& f) {
    a.EnTransaccion(v, ok, f);
  }
  static void Ejecutar(cActualiza& a, const std::string& s) { a.Ejecutar(s); }
};

}  // namespace solvane

namespace solvane::pruebas {

// An engine that only keeps a log of what it was asked. A statement holding "FALLA" is refused; one
// holding "ABORTA" is refused and ends the transaction, as SQL Server does on conversion errors.
class MotorFalso : public MotorBD {
 public:
  explicit MotorFalso(std::shared_ptr<std::vector<std::string>> log) : log_(std::move(log)) {}
  void Conectar() override { log_->push_back("conectar"); }
  void Desconectar() noexcept override {
    if (abierta_) log_->push_back("deshacer");
    abierta_ = false;
    log_->push_back("desconectar");
  }
  void Ejecutar(const std::string& s) override {
    log_->push_back("ejecutar " + s);
    Revisar(s);
  }
  PrimeraFila Consultar(const std::string& s) override {
    log_->push_back("consultar " + s);
    Revisar(s);
    PrimeraFila p;
    p.Columnas = {"Valor"};
    if (s.find("VACIA") == std::string::npos) p.Fila = std::vector<ValorCampo>{ValorCampo("7")};
    return p;
  }
  void Comenzar() override {
    log_->push_back("comenzar");
    abierta_ = true;
  }
  void Confirmar() override {
    log_->push_back("confirmar");
    if (fallarConfirmar) throw ErrorBD(5, "Access denied");
    abierta_ = false;
  }
  void Deshacer() noexcept override {
    log_->push_back("deshacer");
    abierta_ = false;
  }
  bool TransaccionAbierta() const override { return abierta_; }
  std::string NombreServidor() const override { return "falso"; }
  bool fallarConfirmar = false;

 private:
  void Revisar(const std::string& s) {
    if (s.find("ABORTA") != std::string::npos) {
      abierta_ = false;
      throw ErrorBD(245, "Conversion failed");
    }
    if (s.find("FALLA") != std::string::npos) throw ErrorBD(208, "Invalid object name 'FALLA'.");
  }
  std::shared_ptr<std::vector<std::string>> log_;
  bool abierta_ = false;
};

// A database script file with a connection file naming it, in a scratch folder.
class BaseSimulada {
 public:
  explicit BaseSimulada(const std::string& script) {
    Escribir(carpeta / "base.sql", script);
    Escribir(carpeta / "PagoraCliente.conexion", "# prueba\nMotor=simulado\nArchivo=base.sql\n");
  }
  std::string Conexion() const { return (carpeta / "PagoraCliente.conexion").string(); }
  std::string Script() const { return Leer(carpeta / "base.sql"); }
  std::string Registro() const { return (carpeta / "registro.sql").string(); }
  Carpeta carpeta{"nucleo"};
};

// cBaseDatos as the program sets it up: its messages recorded, pointed at a connection file, not yet
// connected.
struct Operador {
  explicit Operador(const std::string& conexion) {
    mensajes.FijarPresentador(grabador);
    bd.Mensajes(&mensajes);
    bd.ArchivoExplicito(conexion);
    bd.BuscarArchivoConexion();
  }
  std::string Ultimo() const { return grabador->Ultimo(); }
  std::shared_ptr<Grabador> grabador = std::make_shared<Grabador>();
  cMensajes mensajes;
  cBaseDatos bd;
};

inline void Correr(cBaseDatos& bd, const std::string& sentencia) {
  bd.CargarSQL(sentencia);
  bd.EjecutarSQL();
}

// The recorded version as text, "NULL" for a null one.
inline std::string Version(cBaseDatos& bd) {
  Recordset rs;
  long cero = 0;
  bd.CargarSQL("Select PAR_Version From Parametros");
  bd.AbrirConsulta(rs, cero);
  return rs.Campo("PAR_Version").value_or("NULL");
}

// Parametros holding one row with `version` (or no row when empty), plus a Seguridad table.
inline std::string ScriptVersion(const std::string& version) {
  std::string s =
      "-- base de prueba\nCREATE TABLE Parametros (PAR_Version smallint NULL, PAR_LA varchar (20) NULL)\nGO\n"
      "CREATE TABLE Seguridad (Seg_Codigo int NOT NULL, Seg_Descri varchar (50) NULL, Seg_Nivel smallint "
      "NULL, "
      "Seg_Edita bit NULL)\nGO\n";
  if (!version.empty())
    s += "INSERT INTO Parametros (PAR_Version, PAR_LA) VALUES (" + version + ", 'x')\nGO\n";
  return s;
}

}  // namespace solvane::pruebas
