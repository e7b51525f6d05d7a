// ODBC plumbing: owned handles and the one helper every ODBC call goes through.
#include "Odbc.h"

#include <algorithm>
#include <cstdint>
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

std::vector<Registro> LeerRegistros(SQLSMALLINT tipo, SQLHANDLE h, bool ancho) {
  std::vector<Registro> registros;
  if (h == SQL_NULL_HANDLE) return registros;
  for (SQLSMALLINT i = 1; i < 64; ++i) {
    Registro r;
    SQLSMALLINT largo = 0;
    SQLRETURN rc;
    if (ancho) {
      SQLWCHAR estado[6] = {};
      std::vector<SQLWCHAR> texto(SQL_MAX_MESSAGE_LENGTH + 1);
      rc = SQLGetDiagRecW(tipo, h, i, estado, &r.nativo, texto.data(), static_cast<SQLSMALLINT>(texto.size()),
                          &largo);
      if (rc == SQL_SUCCESS_WITH_INFO && largo >= static_cast<SQLSMALLINT>(texto.size())) {
        texto.resize(static_cast<std::size_t>(largo) + 1);
        rc = SQLGetDiagRecW(tipo, h, i, estado, &r.nativo, texto.data(),
                            static_cast<SQLSMALLINT>(texto.size()), &largo);
      }
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      r.estado = Estrecho(estado, 5);
      r.texto = SinPrefijos(Estrecho(
          texto.data(), std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(largo, 0)),
                                              texto.size() - 1)));
    } else {
      SQLCHAR estado[6] = {};
      std::vector<SQLCHAR> texto(SQL_MAX_MESSAGE_LENGTH + 1);
      rc = SQLGetDiagRec(tipo, h, i, estado, &r.nativo, texto.data(), static_cast<SQLSMALLINT>(texto.size()),
                         &largo);
      if (rc == SQL_SUCCESS_WITH_INFO && largo >= static_cast<SQLSMALLINT>(texto.size())) {
        texto.resize(static_cast<std::size_t>(largo) + 1);
        rc = SQLGetDiagRec(tipo, h, i, estado, &r.nativo, texto.data(),
                           static_cast<SQLSMALLINT>(texto.size()), &largo);
      }
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
      r.estado = reinterpret_cast<const char*>(estado);
      r.texto = SinPrefijos(reinterpret_cast<const char*>(texto.data()));
    }
    registros.push_back(std::move(r));
  }
  return registros;
}

bool EsAviso(const Registro& r) {
  return r.estado.rfind("01", 0) == 0;
}

}  // namespace

Manija::Manija(SQLSMALLINT tipo, SQLHANDLE padre, const Mascara& mascara, bool ancho)
    : tipo_(tipo), ancho_(ancho) {
  SQLHANDLE nueva = SQL_NULL_HANDLE;
  const SQLRETURN rc = SQLAllocHandle(tipo, padre, &nueva);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    h_ = nueva;
    return;
  }
  // A failed allocation leaves its diagnostics on the parent.
  const SQLSMALLINT tipoPadre = tipo == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
  auto error = Diagnosticar(rc == SQL_SUCCESS_WITH_INFO ? SQL_ERROR : rc, tipoPadre, padre, "SQLAllocHandle",
                            mascara, ancho);
  throw error.value_or(ErrorBD(-1, "SQLAllocHandle falló"));
}

Manija& Manija::operator=(Manija&& otra) noexcept {
  if (this != &otra) {
    Liberar();
    tipo_ = otra.tipo_;
    ancho_ = otra.ancho_;
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
                                    const Mascara& mascara, bool ancho) {
  if (rc == SQL_SUCCESS || rc == SQL_NO_DATA) return std::nullopt;
  const std::vector<Registro> registros = LeerRegistros(tipo, h, ancho);
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
  if (auto error = Diagnosticar(rc, m.tipo(), m.get(), operacion, mascara, m.ancho())) throw *error;
  return rc;
}

std::vector<SQLWCHAR> Ancho(std::string_view s) {
  std::vector<SQLWCHAR> r;
  r.reserve(s.size() + 1);
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int mas = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    std::uint32_t c = mas < 0 ? 0xFFFD : b & (0x7F >> mas);
    ++i;
    for (int k = 0; k < mas; ++k, ++i) {
      if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = c << 6 | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      r.push_back(static_cast<SQLWCHAR>(0xD800 + (c >> 10)));
      r.push_back(static_cast<SQLWCHAR>(0xDC00 + (c & 0x3FF)));
    } else {
      r.push_back(static_cast<SQLWCHAR>(c));
    }
  }
  r.push_back(0);
  return r;
}

std::string Estrecho(const SQLWCHAR* p, std::size_t n) {
  std::string r;
  r.reserve(n);
  for (std::size_t i = 0; i < n && p[i] != 0; ++i) {
    std::uint32_t c = p[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (p[++i] - 0xDC00u);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    if (c < 0x80) {
      r += static_cast<char>(c);
    } else if (c < 0x800) {
      r += static_cast<char>(0xC0 | c >> 6);
      r += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      r += static_cast<char>(0xE0 | c >> 12);
      r += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      r += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      r += static_cast<char>(0xF0 | c >> 18);
      r += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      r += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      r += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return r;
}

bool Intentar(SQLRETURN rc, const Manija& m, const char* operacion, const Mascara& mascara) noexcept {
  try {
    return !Diagnosticar(rc, m.tipo(), m.get(), operacion, mascara, m.ancho()).has_value();
  } catch (...) {  // only allocation can fail here
    return false;
  }
}

}  // namespace solvane::odbc
