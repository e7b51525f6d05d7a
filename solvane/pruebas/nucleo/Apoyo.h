// Shared pieces of the core tests: scratch folders, a message recorder, a progress recorder, a fake engine.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

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

inline std::string Leer(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void Escribir(const std::filesystem::path& ruta, const std::string& texto) {
  std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
  f << texto;
  if (!f) throw std::runtime_error("no se puede escribir " + ruta.string());
}

inline std::vector<std::string> Lineas(const std::filesystem::path& ruta) {
  std::istringstream s(Leer(ruta));
  std::vector<std::string> r;
  for (std::string l; std::getline(s, l);) r.push_back(l);
  return r;
}

class Carpeta {
 public:
  Carpeta() {
    std::string p = (std::filesystem::temp_directory_path() / "nucleoXXXXXX").string();
    if (::mkdtemp(p.data()) == nullptr) throw std::runtime_error("mkdtemp " + p);
    ruta_ = p;
  }
  ~Carpeta() {
    std::error_code e;
    std::filesystem::remove_all(ruta_, e);
  }
  std::filesystem::path operator/(const std::string& n) const { return ruta_ / n; }
  const std::filesystem::path& Ruta() const { return ruta_; }

 private:
  std::filesystem::path ruta_;
};

struct Mensaje {
  std::string texto;
  int estilo;
};

class Grabador : public Presentador {
 public:
  int Mostrar(const std::string& titulo, const std::string& texto, int estilo) override {
    titulos.push_back(titulo);
    mensajes.push_back({texto, estilo});
    return estilo == kEstiloPregunta ? respuesta : kRespuestaAceptar;
  }
  std::vector<std::string> titulos;
  std::vector<Mensaje> mensajes;
  int respuesta = kRespuestaSi;
};

class ProgresoGrabado : public Progreso {
 public:
  void Mostrar() override { ++mostrado; }
  void Etiqueta(const std::string& texto) override { etiquetas.push_back(texto); }
  void Descargar() override { ++descargado; }
  std::vector<std::string> etiquetas;
  int mostrado = 0;
  int descargado = 0;
};

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
  Carpeta carpeta;
};

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
