// Benchmark of solvane-servidor through FreeTDS's ODBC driver (run by hand, not a test): login time,
// one-row selects per second, and a first-row probe with cursor close on 10 and on 1,000,000 rows.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Arnes.h"

using namespace prueba_tds;
using reloj = std::chrono::steady_clock;

namespace {

double Ms(reloj::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Mediana(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Conexion {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  explicit Conexion(SQLHENV e) : env(e) { SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc); }
  ~Conexion() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  bool Conectar(const std::string& c) {
    return SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)c.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                          SQL_DRIVER_NOPROMPT));
  }
};

// The probe Solvane's ODBC engine makes: run, read the first row, close the cursor.
double Sonda(SQLHDBC dbc, const char* sql) {
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
  const auto t0 = reloj::now();
  if (!SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS)) || !SQL_SUCCEEDED(SQLFetch(st))) {
    std::fprintf(stderr, "la sonda falló: %s\n", sql);
    std::exit(1);
  }
  SQLINTEGER n = 0;
  SQLGetData(st, 1, SQL_C_SLONG, &n, 0, nullptr);
  SQLCloseCursor(st);
  const double ms = Ms(reloj::now() - t0);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return ms;
}

std::string Tabla(const char* nombre, int filas) {
  std::string s = std::string("CREATE TABLE ") + nombre + " (n int, t varchar(40), m decimal(12,2))\nGO\n";
  for (int i = 0; i < filas; ++i)
    s += (i % 1000 == 0 ? std::string("INSERT INTO ") + nombre + " (n, t, m) VALUES\n("
                        : std::string(",\n(")) +
         std::to_string(i) + ", 'fila de relleno " + std::to_string(i) + "', " + std::to_string(i) + ".25)" +
         (i % 1000 == 999 || i + 1 == filas ? "\nGO\n" : "");
  return s;
}

}  // namespace

int Medir(int vueltas, const std::string& cifrado);

// bench_simulado_tds [repeticiones] [off|request|require]: the last is the driver's Encryption= (request:
// TLS for the login only; require: the whole session).
int main(int argc, char** argv) {
  try {
    return Medir(std::max(1, argc > 1 ? std::atoi(argv[1]) : 50), argc > 2 ? argv[2] : "off");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_simulado_tds: %s\n", e.what());
    return 1;
  }
}

int Medir(int vueltas, const std::string& cifrado) {
  const auto c0 = reloj::now();
  ServidorPrueba s(Tabla("Diez", 10) + Tabla("Millon", 1000000));
  std::string cadena = s.Cadena();
  cadena.replace(cadena.find("Encryption=off"), 14, "Encryption=" + cifrado);
  std::printf("Encryption=%s\n", cifrado.c_str());
  std::printf("carga de la base (10 + 1.000.000 filas): %.0f ms\n", Ms(reloj::now() - c0));
  SQLHENV env;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

  std::vector<double> logins;
  logins.reserve(static_cast<std::size_t>(vueltas));
  for (int i = 0; i < vueltas; ++i) {
    Conexion c(env);
    const auto t0 = reloj::now();
    if (!c.Conectar(cadena)) return 1;
    logins.push_back(Ms(reloj::now() - t0));
  }
  std::printf("login (SQLDriverConnect), mediana de %d: %.3f ms\n", vueltas, Mediana(logins));

  Conexion c(env);
  if (!c.Conectar(cadena)) return 1;
  SQLHSTMT st;
  SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &st);
  long n = 0;
  const auto t0 = reloj::now();
  while (reloj::now() - t0 < std::chrono::seconds(3)) {
    SQLExecDirect(st, (SQLCHAR*)"SELECT n FROM Diez WHERE n = 3", SQL_NTS);
    while (SQL_SUCCEEDED(SQLFetch(st))) {
    }
    SQLCloseCursor(st);
    ++n;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  std::printf("SELECT de una fila: %.0f sentencias por segundo\n", static_cast<double>(n) / 3.0);

  for (const char* t : {"Diez", "Millon"}) {
    const std::string sql = std::string("SELECT n, t, m FROM ") + t;
    std::vector<double> v;
    v.reserve(static_cast<std::size_t>(vueltas));
    Sonda(c.dbc, sql.c_str());
    for (int i = 0; i < vueltas; ++i) v.push_back(Sonda(c.dbc, sql.c_str()));
    std::printf("sonda de la primera fila con cierre del cursor, %s: mediana %.3f ms (mín %.3f, máx %.3f)\n",
                t, Mediana(v), *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return 0;
}
