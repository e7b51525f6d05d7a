// Times a one-row probe (Consultar) through the ODBC engine on a small and on a very large table.
//
// bench_sonda_odbc [filas_grande] [repeticiones]   (defaults 1000000 and 20)
// Uses the SQLite ODBC driver on files in a temporary folder; prints the median and the worst time
// of each probe, for the driver's default mode and for its step-by-step mode (StepAPI=1). For
// comparison it also times the same probe done naively (execute, fetch one row, close, with no row
// limit on the statement), which is what the engine avoids.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "motores/odbc/MotorOdbc.h"
#include "motores/odbc/Odbc.h"

namespace {

using Reloj = std::chrono::steady_clock;

std::unique_ptr<solvane::MotorBD> Abrir(const std::string& archivo, const std::string& extra) {
  auto motor = solvane::CrearMotorOdbc(
      {{"cadena", "Driver=SQLite3;Database=" + archivo + ";Timeout=2000" + extra}}, "bench");
  motor->Conectar();
  return motor;
}

// Fills table T with `filas` rows in one statement.
void Preparar(const std::string& archivo, long filas) {
  std::filesystem::remove(archivo);
  auto motor = Abrir(archivo, "");
  motor->Ejecutar("CREATE TABLE T (Id int PRIMARY KEY, Nombre varchar(20) NULL, Importe decimal(12,2) NULL)");
  motor->Ejecutar("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
                  std::to_string(filas) + ") INSERT INTO T SELECT x, 'fila ' || x, x * 1.5 FROM c");
  const auto cuenta = motor->Consultar("SELECT COUNT(*) FROM T");
  if (!cuenta.Fila || (*cuenta.Fila)[0].value_or("") != std::to_string(filas)) {
    std::fprintf(stderr, "la tabla de %ld filas no quedó llena\n", filas);
    std::exit(1);
  }
}

// The naive probe: a plain statement, one fetch, close; no row limit.
class SondaIngenua {
 public:
  explicit SondaIngenua(const std::string& archivo) {
    using solvane::odbc::Comprobar;
    entorno_ = solvane::odbc::Manija(SQL_HANDLE_ENV, SQL_NULL_HANDLE, mascara_);
    Comprobar(
        SQLSetEnvAttr(entorno_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
        entorno_, "SQLSetEnvAttr", mascara_);
    conexion_ = solvane::odbc::Manija(SQL_HANDLE_DBC, entorno_.get(), mascara_);
    std::string cadena = "Driver=SQLite3;Database=" + archivo;
    Comprobar(SQLDriverConnect(conexion_.get(), nullptr, reinterpret_cast<SQLCHAR*>(cadena.data()), SQL_NTS,
                               nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              conexion_, "SQLDriverConnect", mascara_);
  }
  ~SondaIngenua() { SQLDisconnect(conexion_.get()); }

  solvane::PrimeraFila Consultar(std::string sentencia) {
    using solvane::odbc::Comprobar;
    solvane::odbc::Manija st(SQL_HANDLE_STMT, conexion_.get(), mascara_);
    Comprobar(SQLExecDirect(st.get(), reinterpret_cast<SQLCHAR*>(sentencia.data()), SQL_NTS), st,
              "SQLExecDirect", mascara_);
    solvane::PrimeraFila r;
    if (Comprobar(SQLFetch(st.get()), st, "SQLFetch", mascara_) != SQL_NO_DATA) r.Fila.emplace();
    Comprobar(SQLFreeStmt(st.get(), SQL_CLOSE), st, "SQLFreeStmt", mascara_);
    return r;
  }

 private:
  solvane::odbc::Mascara mascara_;
  solvane::odbc::Manija entorno_;
  solvane::odbc::Manija conexion_;
};

struct Medida {
  double mediana_ms;
  double peor_ms;
};

template <typename Sonda>
Medida Medir(Sonda& motor, const std::string& sentencia, int repeticiones) {
  std::vector<double> tiempos;
  for (int i = 0; i < repeticiones; ++i) {
    const auto t0 = Reloj::now();
    const auto r = motor.Consultar(sentencia);
    const auto t1 = Reloj::now();
    if (!r.Fila) {
      std::fprintf(stderr, "la sonda no trajo fila\n");
      std::exit(1);
    }
    tiempos.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(tiempos.begin(), tiempos.end());
  return {tiempos[tiempos.size() / 2], tiempos.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const long grande = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int repeticiones = argc > 2 ? std::atoi(argv[2]) : 20;
  const auto carpeta = std::filesystem::temp_directory_path() / ("sonda_odbc_" + std::to_string(::getpid()));
  std::filesystem::create_directories(carpeta);
  const std::string chica = (carpeta / "chica.db").string();
  const std::string enorme = (carpeta / "grande.db").string();

  try {
    const auto t0 = Reloj::now();
    Preparar(chica, 10);
    Preparar(enorme, grande);
    std::printf("tablas preparadas en %.1f s (10 y %ld filas)\n",
                std::chrono::duration<double>(Reloj::now() - t0).count(), grande);

    const std::vector<std::string> sondas = {"SELECT * FROM T", "SELECT Nombre FROM T WHERE Importe > 0"};
    std::printf("\nsonda ingenua (sin límite de filas), modo por omisión del driver\n");
    {
      SondaIngenua ichica(chica), ienorme(enorme);
      for (const auto& sonda : sondas) {
        const Medida a = Medir(ichica, sonda, repeticiones);
        const Medida b = Medir(ienorme, sonda, repeticiones);
        std::printf("  %-40s 10 filas: %8.3f ms (peor %8.3f)   %ld filas: %8.3f ms (peor %8.3f)\n",
                    sonda.c_str(), a.mediana_ms, a.peor_ms, grande, b.mediana_ms, b.peor_ms);
      }
    }
    for (const std::string extra : {"", ";StepAPI=1"}) {
      std::printf("\nmotor ODBC de Solvane, modo del driver: %s\n",
                  extra.empty() ? "por omisión" : "StepAPI=1");
      auto mchica = Abrir(chica, extra);
      auto menorme = Abrir(enorme, extra);
      for (const auto& sonda : sondas) {
        const Medida a = Medir(*mchica, sonda, repeticiones);
        const Medida b = Medir(*menorme, sonda, repeticiones);
        std::printf("  %-40s 10 filas: %8.3f ms (peor %8.3f)   %ld filas: %8.3f ms (peor %8.3f)\n",
                    sonda.c_str(), a.mediana_ms, a.peor_ms, grande, b.mediana_ms, b.peor_ms);
      }
    }
  } catch (const solvane::ErrorBD& e) {
    std::fprintf(stderr, "error %ld: %s\n", e.Numero, e.Descripcion.c_str());
    std::filesystem::remove_all(carpeta);
    return 1;
  }
  std::filesystem::remove_all(carpeta);
  return 0;
}
