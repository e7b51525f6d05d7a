// Where the ODBC tests run: a fresh SQLite file, and SQL Server: the one PAGORA_PRUEBA_ODBC names or else
// solvane-servidor, started once per test program on a copy of the demo database.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "motores/odbc/MotorOdbc.h"
#include "sqlserver/Servido.h"

namespace solvane::pruebas {

// What differs between the two servers as these tests see them.
struct Dialecto {
  std::string nombre;  // "sqlite" or "sqlserver"
  long tablaInexistente;
  std::string textoTablaInexistente;  // for table NoExiste
  long claveDuplicada;
  std::string textoClaveDuplicada;  // a fragment of the message
  std::string importe;              // 1250.50 in a decimal(12,2) column, as text
  // The clause that puts rows in key order: solvane-servidor has no ORDER BY and returns them so already.
  std::string enOrden;
  // Whether another connection can read committed rows while one holds a transaction open on the table
  // (SQL Server's locks make it wait).
  bool leeJuntoAUnaTransaccion;
  bool esSqlServer() const { return nombre == "sqlserver"; }
};

inline Dialecto DialectoDe(const std::string& nombre) {
  if (nombre == "sqlserver")
    return {nombre,
            208,
            "Invalid object name 'NoExiste'.",
            2627,
            "Violation of PRIMARY KEY constraint",
            "1250.50",
            "",
            false};
  return {nombre,         1,   "no such table: NoExiste (1)", 19, "UNIQUE constraint failed", "1250.5",
          " ORDER BY Id", true};
}

// The server of this test program, started at first use and stopped (with its folder) at exit.
inline std::string CadenaServidorLocal() {
  struct Local {
    Temporal dir;
    Servido servidor{dir.Ruta(), Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql")};
  };
  static Local local;
  return local.servidor.Cadena() + ";PWD=" + kClaveServidor;
}

// One test's database: the connection string and the name of its scratch table.
class BancoOdbc {
 public:
  explicit BancoOdbc(const std::string& nombre) : dialecto(DialectoDe(nombre)) {
    const std::string sufijo = std::to_string(::getpid()) + "_" + std::to_string(++contador());
    if (dialecto.esSqlServer()) {
      const char* dada = std::getenv("PAGORA_PRUEBA_ODBC");
      cadena = dada && *dada ? dada : CadenaServidorLocal();
      tabla = "PruebaOdbc_" + sufijo;
    } else {
      carpeta = std::filesystem::temp_directory_path() / ("prueba_odbc_" + sufijo);
      std::filesystem::create_directories(carpeta);
      archivo = (carpeta / "base.db").string();
      // A short lock wait, so that a connection left holding locks shows up as an error, not a hang.
      cadena = "Driver=SQLite3;Database=" + archivo + ";Timeout=500";
      tabla = "Prueba";
    }
  }
  ~BancoOdbc() {
    if (!carpeta.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(carpeta, ec);
    }
  }
  bool disponible() const { return !cadena.empty(); }

  // Settings as a connection file gives them, keys in lower case.
  std::map<std::string, std::string> Ajustes() const {
    return {{"cadena", cadena}, {"tiemposentencia", "20"}};
  }

  std::unique_ptr<MotorBD> Motor() const { return CrearMotorOdbc(Ajustes(), "prueba"); }

  // A connection beside the one under test: it looks on, so it leaves the updater's lock to that one.
  std::unique_ptr<MotorBD> Conectado() const {
    auto m = CrearMotorOdbc(Ajustes(), "prueba", BloqueoActualizacion::Omitir);
    m->Conectar();
    return m;
  }

  // The scratch table, created afresh (and dropped at the end on a real server).
  // On SQL Server the name is new to every test, so there is nothing to drop first.
  void CrearTabla(MotorBD& m) const {
    if (!dialecto.esSqlServer()) m.Ejecutar("DROP TABLE IF EXISTS " + tabla);
    m.Ejecutar("CREATE TABLE " + tabla +
               " (Id int PRIMARY KEY, Nombre varchar(40) NULL, Importe decimal(12,2) NULL, Nota "
               "varchar(4000) NULL)");
  }
  void BorrarTabla() const {
    if (!dialecto.esSqlServer() || !disponible()) return;
    try {
      Conectado()->Ejecutar("DROP TABLE " + tabla);
    } catch (...) {
    }
  }

  long Contar(MotorBD& m) const {
    const auto r = m.Consultar("SELECT COUNT(*) FROM " + tabla);
    return std::atol(r.Fila.value().at(0).value().c_str());
  }

  Dialecto dialecto;
  std::string cadena;
  std::string tabla;
  std::filesystem::path carpeta;
  std::string archivo;

 private:
  static int& contador() {
    static int n = 0;
    return n;
  }
};

// Fixture of the bodies that run on both servers.
class ConBanco : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    banco = std::make_unique<BancoOdbc>(GetParam());
    ASSERT_TRUE(banco->disponible());
  }
  void TearDown() override {
    if (banco) banco->BorrarTabla();
  }
  std::unique_ptr<BancoOdbc> banco;
};

inline std::string NombreDelBanco(const ::testing::TestParamInfo<std::string>& info) {
  return info.param;
}

}  // namespace solvane::pruebas
