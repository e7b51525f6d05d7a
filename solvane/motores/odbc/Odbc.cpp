// ODBC plumbing: owned handles and the one helper every ODBC call goes through.
#include "Odbc.h"

#include <vector>

namespace solvane::odbc {

namespace {

struct Registro {
  std::string estado;
  SQLINTEGER nativo = 0;
  std::string texto;
};

// "[unixODBC][FreeTDS][SQL Server]Invalid object name 'x'." -> "Invalid object name 'x'."
std::string SinPrefijos(std::string texto) {
  while (!texto.empty() && texto.front() == '[') {
    const auto fin = texto.find(']');
    if (fin == std::string::npos) break;
    texto.erase(0, fin + 1);
  }
  while (!texto.empty() && (texto.back() == '\n' || texto.back() == '\r' || texto.back() == ' '))
    texto.pop_back();
  return texto;
}

std::vector<Registro> LeerRegistros(SQLSMALLINT tipo, SQLHANDLE h) {
  std::vector<Registro> registros;
  if (h == SQL_NULL_HANDLE) return registros;
  for (SQLSMALLINT i = 1; i < 64; ++i) {
    SQLCHAR estado[6] = {};
    SQLINTEGER nativo = 0;
    std::vector<SQLCHAR> texto(SQL_MAX_MESSAGE_LENGTH + 1);
    SQLSMALLINT largo = 0;
    SQLRETURN rc = SQLGetDiagRec(tipo, h, i, estado, &nativo, texto.data(),
                                 static_cast<SQLSMALLINT>(texto.size()), &largo);
    if (rc == SQL_SUCCESS_WITH_INFO && largo >= static_cast<SQLSMALLINT>(texto.size())) {
      texto.resize(static_cast<std::size_t>(largo) + 1);
      rc = SQLGetDiagRec(tipo, h, i, estado, &nativo, texto.data(), static_cast<SQLSMALLINT>(texto.size()),
                         &largo);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    Registro r;
    r.estado = reinterpret_cast<const char*>(estado);
    r.nativo = nativo;
    r.texto = SinPrefijos(reinterpret_cast<const char*>(texto.data()));
    registros.push_back(std::move(r));
  }
  return registros;
}

bool EsAviso(const Registro& r) {
  return r.estado.rfind("01", 0) == 0;
}

}  // namespace

Manija::Manija(SQLSMALLINT tipo, SQLHANDLE padre, const Mascara& mascara) : tipo_(tipo) {
  SQLHANDLE nueva = SQL_NULL_HANDLE;
  const SQLRETURN rc = SQLAllocHandle(tipo, padre, &nueva);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    h_ = nueva;
    return;
  }
  // A failed allocation leaves its diagnostics on the parent.
  const SQLSMALLINT tipoPadre = tipo == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
  auto error =
      Diagnosticar(rc == SQL_SUCCESS_WITH_INFO ? SQL_ERROR : rc, tipoPadre, padre, "SQLAllocHandle", mascara);
  throw error.value_or(ErrorBD(-1, "SQLAllocHandle falló"));
}

Manija& Manija::operator=(Manija&& otra) noexcept {
  if (this != &otra) {
    Liberar();
    tipo_ = otra.tipo_;
    h_ = otra.h_;
    otra.h_ = SQL_NULL_HANDLE;
  }
  return *this;
}

void Manija::Liberar() noexcept {
  if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(tipo_, h_);
  h_ = SQL_NULL_HANDLE;
}

std::optional<ErrorBD> Diagnosticar(SQLRETURN rc, SQLSMALLINT tipo, SQLHANDLE h, const char* operacion,
                                    const Mascara& mascara) {
  if (rc == SQL_SUCCESS || rc == SQL_NO_DATA) return std::nullopt;
  const std::vector<Registro> registros = LeerRegistros(tipo, h);
  if (rc == SQL_SUCCESS_WITH_INFO) return std::nullopt;
  if (rc == SQL_INVALID_HANDLE) return ErrorBD(-1, std::string(operacion) + ": manija ODBC no válida");

  // The first real error decides the number; the server's later ones (1750 after 2714, ...) join
  // the text. Informational records (prints, context changes) are left out unless nothing else came.
  std::vector<const Registro*> errores;
  for (const auto& r : registros)
    if (!EsAviso(r)) errores.push_back(&r);
  if (errores.empty())
    for (const auto& r : registros) errores.push_back(&r);
  if (errores.empty())
    return ErrorBD(-1, std::string(operacion) + " falló sin diagnóstico (código " + std::to_string(rc) + ")");

  std::string texto;
  for (const Registro* r : errores) {
    if (!texto.empty()) texto += ' ';
    texto += r->texto;
    // Driver and driver-manager failures have no server number: the state tells them apart.
    if (r->nativo == 0) texto += " (SQLSTATE " + r->estado + ")";
  }
  const long numero = errores.front()->nativo != 0 ? errores.front()->nativo : -1;
  return ErrorBD(numero, mascara.Aplicar(texto));
}

SQLRETURN Comprobar(SQLRETURN rc, const Manija& m, const char* operacion, const Mascara& mascara) {
  if (auto error = Diagnosticar(rc, m.tipo(), m.get(), operacion, mascara)) throw *error;
  return rc;
}

bool Intentar(SQLRETURN rc, const Manija& m, const char* operacion, const Mascara& mascara) noexcept {
  try {
    return !Diagnosticar(rc, m.tipo(), m.get(), operacion, mascara).has_value();
  } catch (...) {  // only allocation can fail here
    return false;
  }
}

}  // namespace solvane::odbc
