// Test bench of the 2.5 steps: a temporary copy of the demo database, a traced engine and recorders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Archivos.h"
#include "Grabadores.h"
#include "motor/Servidor.h"
#include "motores/Motor.h"
#include "motores/MotorSimulado.h"
#include "nucleo/cActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

namespace pasos25 {

using solvane::pruebas::Grabador;
using solvane::pruebas::Mensaje;
using solvane::pruebas::ProgresoGrabado;

// Traces what reaches the engine ("E " executed, "Q " queried, "~" the pump) and can refuse the
// Nth executed statement, or every query with a given text, as a server would on a lock time-out.
class Espia : public solvane::MotorBD {
 public:
  Espia(std::unique_ptr<solvane::MotorBD> interior, std::vector<std::string>& traza, int fallarEn,
        std::string fallarConsulta)
      : interior_(std::move(interior)),
        traza_(traza),
        fallarEn_(fallarEn),
        fallarConsulta_(std::move(fallarConsulta)) {}
  void Conectar() override { interior_->Conectar(); }
  void Desconectar() noexcept override { interior_->Desconectar(); }
  void Ejecutar(const std::string& s) override {
    traza_.push_back("E " + s);
    if (++ejecutadas_ == fallarEn_) throw solvane::ErrorBD(1222, "Lock request time out period exceeded.");
    interior_->Ejecutar(s);
  }
  solvane::PrimeraFila Consultar(const std::string& s) override {
    traza_.push_back("Q " + s);
    if (s == fallarConsulta_) throw solvane::ErrorBD(1222, "Lock request time out period exceeded.");
    return interior_->Consultar(s);
  }
  void Comenzar() override { interior_->Comenzar(); }
  void Confirmar() override { interior_->Confirmar(); }
  void Deshacer() noexcept override { interior_->Deshacer(); }
  bool TransaccionAbierta() const override { return interior_->TransaccionAbierta(); }
  std::string NombreServidor() const override { return interior_->NombreServidor(); }

 private:
  std::unique_ptr<solvane::MotorBD> interior_;
  std::vector<std::string>& traza_;
  int fallarEn_;
  std::string fallarConsulta_;
  int ejecutadas_ = 0;
};

using Filas = std::vector<std::vector<std::optional<std::string>>>;

// What one run of the updater left behind.
struct Corrida {
  bool ok = false;
  std::vector<Mensaje> mensajes;
  std::vector<std::string> registro;  // cBaseDatos's statement record, transactions included
  std::vector<std::string> traza;     // what reached the engine, and the pumps
  std::vector<std::string> etiquetas;
  // The executed statements alone, in order.
  std::vector<std::string> Ejecutadas() const {
    std::vector<std::string> r;
    for (const auto& l : traza)
      if (l.rfind("E ", 0) == 0) r.push_back(l.substr(2));
    return r;
  }
};

using solvane::pruebas::Leer;

// A private copy of the demo database in its own temporary folder.
class BaseDemo {
 public:
  BaseDemo() { Reponer(Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql")); }

  std::string Archivo() const { return (carpeta_ / "base.sql").string(); }
  std::string Contenido() const { return Leer(Archivo()); }
  void Reponer(const std::string& contenido) const { solvane::pruebas::Escribir(Archivo(), contenido); }

  // Changes the database behind the updater's back, as a shop's administrator would.
  void Modificar(std::initializer_list<std::string> sentencias) const {
    simulado::Servidor s("base");
    s.EjecutarScript(Contenido());
    for (const auto& sql : sentencias) s.Ejecutar(sql);
    Reponer(s.Script());
  }

  Filas Consultar(const std::string& sql) const {
    simulado::Servidor s("base");
    s.EjecutarScript(Contenido());
    return s.Ejecutar(sql).filas;
  }
  // First column of every row, sorted, Null as "NULL".
  std::vector<std::string> Columna(const std::string& sql) const {
    std::vector<std::string> r;
    for (const auto& f : Consultar(sql)) r.push_back(f.at(0).value_or("NULL"));
    std::sort(r.begin(), r.end());
    return r;
  }
  std::string Valor(const std::string& sql) const {
    const Filas f = Consultar(sql);
    return f.empty() ? "<sin fila>" : f.at(0).at(0).value_or("NULL");
  }

  // One run of the updater built as `versionPrograma`, the operator answering Yes; `fallarEn`
  // refuses that executed statement (0: none), `fallarConsulta` every query with that text.
  Corrida Actualizar(std::int16_t versionPrograma, int fallarEn = 0, const std::string& fallarConsulta = "") {
    Corrida c;
    const auto registro = (carpeta_ / ("registro" + std::to_string(++corridas_) + ".txt")).string();
    auto grabadora = std::make_shared<Grabador>();
    ProgresoGrabado progreso;
    {
      solvane::cMensajes mensajes;
      mensajes.FijarPresentador(grabadora);
      solvane::cBaseDatos bd;
      bd.Mensajes(&mensajes);
      bd.Registro(registro);
      bd.Motor(
          std::make_unique<Espia>(solvane::CrearMotorSimulado(Archivo()), c.traza, fallarEn, fallarConsulta));
      if (bd.Conectar()) {
        solvane::cActualiza act(
            bd, mensajes, progreso, [&c] { c.traza.push_back("~"); }, versionPrograma);
        c.ok = act.ActualizaVersion();
      }
      bd.Desconectar();
    }
    c.mensajes = grabadora->mensajes;
    c.etiquetas = progreso.etiquetas;
    // A run whose connection failed may have recorded nothing.
    std::istringstream r(solvane::pruebas::LeerSiHay(registro));
    for (std::string l; std::getline(r, l);) c.registro.push_back(l);
    return c;
  }

 private:
  solvane::pruebas::Carpeta carpeta_{"pasos25."};
  int corridas_ = 0;
};

// The probes of the inspection helpers, as the steps send them.
inline std::string Tabla(const std::string& t) {
  return "Select Name From sysobjects  Where Xtype = 'U' And Name = '" + t + "'";
}
inline std::string Vista(const std::string& v) {
  return "Select Name From sysobjects  Where Xtype = 'V' And Name = '" + v + "'";
}
inline std::string Campo(const std::string& t, const std::string& c) {
  return "Select " + c + " From " + t;
}

inline const char* const kPregunta =
    "ATENCIÓN .- LAS BASES DE DATOS DEL SISTEMA NO ESTAN ACTUALIZADAS ACORDE A LA VERSION QUE ESTA "
    "EJECUTANDO.\r\nDESEA ACTUALIZAR EL SISTEMA AHORA ??";
inline const char* const kFracaso =
    "LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. EL SISTEMA NO PUEDE EJECUTARSE";

}  // namespace pasos25
