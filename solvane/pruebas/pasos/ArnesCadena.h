// Test harness for whole runs of the chain: a database file in a scratch folder, the operator's job, its
// trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Archivos.h"
#include "Grabadores.h"
#include "MotorConFallas.h"
#include "motor/Servidor.h"
#include "nucleo/Proceso.h"
#include "nucleo/cActualiza.h"
#include "nucleo/cBaseDatos.h"
#include "nucleo/cMensajes.h"

namespace solvane::pruebas {

inline std::string ScriptDemo() {
  return Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql");
}

// What one run left behind.
struct Corrida {
  bool finalizado = false;
  std::vector<Mensaje> mensajes;
  std::vector<std::string> etiquetas;
  std::vector<std::string> traza;  // see Traza; "-- bombeo" where the pump ran
  std::size_t contadas = 0;
  std::string refusada;
  std::string archivoDespues;
  int descargado = 0;
  // The messages with the stop icon, joined by " | ".
  std::string Errores() const {
    std::string r;
    for (const auto& m : mensajes)
      if (m.estilo == kEstiloStop) r += (r.empty() ? "" : " | ") + m.texto;
    return r;
  }
  bool Pregunto() const {
    for (const auto& m : mensajes)
      if (m.estilo == kEstiloPregunta) return true;
    return false;
  }
};

struct OpcionesCorrida {
  std::int16_t version = 30100;
  std::size_t fallarEn = 0;
  Falla tipo = Falla::Simple;
  bool fallarConfirmar = false;
  std::size_t fallarBombeoEn = 0;  // the Nth pump throws, as an event handler of the window might
  std::vector<std::pair<std::string, std::vector<std::string>>> despues;
};

// A scratch folder holding base.sql and the connection file that names it; removed at the end.
class BaseDePrueba {
 public:
  explicit BaseDePrueba(const std::string& script) {
    Escribir(Archivo(), script);
    Escribir(carpeta_ / "PagoraCliente.conexion", "Motor=simulado\nArchivo=base.sql\n");
  }

  std::filesystem::path Archivo() const { return carpeta_ / "base.sql"; }
  std::string Contenido() const { return Leer(Archivo()); }

  // One click of "Actualizar Base" against this database, through the whole front-end path.
  Corrida Correr(const OpcionesCorrida& op = {}) const {
    auto traza = std::make_shared<Traza>();
    cBaseDatos bd;
    bd.ArchivoExplicito((carpeta_ / "PagoraCliente.conexion").string());
    bd.Envoltorio([&](std::unique_ptr<MotorBD> interior) {
      auto m = std::make_unique<MotorConFallas>(std::move(interior), traza);
      if (op.fallarEn) m->FallarEn(op.fallarEn, op.tipo);
      if (op.fallarConfirmar) m->FallarConfirmar();
      for (const auto& [prefijo, extra] : op.despues) m->Despues(prefijo, extra);
      return m;
    });
    auto grabador = std::make_shared<Grabador>();
    cMensajes mensajes;
    mensajes.FijarPresentador(grabador);
    bd.Mensajes(&mensajes);
    ProgresoGrabado progreso;
    // Each caption goes into the trace too, so that it shows where each step begins.
    progreso.alEtiquetar = [&traza](const std::string& t) { traza->Anotar("-- " + t); };
    Corrida c;
    std::size_t bombeos = 0;
    auto bombeo = [&] {
      traza->Anotar("-- bombeo");
      if (++bombeos == op.fallarBombeoEn) throw std::runtime_error("Falla del bombeo");
    };
    c.finalizado = EjecutarProceso(bd, mensajes, progreso, bombeo, op.version);
    c.contadas = traza->contadas;
    c.refusada = traza->refusada;
    c.mensajes = grabador->mensajes;
    c.etiquetas = progreso.etiquetas;
    c.descargado = progreso.descargado;
    c.traza = traza->lineas;
    c.archivoDespues = Contenido();
    return c;
  }

 private:
  Carpeta carpeta_{"pasos3"};
};

// A database script loaded into a fresh server, for reading what a run left.
class Lector {
 public:
  explicit Lector(const std::string& script) { servidor_.EjecutarScript(script); }
  // The first column of the first row, or nullopt when no row (Null reads as "NULL").
  std::optional<std::string> Valor(const std::string& consulta) {
    auto r = servidor_.Ejecutar(consulta);
    if (r.filas.empty() || r.filas.front().empty()) return std::nullopt;
    return r.filas.front().front().value_or("NULL");
  }
  std::vector<std::vector<std::string>> Filas(const std::string& consulta) {
    auto r = servidor_.Ejecutar(consulta);
    std::vector<std::vector<std::string>> filas;
    filas.reserve(r.filas.size());
    for (const auto& f : r.filas) {
      std::vector<std::string> fila;
      fila.reserve(f.size());
      for (const auto& v : f) fila.push_back(v.value_or("NULL"));
      filas.push_back(std::move(fila));
    }
    return filas;
  }
  // The rows in ascending order, cell by cell, numbers by value (the server takes no ORDER BY).
  std::vector<std::vector<std::string>> Ordenadas(const std::string& consulta) {
    auto filas = Filas(consulta);
    auto menor = [](const std::string& a, const std::string& b) {
      char* fa = nullptr;
      char* fb = nullptr;
      const double na = std::strtod(a.c_str(), &fa);
      const double nb = std::strtod(b.c_str(), &fb);
      if (!a.empty() && !b.empty() && *fa == '\0' && *fb == '\0') return na < nb;
      return a < b;
    };
    std::sort(filas.begin(), filas.end(), [&](const auto& x, const auto& y) {
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), menor);
    });
    return filas;
  }
  bool Existe(const std::string& consulta) { return !servidor_.Ejecutar(consulta).filas.empty(); }
  simulado::Servidor& Servidor() { return servidor_; }

 private:
  simulado::Servidor servidor_;
};

// Rows the shop enters into TarjetaCaja once the table exists (3.0.3): two cards share a terminal
// on one cash desk, which the key of 3.1.0 must still tell apart.
inline std::pair<std::string, std::vector<std::string>> FilasTarjetaCaja() {
  const std::string ins =
      "INSERT INTO TarjetaCaja "
      "(TRC_Empresa,TRC_Caja,TRC_CodTarjeta,TRC_CodComercio,TRC_CodComDolar,TRC_IdTerminal) "
      "VALUES ";
  return {"CREATE TABLE [TarjetaCaja]",
          {ins + "('000001','001',1,'110000001','110000901','T0010001')",
           ins + "('000001','001',2,'220000001','220000901','T0010001')",
           ins + "('000001','002',4,'440000002','','T0020001')"}};
}

// The options of a run up to `version` in which the shop enters its TarjetaCaja rows.
inline OpcionesCorrida ConTarjetaCaja(std::int16_t version = 30100) {
  OpcionesCorrida op;
  op.version = version;
  op.despues.push_back(FilasTarjetaCaja());
  return op;
}

// The script with the server-made names of unnamed defaults (DF__Tabla__Colum__1A2B3C4D) masked: their
// hexadecimal tail depends on the history of the server, not on the schema. The checksum of the
// closing line covers those names, so it is masked too.
inline std::string SinNombresGenerados(const std::string& script) {
  static const std::regex generado(R"(DF__(\w*?)__(\w*?)__[0-9A-Fa-f]{8})");
  static const std::regex suma(R"((-- Fin de la base simulada: \d+ lotes, suma )[0-9a-f]{16})");
  return std::regex_replace(std::regex_replace(script, generado, "DF__$1__$2__########"), suma,
                            "$1################");
}

// Version code a script records, read the way the tests need it.
inline std::string VersionGrabada(const std::string& script) {
  Lector l(script);
  return l.Valor("Select PAR_Version From Parametros").value_or("");
}

// The script with PAR_Version set to `version` (a database at a version that has no step of its own).
inline std::string ConVersion(const std::string& script, int version) {
  simulado::Servidor s;
  s.EjecutarScript(script);
  s.Ejecutar("UpDate Parametros Set PAR_Version = " + std::to_string(version));
  return s.Script();
}

// The script with `sentencias` run on it: a shop's own changes.
inline std::string Con(const std::string& script, const std::vector<std::string>& sentencias) {
  simulado::Servidor s;
  s.EjecutarScript(script);
  for (const auto& x : sentencias) s.Ejecutar(x);
  return s.Script();
}

// The demo database brought to `version` by the chain itself (with the shop's TarjetaCaja rows).
inline std::string DemoEn(std::int16_t version) {
  BaseDePrueba b(ScriptDemo());
  auto c = b.Correr(ConTarjetaCaja(version));
  if (!c.finalizado)
    throw std::runtime_error("no se pudo preparar la base en " + std::to_string(version) + ": " +
                             c.Errores());
  return c.archivoDespues;
}

}  // namespace solvane::pruebas
