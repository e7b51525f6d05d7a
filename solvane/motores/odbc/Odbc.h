// ODBC plumbing: owned handles and the one helper every ODBC call goes through.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CadenaOdbc.h"
#include "motores/Motor.h"

namespace solvane::odbc {

// An environment, connection or statement handle, freed on destruction (which never throws).
// A connection handle must be disconnected by its owner before it goes.
class Manija {
 public:
  Manija() = default;
  // `ancho`: text goes through the wide (UTF-16) entry points on this handle, diagnostics included.
  Manija(SQLSMALLINT tipo, SQLHANDLE padre, const Mascara& mascara, bool ancho = false);  // throws ErrorBD
  ~Manija() { Liberar(); }
  Manija(Manija&& otra) noexcept : tipo_(otra.tipo_), ancho_(otra.ancho_), h_(otra.h_) {
    otra.h_ = SQL_NULL_HANDLE;
  }
  Manija& operator=(Manija&& otra) noexcept;
  Manija(const Manija&) = delete;
  Manija& operator=(const Manija&) = delete;

  SQLHANDLE get() const { return h_; }
  SQLSMALLINT tipo() const { return tipo_; }
  bool ancho() const { return ancho_; }
  explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }
  void Liberar() noexcept;

 private:
  SQLSMALLINT tipo_ = 0;
  bool ancho_ = false;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// Reads the diagnostics a call left on `h` at once. Returns the error to raise when `rc` is a
// failure (SQL_ERROR, SQL_INVALID_HANDLE, or anything unexpected), nothing otherwise. The number is
// the server's native one; the text loses the "[vendor][driver]" prefixes and every password.
std::optional<ErrorBD> Diagnosticar(SQLRETURN rc, SQLSMALLINT tipo, SQLHANDLE h, const char* operacion,
                                    const Mascara& mascara, bool ancho = false);

// Every ODBC call whose failure must reach the caller: returns rc (success, with info, no data),
// throws ErrorBD otherwise.
SQLRETURN Comprobar(SQLRETURN rc, const Manija& m, const char* operacion, const Mascara& mascara);

// UTF-8 as the driver manager's wide characters (UTF-16), closed by a 0: the wide entry points pass text to
// the driver as it is, where the narrow ones let FreeTDS read UTF-8 bytes as Latin-1.
std::vector<SQLWCHAR> Ancho(std::string_view utf8);
// `n` wide characters as UTF-8; unpaired surrogates become U+FFFD.
std::string Estrecho(const SQLWCHAR* p, std::size_t n);

// For cleanup paths that must not throw: true when the call worked; the diagnostics are consumed.
bool Intentar(SQLRETURN rc, const Manija& m, const char* operacion, const Mascara& mascara) noexcept;

}  // namespace solvane::odbc
