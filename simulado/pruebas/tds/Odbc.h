// Test harness: a small ODBC connection through the driver manager, for the tests against the real program.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

namespace prueba_tds {

// A small ODBC connection for the tests: statements run by SQLExecDirect, results read as text.
struct Odbc {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  std::string mensaje;
  SQLINTEGER nativo = 0;
  Odbc() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  }
  ~Odbc() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  void Diag(SQLSMALLINT tipo, SQLHANDLE h) {
    SQLCHAR estado[8], texto[1024];
    SQLSMALLINT n = 0;
    nativo = 0;
    mensaje.clear();
    if (SQL_SUCCEEDED(SQLGetDiagRec(tipo, h, 1, estado, &nativo, texto, sizeof texto, &n)))
      mensaje = reinterpret_cast<char*>(texto);
  }
  bool Conectar(const std::string& cadena) {
    SQLCHAR salida[1024];
    SQLSMALLINT n = 0;
    const SQLRETURN r = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)cadena.c_str(), SQL_NTS, salida,
                                         sizeof salida, &n, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) Diag(SQL_HANDLE_DBC, dbc);
    return SQL_SUCCEEDED(r);
  }
  // All rows of the first result as text (nullopt for NULL); false with nativo/mensaje on a refusal.
  bool Ejecutar(const std::string& sql, std::vector<std::vector<std::optional<std::string>>>* filas = nullptr,
                SQLLEN* cuenta = nullptr) {
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLRETURN r = SQLExecDirect(st, (SQLCHAR*)sql.c_str(), SQL_NTS);
    bool ok = SQL_SUCCEEDED(r) || r == SQL_NO_DATA;
    if (!ok) Diag(SQL_HANDLE_STMT, st);
    if (ok && cuenta) SQLRowCount(st, cuenta);
    if (ok && filas) {
      SQLSMALLINT cols = 0;
      SQLNumResultCols(st, &cols);
      while (SQL_SUCCEEDED(SQLFetch(st))) {
        std::vector<std::optional<std::string>> f;
        for (SQLUSMALLINT c = 1; c <= cols; ++c) {
          char buf[512];
          SQLLEN ind = 0;
          SQLGetData(st, c, SQL_C_CHAR, buf, sizeof buf, &ind);
          f.push_back(ind == SQL_NULL_DATA ? std::nullopt : std::optional<std::string>(buf));
        }
        filas->push_back(std::move(f));
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return ok;
  }
  std::string Uno(const std::string& sql) {
    std::vector<std::vector<std::optional<std::string>>> f;
    if (!Ejecutar(sql, &f) || f.empty() || f[0].empty() || !f[0][0]) return "<nada>";
    return *f[0][0];
  }
};

}  // namespace prueba_tds
