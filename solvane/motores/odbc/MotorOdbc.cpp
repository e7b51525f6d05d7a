// The ODBC engine of cBaseDatos: one connection, statements sent as loaded, flat transactions.
#include "MotorOdbc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "CadenaOdbc.h"
#include "Odbc.h"
#include "motores/Errores.h"

namespace solvane {

namespace {

using odbc::Comprobar;
using odbc::Intentar;
using odbc::Manija;
using odbc::Mascara;

SQLCHAR* Texto(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

SQLPOINTER Entero(SQLULEN valor) {
  return reinterpret_cast<SQLPOINTER>(valor);
}

// The application lock that serialises runs of the updater on one SQL Server, named for it.
constexpr const char* kRecursoActualizacion = "N'Pagora Vavidev Act. BD'";
// Units of the buffer a value is read through; longer values come in pieces.
constexpr std::size_t kTrozo = 1024;
// Rows fetched at once by a bound read.
constexpr std::size_t kBloque = 256;

// Only ErrorBD leaves this engine: the driver's diagnostics become one where each call is checked, and
// anything else (memory) becomes one here, with number 0 and its own text.
template <typename F>
auto Frontera(F&& hacer) -> decltype(hacer()) {
  try {
    return hacer();
  } catch (const ErrorBD&) {
    throw;
  } catch (const std::exception& e) {
    throw ErrorBD(0, e.what());
  }
}

// Counts of a leading UPDATE or SET are skipped up to the first set of rows; its number of columns, 0 when
// the batch returns none.
SQLSMALLINT PrimerasFilas(const Manija& st, const Mascara& mascara) {
  SQLSMALLINT columnas = 0;
  for (;;) {
    Comprobar(SQLNumResultCols(st.get(), &columnas), st, "SQLNumResultCols", mascara);
    if (columnas > 0) return columnas;
    if (Comprobar(SQLMoreResults(st.get()), st, "SQLMoreResults", mascara) == SQL_NO_DATA) return 0;
  }
}

class MotorOdbc final : public MotorBD {
 public:
  MotorOdbc(const odbc::AjustesOdbc& ajustes, BloqueoActualizacion bloqueo)
      : ajustes_(ajustes), tomarBloqueo_(bloqueo == BloqueoActualizacion::Tomar) {
    mascara_.Agregar(ajustes.clave);
    mascara_.Agregar(odbc::ValorEnCadena(ajustes.cadena, "pwd"));
    mascara_.Agregar(odbc::ValorEnCadena(ajustes.cadena, "password"));
  }
  ~MotorOdbc() override { Desconectar(); }

  void Conectar() override;
  void Desconectar() noexcept override;
  void Ejecutar(const std::string& sentencia) override;
  PrimeraFila Consultar(const std::string& sentencia) override;
  std::vector<std::string> Recorrer(const std::string& sentencia, const LectorFilas& fila) override;
  void Comenzar() override;
  void Confirmar() override;
  void Deshacer() noexcept override;
  bool TransaccionAbierta() const override;
  std::string NombreServidor() const override { return nombre_; }

 private:
  void Abrir();
  void TomarBloqueo();
  Manija NuevaSentencia(long segundos) const;
  PrimeraFila Leer(const std::string& sentencia, long segundos) const;
  PrimeraFila Leer(const std::string& sentencia) const { return Leer(sentencia, ajustes_.tiempoSentencia); }
  std::string Info(SQLUSMALLINT dato) const;
  SQLRETURN Directa(const Manija& st, const std::string& sentencia) const;
  std::string Nombre(const Manija& st, SQLUSMALLINT columna) const;
  std::string Valor(const Manija& st, SQLUSMALLINT columna, bool ancho, bool& nulo, SQLWCHAR* trozo) const;
  std::vector<std::string> Nombres(const Manija& st, SQLSMALLINT columnas) const;
  std::vector<ValorCampo> FilaLeida(const Manija& st, SQLSMALLINT columnas) const;
  bool RecorrerEnBloques(const Manija& st, SQLSMALLINT columnas, const LectorFilas& fila) const;
  bool FijarAutocommit(bool encendido) noexcept;
  ErrorBD Revisar(const ErrorBD& e) const;

  odbc::AjustesOdbc ajustes_;
  Mascara mascara_;
  Manija entorno_;
  Manija conexion_;
  bool conectado_ = false;
  bool abierta_ = false;
  bool sqlServer_ = false;
  bool ancho_ = false;  // text through the wide entry points (FreeTDS)
  bool tomarBloqueo_;
  bool bloqueo_ = false;  // holds the updater's application lock
  std::string nombre_;
  // Why the connection was found lost; every later statement is refused with it.
  mutable std::optional<ErrorBD> perdida_;
};

// A failed attempt leaves no handle behind, so the engine can be asked to connect again.
void MotorOdbc::Conectar() {
  if (conectado_) Desconectar();
  try {
    Frontera([&] { Abrir(); });
  } catch (...) {
    Desconectar();
    throw;
  }
}

void MotorOdbc::Abrir() {
  entorno_ = Manija(SQL_HANDLE_ENV, SQL_NULL_HANDLE, mascara_);
  Comprobar(SQLSetEnvAttr(entorno_.get(), SQL_ATTR_ODBC_VERSION, Entero(SQL_OV_ODBC3), 0), entorno_,
            "SQLSetEnvAttr", mascara_);
  // FreeTDS reads a narrow connection string as Latin-1, whatever ClientCharset says, so a password outside
  // ASCII would not arrive as typed; once connected through the wide entry point it converts every narrow
  // call the same way, so on it all text goes wide. Other drivers take UTF-8 narrow (SQLite's has no wide
  // entry points at all).
  ancho_ = odbc::EsFreeTds(ajustes_.cadena);
  conexion_ = Manija(SQL_HANDLE_DBC, entorno_.get(), mascara_, ancho_);
  // A driver that cannot bound the login wait still gets to try; the wait is then its own.
  if (ajustes_.tiempoConexion > 0)
    Intentar(SQLSetConnectAttr(conexion_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                               Entero(static_cast<SQLULEN>(ajustes_.tiempoConexion)), 0),
             conexion_, "SQLSetConnectAttr", mascara_);
  std::string cadena = odbc::CadenaCompleta(ajustes_);
  SQLRETURN rc;
  SQLSMALLINT largo = 0;
  if (ancho_) {
    std::vector<SQLWCHAR> ancha = odbc::Ancho(cadena), salida(1024);
    rc = SQLDriverConnectW(conexion_.get(), nullptr, ancha.data(), SQL_NTS, salida.data(),
                           static_cast<SQLSMALLINT>(salida.size()), &largo, SQL_DRIVER_NOPROMPT);
    std::fill(ancha.begin(), ancha.end(), SQLWCHAR{0});
    std::fill(salida.begin(), salida.end(), SQLWCHAR{0});
  } else {
    std::vector<SQLCHAR> salida(1024);
    rc = SQLDriverConnect(conexion_.get(), nullptr, Texto(cadena), SQL_NTS, salida.data(),
                          static_cast<SQLSMALLINT>(salida.size()), &largo, SQL_DRIVER_NOPROMPT);
    std::fill(salida.begin(), salida.end(), SQLCHAR{0});
  }
  std::fill(cadena.begin(), cadena.end(), '\0');
  // Some drivers' reasons ("connect failed") do not say what was tried: the string, masked, does.
  if (auto error =
          odbc::Diagnosticar(rc, conexion_.tipo(), conexion_.get(), "SQLDriverConnect", mascara_, ancho_))
    throw ErrorBD(error->Numero,
                  error->Descripcion + " - Cadena: " + mascara_.Aplicar(odbc::CadenaCompleta(ajustes_)));
  conectado_ = true;

  const std::string dbms = Info(SQL_DBMS_NAME);
  const std::string version = Info(SQL_DBMS_VER);
  const std::string servidor = Info(SQL_SERVER_NAME);
  sqlServer_ = dbms.find("SQL Server") != std::string::npos;
  nombre_ = dbms + (version.empty() ? "" : " " + version) + (servidor.empty() ? "" : " en " + servidor);
  if (sqlServer_ && tomarBloqueo_) TomarBloqueo();
}

// Two runs against one SQL Server (two cash desks) must not both read the recorded version before either
// begins its chain: before anything is read, each takes the updater's application lock for the whole
// session, and a second run waits (up to TiempoBloqueo) for the first to disconnect, as the embedded
// engine's file lock makes it wait. The statement is the engine's own, so it is not in the record; its
// wait may exceed TiempoSentencia.
void MotorOdbc::TomarBloqueo() {
  const long espera = ajustes_.tiempoBloqueo;
  const long tiempo = ajustes_.tiempoSentencia == 0 ? 0 : std::max(ajustes_.tiempoSentencia, espera + 30);
  const PrimeraFila r =
      Leer(std::string("DECLARE @r int; EXEC @r = sp_getapplock @Resource = ") + kRecursoActualizacion +
               ", @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = " +
               std::to_string(espera * 1000) + "; SELECT @r",
           tiempo);
  const long codigo = r.Fila && !r.Fila->empty() && (*r.Fila)[0] ? std::atol((*r.Fila)[0]->c_str()) : -999;
  if (codigo >= 0) {
    bloqueo_ = true;
    return;
  }
  const std::string base = odbc::ValorEnCadena(ajustes_.cadena, "database");
  if (codigo == -1)
    throw ErrorBD(1222,
                  "La base de datos " + (base.empty() ? nombre_ : base + " de " + nombre_) +
                      " está en uso por otro programa (otra ejecución de Solvane); espere a que termine y "
                      "vuelva a intentar");
  throw ErrorBD(codigo, "No se pudo tomar el bloqueo de la actualización en " + nombre_ +
                            " (sp_getapplock devolvió " + std::to_string(codigo) + ")");
}

// Rollback first: a driver refuses to disconnect with a transaction open (SQLSTATE 25000) and would
// leave both the connection and the transaction, with its locks, behind.
void MotorOdbc::Desconectar() noexcept {
  if (conectado_) {
    if (abierta_) Deshacer();
    if (bloqueo_) {
      try {
        Ejecutar(std::string("EXEC sp_releaseapplock @Resource = ") + kRecursoActualizacion +
                 ", @LockOwner = 'Session'");
      } catch (...) {  // the lock goes with the session anyway
      }
    }
    if (!Intentar(SQLDisconnect(conexion_.get()), conexion_, "SQLDisconnect", mascara_)) {
      Intentar(SQLEndTran(SQL_HANDLE_DBC, conexion_.get(), SQL_ROLLBACK), conexion_, "SQLEndTran", mascara_);
      Intentar(SQLDisconnect(conexion_.get()), conexion_, "SQLDisconnect", mascara_);
    }
  }
  conexion_.Liberar();
  entorno_.Liberar();
  conectado_ = false;
  abierta_ = false;
  bloqueo_ = false;
  perdida_.reset();
  nombre_.clear();
}

Manija MotorOdbc::NuevaSentencia(long segundos) const {
  if (!conectado_) throw ErrorBD(-1, "No hay conexión con la base de datos");
  if (perdida_) throw *perdida_;
  Manija st(SQL_HANDLE_STMT, conexion_.get(), mascara_, ancho_);
  if (segundos > 0)
    Intentar(SQLSetStmtAttr(st.get(), SQL_ATTR_QUERY_TIMEOUT, Entero(static_cast<SQLULEN>(segundos)), 0), st,
             "SQLSetStmtAttr", mascara_);
  return st;
}

// Every result of the batch is walked: SQL Server reports an error in a later statement of the
// batch only when its result is reached.
void MotorOdbc::Ejecutar(const std::string& sentencia) {
  Manija st = NuevaSentencia(ajustes_.tiempoSentencia);
  try {
    Frontera([&] {
      Comprobar(Directa(st, sentencia), st, "SQLExecDirect", mascara_);
      while (Comprobar(SQLMoreResults(st.get()), st, "SQLMoreResults", mascara_) != SQL_NO_DATA) {
      }
    });
  } catch (const ErrorBD& e) {
    throw Revisar(e);
  }
}

PrimeraFila MotorOdbc::Consultar(const std::string& sentencia) {
  try {
    return Frontera([&] { return Leer(sentencia); });
  } catch (const ErrorBD& e) {
    throw Revisar(e);
  }
}

// The whole set of rows; a reader that stops early closes the cursor, which cancels the rest on SQL Server.
std::vector<std::string> MotorOdbc::Recorrer(const std::string& sentencia, const LectorFilas& fila) {
  try {
    return Frontera([&] {
      Manija st = NuevaSentencia(ajustes_.tiempoSentencia);
      Comprobar(Directa(st, sentencia), st, "SQLExecDirect", mascara_);
      const SQLSMALLINT columnas = PrimerasFilas(st, mascara_);
      std::vector<std::string> nombres = Nombres(st, columnas);
      if (!(sqlServer_ && columnas > 0 && RecorrerEnBloques(st, columnas, fila)))
        while (columnas > 0 && Comprobar(SQLFetch(st.get()), st, "SQLFetch", mascara_) != SQL_NO_DATA)
          if (!fila(FilaLeida(st, columnas))) break;
      Comprobar(SQLFreeStmt(st.get(), SQL_CLOSE), st, "SQLFreeStmt", mascara_);
      return nombres;
    });
  } catch (const ErrorBD& e) {
    throw Revisar(e);
  }
}

// A failure because the server went away says so (the driver's own words are often just "Unknown
// error"), and every statement after it is refused with the same reason.
ErrorBD MotorOdbc::Revisar(const ErrorBD& e) const {
  if (perdida_) return *perdida_;
  SQLUINTEGER muerta = SQL_CD_FALSE;
  if (Intentar(SQLGetConnectAttr(conexion_.get(), SQL_ATTR_CONNECTION_DEAD, &muerta, 0, nullptr), conexion_,
               "SQLGetConnectAttr", mascara_) &&
      muerta == SQL_CD_TRUE)
    perdida_ = ErrorBD(e.Numero, "Se perdió la conexión con el servidor: " + e.Descripcion);
  return perdida_ ? *perdida_ : e;
}

// Only the first row is ever read, and the cursor is closed right after the fetch (on SQL Server
// that cancels the rest of the stream), so a probe costs the same on any size of table. Other
// drivers are also told to keep one row; SQL Server's are not, since some do it with a session-wide
// SET ROWCOUNT that would then cut short the next UPDATE.
PrimeraFila MotorOdbc::Leer(const std::string& sentencia, long segundos) const {
  Manija st = NuevaSentencia(segundos);
  if (!sqlServer_)
    Intentar(SQLSetStmtAttr(st.get(), SQL_ATTR_MAX_ROWS, Entero(1), 0), st, "SQLSetStmtAttr", mascara_);
  Comprobar(Directa(st, sentencia), st, "SQLExecDirect", mascara_);

  PrimeraFila r;
  const SQLSMALLINT columnas = PrimerasFilas(st, mascara_);
  if (columnas == 0) return r;

  r.Columnas = Nombres(st, columnas);
  if (Comprobar(SQLFetch(st.get()), st, "SQLFetch", mascara_) != SQL_NO_DATA)
    r.Fila = FilaLeida(st, columnas);
  Comprobar(SQLFreeStmt(st.get(), SQL_CLOSE), st, "SQLFreeStmt", mascara_);
  return r;
}

std::string MotorOdbc::Info(SQLUSMALLINT dato) const {
  SQLSMALLINT largo = 0;
  if (ancho_) {
    std::vector<SQLWCHAR> texto(256);
    if (!Intentar(SQLGetInfoW(conexion_.get(), dato, texto.data(),
                              static_cast<SQLSMALLINT>(texto.size() * sizeof(SQLWCHAR)), &largo),
                  conexion_, "SQLGetInfo", mascara_))
      return {};
    return odbc::Estrecho(texto.data(), texto.size());
  }
  std::vector<SQLCHAR> texto(256);
  if (!Intentar(
          SQLGetInfo(conexion_.get(), dato, texto.data(), static_cast<SQLSMALLINT>(texto.size()), &largo),
          conexion_, "SQLGetInfo", mascara_))
    return {};
  return reinterpret_cast<const char*>(texto.data());
}

SQLRETURN MotorOdbc::Directa(const Manija& st, const std::string& sentencia) const {
  if (!ancho_) return SQLExecDirect(st.get(), Texto(sentencia), SQL_NTS);
  std::vector<SQLWCHAR> t = odbc::Ancho(sentencia);
  return SQLExecDirectW(st.get(), t.data(), SQL_NTS);
}

std::vector<std::string> MotorOdbc::Nombres(const Manija& st, SQLSMALLINT columnas) const {
  std::vector<std::string> r;
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnas); ++c) r.push_back(Nombre(st, c));
  return r;
}

// The fetched row's values as text, NULL as no value. One buffer, left unfilled, serves the whole row: a
// copy reads millions of values, and a zeroed buffer for each of them cost more than the driver did.
std::vector<ValorCampo> MotorOdbc::FilaLeida(const Manija& st, SQLSMALLINT columnas) const {
  std::vector<ValorCampo> fila;
  fila.reserve(static_cast<std::size_t>(std::max<SQLSMALLINT>(columnas, 0)));
  const std::unique_ptr<SQLWCHAR[]> trozo(new SQLWCHAR[kTrozo]);
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnas); ++c) {
    bool nulo = false;
    std::string valor = Valor(st, c, ancho_, nulo, trozo.get());
    fila.push_back(nulo ? ValorCampo() : ValorCampo(std::move(valor)));
  }
  return fila;
}

std::string MotorOdbc::Nombre(const Manija& st, SQLUSMALLINT c) const {
  SQLSMALLINT largo = 0, tipo = 0, decimales = 0, nulos = 0;
  SQLULEN tamano = 0;
  for (std::size_t n = 256;; n = static_cast<std::size_t>(largo) + 1) {
    if (ancho_) {
      std::vector<SQLWCHAR> nombre(n);
      Comprobar(SQLDescribeColW(st.get(), c, nombre.data(), static_cast<SQLSMALLINT>(n), &largo, &tipo,
                                &tamano, &decimales, &nulos),
                st, "SQLDescribeCol", mascara_);
      if (largo < static_cast<SQLSMALLINT>(n)) return odbc::Estrecho(nombre.data(), n);
    } else {
      std::vector<SQLCHAR> nombre(n);
      Comprobar(SQLDescribeCol(st.get(), c, nombre.data(), static_cast<SQLSMALLINT>(n), &largo, &tipo,
                               &tamano, &decimales, &nulos),
                st, "SQLDescribeCol", mascara_);
      if (largo < static_cast<SQLSMALLINT>(n)) return reinterpret_cast<const char*>(nombre.data());
    }
  }
}

// A column's value as text, read in pieces (long values come so) through `trozo` (kTrozo units), wide or
// narrow; `nulo` when it is NULL. A value that fits in one piece is converted straight from it.
std::string MotorOdbc::Valor(const Manija& st, SQLUSMALLINT c, bool ancho, bool& nulo,
                             SQLWCHAR* trozo) const {
  const std::size_t unidad = ancho ? sizeof(SQLWCHAR) : 1;
  const std::size_t bytes = kTrozo * sizeof(SQLWCHAR);
  const char* estrecho = reinterpret_cast<const char*>(trozo);
  std::vector<SQLWCHAR> anchos;  // the pieces of a longer value
  std::string texto;
  for (bool primero = true;; primero = false) {
    SQLLEN indicador = 0;
    const SQLRETURN rc = Comprobar(SQLGetData(st.get(), c, ancho ? SQL_C_WCHAR : SQL_C_CHAR, trozo,
                                              static_cast<SQLLEN>(bytes), &indicador),
                                   st, "SQLGetData", mascara_);
    if (rc == SQL_NO_DATA) break;
    if (indicador == SQL_NULL_DATA) {
      nulo = true;
      return {};
    }
    // A piece that did not fit fills the buffer but for its terminator.
    const bool entero =
        rc == SQL_SUCCESS && indicador != SQL_NO_TOTAL && indicador < static_cast<SQLLEN>(bytes);
    const std::size_t n = entero ? static_cast<std::size_t>(indicador) : bytes - unidad;
    if (entero && primero) return ancho ? odbc::Estrecho(trozo, n / unidad) : std::string(estrecho, n);
    if (ancho)
      anchos.insert(anchos.end(), trozo, trozo + n / unidad);
    else
      texto.append(estrecho, n);
    if (entero) break;
  }
  return ancho ? odbc::Estrecho(anchos.data(), anchos.size()) : texto;
}

// The rows of an executed statement fetched kBloque at a time into bound buffers, each value converted by
// the driver once, as SQL Server's own bulk readers do: reading a whole database value by value spent
// more in the per-call work of SQLGetData than in the values. Only columns whose longest text the driver
// tells (numbers, dates, texts up to 8000) can be bound; false, with nothing fetched, when a column cannot,
// and the caller reads value by value. Numbers and dates come as narrow text (always ASCII), texts wide on a
// wide connection.
bool MotorOdbc::RecorrerEnBloques(const Manija& st, SQLSMALLINT columnas, const LectorFilas& fila) const {
  struct Enlace {
    bool ancho = false;
    std::size_t bytes = 0;        // of one value, terminator included
    std::vector<SQLWCHAR> datos;  // kBloque values
    std::vector<SQLLEN> indicadores;
  };
  std::vector<Enlace> enlaces(static_cast<std::size_t>(columnas));
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnas); ++c) {
    SQLSMALLINT tipo = 0, decimales = 0, nulos = 0;
    SQLULEN tamano = 0;
    Comprobar(ancho_ ? SQLDescribeColW(st.get(), c, nullptr, 0, nullptr, &tipo, &tamano, &decimales, &nulos)
                     : SQLDescribeCol(st.get(), c, nullptr, 0, nullptr, &tipo, &tamano, &decimales, &nulos),
              st, "SQLDescribeCol", mascara_);
    Enlace& e = enlaces[c - 1];
    switch (tipo) {
      case SQL_BIT:
      case SQL_TINYINT:
      case SQL_SMALLINT:
      case SQL_INTEGER:
      case SQL_BIGINT:
      case SQL_NUMERIC:
      case SQL_DECIMAL:
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_TYPE_DATE:
      case SQL_TYPE_TIME:
      case SQL_TYPE_TIMESTAMP:
        e.bytes = 64;
        break;
      case SQL_CHAR:
      case SQL_VARCHAR:
      case SQL_WCHAR:
      case SQL_WVARCHAR:
        if (tamano == 0 || tamano > 8000) return false;
        // A character may take two UTF-16 units, or four bytes of UTF-8.
        e.ancho = ancho_;
        e.bytes = ancho_ ? (2 * tamano + 1) * sizeof(SQLWCHAR) : 4 * tamano + 2;
        break;
      default:
        return false;
    }
    e.datos.resize(e.bytes / sizeof(SQLWCHAR) * kBloque);
    e.indicadores.resize(kBloque);
  }
  SQLULEN obtenidas = 0;
  std::vector<SQLUSMALLINT> estados(kBloque);
  if (!Intentar(SQLSetStmtAttr(st.get(), SQL_ATTR_ROW_ARRAY_SIZE, Entero(kBloque), 0), st, "SQLSetStmtAttr",
                mascara_))
    return false;
  Comprobar(SQLSetStmtAttr(st.get(), SQL_ATTR_ROW_STATUS_PTR, estados.data(), 0), st, "SQLSetStmtAttr",
            mascara_);
  Comprobar(SQLSetStmtAttr(st.get(), SQL_ATTR_ROWS_FETCHED_PTR, &obtenidas, 0), st, "SQLSetStmtAttr",
            mascara_);
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnas); ++c) {
    Enlace& e = enlaces[c - 1];
    Comprobar(SQLBindCol(st.get(), c, e.ancho ? SQL_C_WCHAR : SQL_C_CHAR, e.datos.data(),
                         static_cast<SQLLEN>(e.bytes), e.indicadores.data()),
              st, "SQLBindCol", mascara_);
  }
  bool seguir = true;
  while (seguir && Comprobar(SQLFetch(st.get()), st, "SQLFetch", mascara_) != SQL_NO_DATA) {
    for (SQLULEN i = 0; i < obtenidas && seguir; ++i) {
      if (estados[i] == SQL_ROW_ERROR) Comprobar(SQL_ERROR, st, "SQLFetch", mascara_);
      std::vector<ValorCampo> valores;
      valores.reserve(enlaces.size());
      for (const Enlace& e : enlaces) {
        const SQLLEN n = e.indicadores[i];
        if (n == SQL_NULL_DATA) {
          valores.emplace_back();
          continue;
        }
        // The buffers hold the longest text the driver announced; anything longer would be cut short.
        if (n < 0 || static_cast<std::size_t>(n) >= e.bytes)
          throw ErrorBD(0, "Un valor leído es más largo que lo que el driver anunció para su columna");
        const SQLWCHAR* p = e.datos.data() + i * (e.bytes / sizeof(SQLWCHAR));
        valores.emplace_back(
            e.ancho ? odbc::Estrecho(p, static_cast<std::size_t>(n) / sizeof(SQLWCHAR))
                    : std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)));
      }
      seguir = fila(valores);
    }
  }
  // The driver keeps these pointers until told otherwise; they die with this call.
  Intentar(SQLFreeStmt(st.get(), SQL_UNBIND), st, "SQLFreeStmt", mascara_);
  Intentar(SQLSetStmtAttr(st.get(), SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0), st, "SQLSetStmtAttr", mascara_);
  Intentar(SQLSetStmtAttr(st.get(), SQL_ATTR_ROW_STATUS_PTR, nullptr, 0), st, "SQLSetStmtAttr", mascara_);
  return true;
}

bool MotorOdbc::FijarAutocommit(bool encendido) noexcept {
  return Intentar(SQLSetConnectAttr(conexion_.get(), SQL_ATTR_AUTOCOMMIT,
                                    Entero(encendido ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0),
                  conexion_, "SQLSetConnectAttr", mascara_);
}

// On SQL Server the transaction is spelt out in T-SQL, so that @@TRANCOUNT tells exactly whether
// the server still holds it; elsewhere it is the driver's (autocommit off until the commit or rollback).
void MotorOdbc::Comenzar() {
  if (!conectado_) throw ErrorBD(-1, "No hay conexión con la base de datos");
  if (abierta_) return;
  if (sqlServer_)
    Ejecutar("BEGIN TRANSACTION");
  else
    Frontera([&] {
      Comprobar(SQLSetConnectAttr(conexion_.get(), SQL_ATTR_AUTOCOMMIT, Entero(SQL_AUTOCOMMIT_OFF), 0),
                conexion_, "SQLSetConnectAttr", mascara_);
    });
  abierta_ = true;
}

// A refused commit leaves the transaction open for the caller's rollback.
void MotorOdbc::Confirmar() {
  if (!conectado_ || !abierta_) throw ErrorConfirmarSinComenzar();
  if (sqlServer_) {
    Ejecutar("COMMIT TRANSACTION");
    abierta_ = false;
    return;
  }
  Frontera([&] {
    Comprobar(SQLEndTran(SQL_HANDLE_DBC, conexion_.get(), SQL_COMMIT), conexion_, "SQLEndTran", mascara_);
  });
  abierta_ = false;
  if (!FijarAutocommit(true)) throw ErrorBD(-1, "No se pudo volver a la confirmación automática");
}

// Rollback before autocommit goes back on: switching it on with work pending would commit that work.
void MotorOdbc::Deshacer() noexcept {
  if (!conectado_ || !abierta_) return;
  abierta_ = false;
  if (sqlServer_) {
    try {
      Ejecutar("IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION");
    } catch (...) {  // a lost connection took the transaction with it
    }
    return;
  }
  Intentar(SQLEndTran(SQL_HANDLE_DBC, conexion_.get(), SQL_ROLLBACK), conexion_, "SQLEndTran", mascara_);
  FijarAutocommit(true);
}

// SQL Server ends a transaction by itself on some errors (conversion errors, for one); ask it.
// Other engines give no way to tell, so our own flag answers. A server that cannot be asked has lost
// the connection: the answer is then "open", so that the caller goes on to the next statement and is
// told of the lost connection itself, not of a transaction the server ended.
bool MotorOdbc::TransaccionAbierta() const {
  if (!conectado_ || !abierta_) return false;
  if (!sqlServer_) return true;
  if (perdida_) return true;
  try {
    const PrimeraFila r = Leer("SELECT @@TRANCOUNT");
    return r.Fila && !r.Fila->empty() && (*r.Fila)[0] && std::atol((*r.Fila)[0]->c_str()) > 0;
  } catch (const ErrorBD& e) {
    if (!perdida_) perdida_ = ErrorBD(e.Numero, "Se perdió la conexión con el servidor: " + e.Descripcion);
    return true;
  }
}

}  // namespace

std::unique_ptr<MotorBD> CrearMotorOdbc(const std::map<std::string, std::string>& ajustes,
                                        const std::string& archivo, BloqueoActualizacion bloqueo) {
  return std::make_unique<MotorOdbc>(odbc::LeerAjustes(ajustes, archivo, std::getenv("PAGORA_CLAVE")),
                                     bloqueo);
}

}  // namespace solvane
