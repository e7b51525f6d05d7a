// One TDS session: login, batches and RPCs run through the emulator, transactions, cancels.
#include "tds/Sesion.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <utility>

#include "motor/Errores.h"
#include "motor/Sintaxis.h"
#include "motor/Valores.h"
#include "tds/Cifrado.h"
#include "tds/Login.h"
#include "tds/Lotes.h"
#include "tds/Peticiones.h"

namespace simulado::tds {

namespace {

// SQL Server's severity for the numbers it raises below 16 (the rest are 16).
std::uint8_t ClaseDe(int numero) {
  switch (numero) {
    case 102:
      return 15;
    case 2601:
    case 2627:
    case 18456:
      return 14;
    case 4060:
      return 11;
    default:
      return 16;
  }
}

// Each column type of the engine goes out as the wire type of the same name.
ColumnaTds::Tipo TipoTds(Tipo t) {
  using T = ColumnaTds::Tipo;
  static constexpr std::pair<Tipo, T> kTipos[] = {
      {Tipo::Bit, T::Bit},           {Tipo::TinyInt, T::TinyInt},
      {Tipo::SmallInt, T::SmallInt}, {Tipo::Int, T::Int},
      {Tipo::Decimal, T::Decimal},   {Tipo::Char, T::Char},
      {Tipo::VarChar, T::VarChar},   {Tipo::SmallDateTime, T::SmallDateTime},
      {Tipo::DateTime, T::DateTime}};
  for (const auto& [nuestro, tds] : kTipos)
    if (nuestro == t) return tds;
  return T::Int;
}

std::vector<ColumnaTds> Columnas(const Resultado& r) {
  using T = ColumnaTds::Tipo;
  std::vector<ColumnaTds> cols;
  for (std::size_t i = 0; i < r.tipos.size(); ++i) {
    const TipoResultado& t = r.tipos[i];
    ColumnaTds c;
    c.nombre = i < r.columnas.size() ? r.columnas[i] : std::string();
    c.nulos = t.nulos;
    c.largo = t.largo;
    c.tipo = TipoTds(t.clase);
    if (c.tipo == T::Decimal) {
      c.precision = t.precision > 0 ? t.precision : 18;
      c.escala = t.escala;
    }
    cols.push_back(std::move(c));
  }
  return cols;
}

Bytes Descriptor8(std::uint64_t d) {
  Bytes b(8);
  for (int k = 0; k < 8; ++k) b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(d >> (8 * k));
  return b;
}

constexpr std::uint8_t kColacion[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// SQL Server's CurCmd for a statement's DONE: SELECT, INSERT, DELETE, UPDATE; 0 for the others.
std::uint16_t OrdenDe(const std::string& sentencia) {
  const std::string w = Mayusculas(sentencia.substr(0, 6));
  return w == "SELECT" ? 0xC1 : w == "INSERT" ? 0xC3 : w == "DELETE" ? 0xC4 : w == "UPDATE" ? 0xC5 : 0;
}

// What one session may keep in prepared statements.
constexpr std::size_t kTopePreparados = 16u << 20;

}  // namespace

Sesion::Sesion(Base& base, const Ajustes& ajustes, Descriptor sock, int parada, std::uint16_t spid,
               std::string direccion, Registro registro)
    : base_(base),
      aj_(ajustes),
      canal_(std::move(sock), parada, spid),
      spid_(spid),
      direccion_(std::move(direccion)),
      registro_(std::move(registro)) {
  canal_.PlazoEscritura(aj_.plazoEscritura);
}

void Sesion::Atender() {
  bool dentro = false;
  try {
    dentro = Entrar();
    if (dentro) {
      registro_("Sesión " + std::to_string(spid_) + " abierta: usuario " + usuario_ + " desde " + direccion_ +
                ", " + cifrado_);
      while (auto m = canal_.Leer(aj_.ocioso, aj_.plazo)) Peticion(*m);
    }
  } catch (const ErrorProtocolo& e) {
    registro_("Sesión " + std::to_string(spid_) + " desde " + direccion_ + ": " + e.what() + "; se cierra");
  } catch (const std::exception& e) {
    registro_("Sesión " + std::to_string(spid_) + " desde " + direccion_ + ": error " + e.what() +
              "; se cierra");
  }
  // The transaction of a client that left is undone at once, and its application locks go; the others may
  // go on.
  base_.Abandonar(spid_);
  base_.Aplicacion().SoltarTodos(spid_);
  if (tls_ && !canal_.Cerrado()) {
    tls_->Despedir();
    try {
      canal_.EscribirCrudo(tls_->Pendiente());
    } catch (const std::exception&) {
      // The client is gone or not reading: the close_notify was a courtesy.
    }
  }
  if (dentro)
    registro_("Sesión " + std::to_string(spid_) + " cerrada: usuario " + usuario_ + " desde " + direccion_);
}

// PRELOGIN and LOGIN7; true when the client is in. A refusal is answered and logged here.
bool Sesion::Entrar() {
  auto m = canal_.Leer(aj_.plazo, aj_.plazo);
  if (!m) return false;
  // PRELOGIN may be left out (jTDS does by default): SQL Server then takes LOGIN7 with no encryption,
  // unless it forces encryption.
  if (m->tipo == kPrelogin) {
    const Prelogin p = LeerPrelogin(m->datos);
    const Negociado n = NegociarCifrado(aj_.tls ? aj_.cifrado : ModoCifrado::No, p.cifrado);
    canal_.Enviar(kRespuesta, RespuestaPrelogin(n.respuesta));
    if (n.acuerdo == Acuerdo::Rechazado) {
      registro_("Conexión desde " + direccion_ +
                " rechazada: el cliente no cifra y este servidor exige cifrado");
      return false;
    }
    if (n.acuerdo != Acuerdo::SinCifrar) {
      auto t = Negociar(canal_, *aj_.tls, aj_.plazo);
      cifrado_ =
          (n.acuerdo == Acuerdo::Todo ? "cifrada (" : "cifrado sólo el login (") + t->Descripcion() + ")";
      if (n.acuerdo == Acuerdo::Todo) tls_ = t.get();
      canal_.Envolver(std::move(t));
    }
    m = canal_.Leer(aj_.plazo, aj_.plazo);
    // Only LOGIN7 was to be encrypted: the rest of the session is in clear text, as the client asked.
    if (n.acuerdo == Acuerdo::SoloLogin) canal_.Envolver(nullptr);
    if (!m) {
      // A client that insists on TLS and gets none gives up here.
      if (n.acuerdo == Acuerdo::SinCifrar &&
          (p.cifrado == kCifradoEncendido || p.cifrado == kCifradoRequerido))
        registro_("Conexión desde " + direccion_ +
                  " rechazada: el cliente exige cifrado y este servidor no lo admite");
      return false;
    }
    if (m->tipo == kPrelogin && n.acuerdo == Acuerdo::SinCifrar) {
      registro_("Conexión desde " + direccion_ +
                " rechazada: el cliente exige cifrado y este servidor no lo admite");
      return false;
    }
  } else if (aj_.tls && aj_.cifrado == ModoCifrado::Requerido) {
    registro_("Conexión desde " + direccion_ +
              " rechazada: el cliente no cifra y este servidor exige cifrado");
    return false;
  }
  if (m->tipo != kLogin7) throw ErrorProtocolo("se esperaba PRELOGIN o LOGIN7");
  Login7 l = LeerLogin7(m->datos);
  version_ = VersionAcordada(l.version);
  usuario_ = l.usuario;
  if (version_ == 0) {
    registro_("Conexión desde " + direccion_ + " rechazada: versión de TDS anterior a 7.1");
    return false;
  }
  e_ = Escritor(version_);
  canal_.Version(version_);
  const bool clave = IgualesTiempoConstante(l.clave, aj_.clave);
  std::fill(l.clave.begin(), l.clave.end(), '\0');
  const bool bien = clave && !l.integrada && MismoNombre(l.usuario, aj_.usuario);
  const bool baseBien = l.base.empty() || MismoNombre(l.base, base_.Nombre());
  if (!bien || !baseBien) {
    if (bien)
      e_.Mensaje(4060, 11,
                 "Cannot open database \"" + l.base + "\" requested by the login. The login failed.",
                 aj_.servidor);
    e_.Mensaje(18456, 14, "Login failed for user '" + l.usuario + "'.", aj_.servidor);
    e_.Hecho(kDone, kErrorHecho, 0, 0);
    canal_.Enviar(kRespuesta, e_.Datos());
    registro_("Acceso rechazado: usuario " + l.usuario + " desde " + direccion_ +
              (bien ? " (base " + l.base + " desconocida)" : ""));
    return false;
  }
  const std::uint32_t tamano = TamanoAcordado(l.tamanoPaquete);
  e_.LoginAck("Microsoft SQL Server", 0x100007D0);
  e_.EnvCambio(1, base_.Nombre(), "master");
  e_.Mensaje(5701, 0, "Changed database context to '" + base_.Nombre() + "'.", aj_.servidor, 1, 2);
  e_.EnvCambioBytes(7, Bytes(std::begin(kColacion), std::end(kColacion)), {});
  e_.EnvCambio(2, "us_english", "");
  e_.Mensaje(5703, 0, "Changed language setting to us_english.", aj_.servidor, 1, 1);
  e_.EnvCambio(4, std::to_string(tamano), std::to_string(tamano));
  e_.Hecho(kDone, 0, 0, 0);
  canal_.Enviar(kRespuesta, e_.Datos());
  e_.Datos().clear();
  canal_.TamanoPaquete(tamano);
  canal_.Tope(kTopeMensaje);
  return true;
}

void Sesion::Peticion(Mensaje& m) {
  e_.Datos().clear();
  hecho_.reset();
  detenido_ = false;
  cortado_ = false;
  rpc_ = false;
  if (m.ignorar) {
    hecho_ = Hecho{kDone, kErrorHecho, 0};
    Final();
    return;
  }
  variables_.clear();
  // RESETCONNECTION: the session as just logged in; RESETCONNECTIONSKIPTRAN keeps the transaction.
  if (m.estado & 0x18) Reiniciar((m.estado & 0x10) != 0);
  const bool encabezados = e_.Desde72();
  switch (m.tipo) {
    case kLote:
      Texto(LeerLote(m.datos, encabezados), false);
      break;
    case kRpc:
      Procedimiento(m.datos);
      break;
    case kGestorTransacciones:
      Transaccion(m.datos);
      break;
    default:
      throw ErrorProtocolo("petición de tipo inesperado tras el login");
  }
  base_.Soltar(spid_);
  // What a client that reads slowly has not taken yet goes out now, with the database free for the others.
  canal_.Drenar();
  canal_.Diferir(false);
  if (canal_.Atendida() && !canal_.Cerrado()) {
    Escritor a(version_);
    a.Hecho(kDone, kAtencion, 0, 0);
    canal_.Enviar(kRespuesta, a.Datos());
    canal_.AtencionRespondida();
  }
}

// The session as just logged in: options, the session's application locks and, unless kept, the transaction
// with its own.
void Sesion::Reiniciar(bool conservarTransaccion) {
  if (!conservarTransaccion && base_.Nivel(spid_) > 0) {
    base_.Abandonar(spid_);
    descriptor_ = 0;
  }
  base_.Aplicacion().SoltarTodos(spid_, Candados::Dueno::Sesion);
  SoltarCandadosDeTransaccion();
  op_ = Opciones{};
}

std::uint16_t Sesion::EnTransaccion() {
  return base_.Nivel(spid_) > 0 ? kEnTransaccion : 0;
}

void Sesion::SoltarHecho(bool mas) {
  if (!hecho_) return;
  e_.Hecho(hecho_->token, static_cast<std::uint16_t>(hecho_->estado | (mas ? kMas : 0)), hecho_->orden,
           hecho_->filas);
  hecho_.reset();
}

// Under NOCOUNT the row count is left out of the DONE, as SQL Server leaves it.
void Sesion::CerrarSentencia(std::uint16_t estado, std::uint64_t filas, std::uint16_t orden) {
  SoltarHecho(true);
  filasUltima_ = (estado & kErrorHecho) ? 0 : filas;
  if (op_.sinCuenta) {
    estado = static_cast<std::uint16_t>(estado & ~kCuenta);
    filas = 0;
  }
  hecho_ =
      Hecho{rpc_ ? kDoneEnProc : kDone, static_cast<std::uint16_t>(estado | EnTransaccion()), filas, orden};
  errorUltimo_ = (estado & kErrorHecho) ? numeroError_ : 0;
}

void Sesion::ErrorSentencia(int numero, const std::string& texto) {
  SoltarHecho(true);
  numeroError_ = numero;
  e_.Mensaje(numero, ClaseDe(numero), texto, aj_.servidor);
}

void Sesion::Vaciar(bool forzar) {
  if (forzar || e_.Datos().size() >= canal_.TamanoPaquete()) canal_.Agregar(e_.Datos());
}

// Ends the reply: the held-back DONE goes out as the last token (MORE only inside an RPC's answer).
void Sesion::Final(std::uint8_t token) {
  if (token == kDoneProc) {
    SoltarHecho(true);
    e_.Retorno(0);
    e_.Hecho(kDoneProc, 0, 0, 0);
  } else if (hecho_) {
    SoltarHecho(false);
  } else {
    // Every reply ends with a DONE, also one that only carried messages or nothing at all.
    e_.Hecho(kDone, EnTransaccion(), 0, 0);
  }
  Vaciar(true);
  canal_.Terminar();
}

void Sesion::Texto(const std::string& texto, bool rpc) {
  rpc_ = rpc;
  std::vector<Pieza> piezas;
  // A batch with a statement that does not parse runs nothing, as SQL Server compiles it whole first.
  try {
    piezas = PartirLote(texto);
  } catch (const ErrorSql& x) {
    ErrorSentencia(x.numero, x.descripcion);
    CerrarSentencia(kErrorHecho, 0);
    if (!rpc) Final();
    return;
  }
  for (const auto& p : piezas) {
    if (detenido_ || cortado_) break;
    Sentencia(p);
    SoltarCandadosDeTransaccion();
    Vaciar(false);
  }
  if (!rpc) Final();
}

void Sesion::Sentencia(const Pieza& p) {
  switch (p.k) {
    case Pieza::K::Set:
      Opcion(p);
      break;
    case Pieza::K::Use:
      if (MismoNombre(p.nombre, base_.Nombre())) {
        SoltarHecho(true);
        e_.EnvCambio(1, base_.Nombre(), base_.Nombre());
        e_.Mensaje(5701, 0, "Changed database context to '" + base_.Nombre() + "'.", aj_.servidor);
        CerrarSentencia(0, 0);
      } else {
        ErrorSentencia(
            911, "Database '" + p.nombre + "' does not exist. Make sure that the name is entered correctly.");
        CerrarSentencia(kErrorHecho, 0);
      }
      break;
    case Pieza::K::Variable:
      Seleccion(p);
      break;
    case Pieza::K::SiTrancount:
      if (base_.Nivel(spid_) > 0)
        EjecutarMotor(p.confirmar ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION");
      else
        CerrarSentencia(0, 0);
      break;
    case Pieza::K::Declarar:
      Declarar(p);
      break;
    case Pieza::K::Exec:
      Exec(p);
      break;
    case Pieza::K::Motor:
      if (base_.Rechazada()) {
        ErrorSentencia(50000, "Sentencia rechazada a propósito por el servidor.");
        CerrarSentencia(kErrorHecho, 0);
      } else if (op_.sinEjecutar || (op_.soloFormato && !MismoNombre(p.texto.substr(0, 6), "SELECT"))) {
        CerrarSentencia(0, 0);
      } else {
        EjecutarMotor(p.texto);
      }
      break;
  }
}

namespace {

// A whole number written in decimal, within the range of `long`.
bool Entero(const std::string& s, long& v) {
  const char* fin = s.data() + s.size();
  const auto r = std::from_chars(s.data() + (s.starts_with("+") ? 1 : 0), fin, v);
  return !s.empty() && r.ec == std::errc() && r.ptr == fin;
}

bool EsTipoEntero(const std::string& t) {
  return t == "INT" || t == "INTEGER" || t == "BIGINT" || t == "SMALLINT" || t == "TINYINT" || t == "BIT";
}

}  // namespace

namespace {

// The key of an application lock: its principal (a name, so in any letter case) and its resource (compared
// byte for byte, cut to 255 characters as SQL Server cuts it).
std::string ClaveCandado(const std::string& principal, const std::string& recurso) {
  Bytes u;
  Utf8AUtf16(recurso, u);
  if (u.size() > 510) u.resize(510);
  return Minusculas(principal) + '\x01' + Utf16AUtf8(u.data(), u.size() / 2);
}

constexpr std::size_t kMaximoCandados = 4096;  // resources one session may hold

}  // namespace

// The options that change what this server does are kept; the others (ANSI_NULLS, QUOTED_IDENTIFIER,
// TEXTSIZE, DATEFORMAT, the isolation level...) are accepted, since the emulator behaves one way only and
// that way is the clients' default. Two that would change results in a way the emulator cannot follow are
// refused rather than ignored: a non-zero ROWCOUNT and SHOWPLAN.
void Sesion::Opcion(const Pieza& p) {
  const bool si = p.valor == "ON";
  for (const auto& o : p.opciones) {
    long n = 0;
    if ((o == "ROWCOUNT" && p.valor != "0") || (o.starts_with("SHOWPLAN") && si)) {
      ErrorSentencia(
          40517, "Keyword or statement option '" + o + "' is not supported in this version of SQL Server.");
      CerrarSentencia(kErrorHecho, 0);
      return;
    }
    if (o == "NOCOUNT") {
      op_.sinCuenta = si;
    } else if (o == "XACT_ABORT") {
      op_.abortar = si;
    } else if (o == "IMPLICIT_TRANSACTIONS") {
      op_.implicitas = si;
    } else if (o == "FMTONLY") {
      op_.soloFormato = si;
    } else if (o == "NOEXEC" || o == "PARSEONLY") {
      op_.sinEjecutar = si;
    } else if (o == "LOCK_TIMEOUT" && Entero(p.valor, n)) {
      op_.esperaBloqueo = n < 0 ? std::nullopt : std::optional(std::chrono::milliseconds(n));
    } else if (o == "TEXTSIZE" && Entero(p.valor, n)) {
      op_.tamanoTexto = n <= 0 ? 4096 : n;
    }
  }
  CerrarSentencia(0, 0);
}

// The value of a session variable or function; false (the error already answered) when it has none.
bool Sesion::ValorDeSesion(const Columna& c, ColumnaTds& col, std::optional<std::string>& v) {
  using T = ColumnaTds::Tipo;
  const std::string& n = c.nombre;
  col.tipo = T::NVarChar;
  col.largo = 128;
  col.nulos = false;
  if (n == "@@TRANCOUNT") {
    col.tipo = T::Int;
    v = std::to_string(base_.Nivel(spid_));
  } else if (n == "@@SPID") {
    col.tipo = T::SmallInt;
    v = std::to_string(spid_);
  } else if (n == "@@MAX_PRECISION") {
    col.tipo = T::TinyInt;
    v = "38";
  } else if (n == "@@LOCK_TIMEOUT") {
    col.tipo = T::Int;
    v = std::to_string(op_.esperaBloqueo ? op_.esperaBloqueo->count() : -1);
  } else if (n == "@@TEXTSIZE") {
    col.tipo = T::Int;
    v = std::to_string(op_.tamanoTexto);
  } else if (n == "@@ROWCOUNT") {
    col.tipo = T::Int;
    v = std::to_string(filasUltima_);
  } else if (n == "@@ERROR") {
    col.tipo = T::Int;
    v = std::to_string(errorUltimo_);
  } else if (n == "@@VERSION") {
    col.largo = 300;
    v = "Microsoft SQL Server 2022 - 16.0.2000 (simulado: solvane-servidor " PAGORA_VERSION ")";
  } else if (n == "@@SERVERNAME") {
    v = aj_.servidor;
  } else if (n == "@@LANGUAGE") {
    v = "us_english";
  } else if (n == "DB_NAME" && c.argumentos.empty()) {
    v = base_.Nombre();
  } else if ((n == "APPLOCK_MODE" && c.argumentos.size() == 3) ||
             (n == "APPLOCK_TEST" && c.argumentos.size() == 4)) {
    std::vector<std::string> a;
    for (const Argumento& x : c.argumentos) a.push_back(ValorDe(x).value_or(""));
    const auto dueno = Candados::LeerDueno(a.back());
    const auto modo = Candados::LeerModo(a.size() == 4 ? a[2] : "Shared");
    if (!dueno || !modo) {
      ErrorSentencia(1225, "An invalid parameter \"" + std::string(dueno ? "@LockMode" : "@LockOwner") +
                               "\" was passed to the application lock function or procedure.");
      CerrarSentencia(kErrorHecho, 0);
      return false;
    }
    const std::string clave = ClaveCandado(a[0], a[1]);
    if (n == "APPLOCK_MODE") {
      col.largo = 32;
      v = base_.Aplicacion().ModoDe(spid_, clave, *dueno);
    } else {
      col.tipo = T::Int;
      v = base_.Aplicacion().SePuede(spid_, clave, *modo) ? "1" : "0";
    }
  } else if (!n.starts_with("@@") && n.starts_with("@") && variables_.count(n)) {
    const Variable& x = variables_.at(n);
    col.tipo = x.entera ? T::Int : T::NVarChar;
    col.largo = 4000;
    col.nulos = true;
    v = x.valor;
  } else if (n.starts_with("@")) {
    ErrorSentencia(137, "Must declare the scalar variable \"" + n + "\".");
    CerrarSentencia(kErrorHecho, 0);
    return false;
  } else {
    ErrorSentencia(174, "The " + Minusculas(n) + " function requires " +
                            (n == "DB_NAME"        ? "0 to 1"
                             : n == "APPLOCK_MODE" ? "3"
                                                   : "4") +
                            " arguments.");
    CerrarSentencia(kErrorHecho, 0);
    return false;
  }
  return true;
}

void Sesion::Seleccion(const Pieza& p) {
  std::vector<ColumnaTds> cols;
  std::vector<std::optional<std::string>> fila;
  for (const Columna& c : p.columnas) {
    ColumnaTds col;
    std::optional<std::string> v;
    if (!ValorDeSesion(c, col, v)) return;
    col.nombre = c.alias;
    cols.push_back(std::move(col));
    fila.push_back(std::move(v));
  }
  SoltarHecho(true);
  e_.Metadatos(cols);
  if (!op_.soloFormato) e_.Fila(cols, fila);
  CerrarSentencia(kCuenta, op_.soloFormato ? 0 : 1, 0xC1);
}

void Sesion::Declarar(const Pieza& p) {
  for (const Argumento& a : p.argumentos) {
    if (variables_.count(a.nombre)) {
      ErrorSentencia(134, "The variable name '" + a.nombre +
                              "' has already been declared. Variable names must be unique within a query "
                              "batch or stored procedure.");
      CerrarSentencia(kErrorHecho, 0);
      return;
    }
    variables_[a.nombre] = Variable{EsTipoEntero(a.tipo), a.valor};
  }
  CerrarSentencia(0, 0);
}

std::optional<std::string> Sesion::ValorDe(const Argumento& a) const {
  if (!a.variable) return a.valor;
  const auto it = variables_.find(*a.valor);
  return it == variables_.end() ? std::nullopt : it->second.valor;
}

// The values of sp_getapplock (@Resource, @LockMode, @LockOwner, @LockTimeout, @DbPrincipal) or of
// sp_releaseapplock (@Resource, @LockOwner, @DbPrincipal), by name or by place; the return status SQL
// Server documents. A call SQL Server refuses with an error (an unknown parameter) answers it and returns
// nothing; -999 comes with the error that says why.
std::optional<int> Sesion::Candado(const std::string& proc, const std::vector<ArgumentoProc>& argumentos) {
  const bool tomar = proc == "sp_getapplock";
  const std::vector<std::string> nombres =
      tomar ? std::vector<std::string>{"@RESOURCE", "@LOCKMODE", "@LOCKOWNER", "@LOCKTIMEOUT", "@DBPRINCIPAL"}
            : std::vector<std::string>{"@RESOURCE", "@LOCKOWNER", "@DBPRINCIPAL"};
  std::map<std::string, std::optional<std::string>> v;
  for (std::size_t i = 0; i < argumentos.size(); ++i) {
    const std::string n = argumentos[i].nombre.empty() ? (i < nombres.size() ? nombres[i] : "")
                                                       : Mayusculas(argumentos[i].nombre);
    if (std::find(nombres.begin(), nombres.end(), n) == nombres.end()) {
      ErrorSentencia(n.empty() ? 8144 : 8145,
                     n.empty() ? "Procedure or function " + proc + " has too many arguments specified."
                               : argumentos[i].nombre + " is not a parameter for procedure " + proc + ".");
      CerrarSentencia(kErrorHecho, 0);
      return std::nullopt;
    }
    v[n] = argumentos[i].valor;
  }
  auto invalido = [&](const char* parametro) {
    ErrorSentencia(1225, std::string("An invalid parameter \"") + parametro +
                             "\" was passed to the application lock function or procedure.");
    return -999;
  };
  const std::optional<std::string> recurso = v["@RESOURCE"];
  const auto dueno = Candados::LeerDueno(v["@LOCKOWNER"].value_or("Transaction"));
  const std::string principal = v["@DBPRINCIPAL"].value_or("public");
  if (!recurso) return invalido("@Resource");
  if (!dueno) return invalido("@LockOwner");
  Candados& c = base_.Aplicacion();
  const std::string clave = ClaveCandado(principal, *recurso);
  if (!tomar) {
    if (c.Soltar(spid_, clave, *dueno)) return 0;
    ErrorSentencia(1223, "Cannot release the application lock (Database Principal: '" + principal +
                             "', Resource: '" + *recurso + "') because it is not currently held.");
    return -999;
  }
  const auto modo = Candados::LeerModo(v["@LOCKMODE"].value_or(""));
  long plazo = op_.esperaBloqueo ? op_.esperaBloqueo->count() : -1;
  if (!modo) return invalido("@LockMode");
  if (v["@LOCKTIMEOUT"] && !Entero(*v["@LOCKTIMEOUT"], plazo)) return invalido("@LockTimeout");
  if (*dueno == Candados::Dueno::Transaccion && base_.Nivel(spid_) == 0) {
    ErrorSentencia(
        1227, "You attempted to acquire a transactional application lock without an active transaction.");
    return -999;
  }
  if (c.Cuantos(spid_) >= kMaximoCandados && c.ModoDe(spid_, clave, *dueno) == "NoLock") {
    ErrorSentencia(
        1204,
        "The instance of the SQL Server Database Engine cannot obtain a LOCK resource at this time. "
        "Rerun your statement when there are fewer active users.");
    return -999;
  }
  // -1 waits as long as a statement waits for another's transaction: every wait here has an end.
  const auto espera = plazo < 0 ? aj_.esperaBloqueo : std::chrono::milliseconds(plazo);
  const int r = c.Tomar(spid_, clave, *modo, *dueno, espera, [this] { return !canal_.Interrumpido(); });
  if (r == -2) detenido_ = true;
  return r;
}

void Sesion::SoltarCandadosDeTransaccion() {
  if (base_.Nivel(spid_) == 0) base_.Aplicacion().SoltarTodos(spid_, Candados::Dueno::Transaccion);
}

// A procedure called by EXEC in a batch: its results, RETURNSTATUS and DONEPROC, as SQL Server answers
// it; `EXEC @r = ...` puts the return status in @r.
void Sesion::Exec(const Pieza& p) {
  const std::string n = Minusculas(p.nombre);
  if (!p.destino.empty() && !variables_.count(p.destino)) {
    ErrorSentencia(137, "Must declare the scalar variable \"" + p.destino + "\".");
    CerrarSentencia(kErrorHecho, 0);
    return;
  }
  int estado = 0;
  if (n == "sp_getapplock" || n == "sp_releaseapplock") {
    std::vector<ArgumentoProc> args;
    for (const Argumento& a : p.argumentos)
      args.push_back({a.nombre, a.porDefecto ? std::nullopt : ValorDe(a)});
    const auto r = Candado(n, args);
    if (!r) return;
    estado = *r;
  } else if (!n.starts_with("sp_datatype_info")) {
    ErrorSentencia(2812, "Could not find stored procedure '" + p.nombre + "'.");
    CerrarSentencia(kErrorHecho, 0);
    return;
  }
  if (!p.destino.empty()) variables_[p.destino].valor = std::to_string(estado);
  SoltarHecho(true);
  if (!rpc_) e_.Retorno(estado);
  hecho_ = Hecho{rpc_ ? kDoneEnProc : kDoneProc, EnTransaccion(), 0};
  filasUltima_ = 0;
  errorUltimo_ = 0;
}

bool Sesion::TomarBase() {
  try {
    if (base_.Tomar(
            spid_, [this] { return !canal_.Interrumpido(); }, op_.esperaBloqueo.value_or(aj_.esperaBloqueo)))
      return true;
  } catch (const ErrorSql& x) {
    ErrorSentencia(x.numero, x.descripcion);
    CerrarSentencia(kErrorHecho, 0);
  }
  detenido_ = true;
  return false;
}

// Transaction ENVCHANGEs (7.2 on) when a statement opened or closed the outermost transaction.
void Sesion::CambioTransaccion(int antes, bool confirmo) {
  const int ahora = base_.Motor().NivelTransaccion();
  if (!e_.Desde72() || (antes > 0) == (ahora > 0)) return;
  SoltarHecho(true);
  if (ahora > 0) {
    descriptor_ = ++siguienteDescriptor_;
    e_.EnvCambioBytes(8, Descriptor8(descriptor_), {});
  } else {
    e_.EnvCambioBytes(confirmo ? 9 : 10, {}, Descriptor8(descriptor_));
    descriptor_ = 0;
  }
}

// Runs statements through the emulator. Autocommit changes run in a transaction of their own that is
// written to the file before it is committed; an outermost COMMIT writes the file first and is refused
// (transaction still open) when that fails, so nothing is ever acknowledged that the file does not hold.
void Sesion::EjecutarMotor(const std::string& texto) {
  if (!TomarBase()) return;
  Servidor& motor = base_.Motor();
  using Clase = Servidor::Clase;
  int antes = 0;
  bool implicita = false;
  Clase clase = Clase::Consulta;
  std::vector<ColumnaTds> cols;
  std::optional<ErrorValor> errorFila;
  std::exception_ptr roto;
  std::size_t filas = 0;
  bool esperado = false;
  Servidor::Receptor r;
  r.antes = [&](Clase c) {
    clase = c;
    antes = motor.NivelTransaccion();
    implicita = false;
    errorFila.reset();
    if (op_.implicitas && antes == 0 && (c == Clase::Cambio || c == Clase::Consulta)) {
      // The transaction this statement begins stays open for the client's COMMIT or ROLLBACK.
      motor.Ejecutar("BEGIN TRANSACTION");
      CambioTransaccion(0, false);
      antes = 1;
    } else if (c == Clase::Cambio && antes == 0) {
      motor.Ejecutar("BEGIN TRANSACTION");
      implicita = true;
    }
    // Outside a transaction the result is queued rather than waited for: the database is let go when the
    // request ends, not when a slow client has read it all. Inside one, the wait holds it, as on SQL Server.
    canal_.Diferir(implicita || motor.NivelTransaccion() == 0);
    if (c == Clase::Commit && antes == 1) base_.Grabar();
  };
  r.columnas = [&](const Resultado& res) {
    cols = Columnas(res);
    SoltarHecho(true);
    e_.Metadatos(cols);
  };
  r.valores = [&](const std::vector<simulado::Valor>& f) {
    if (op_.soloFormato) return false;
    try {
      e_.Fila(cols, f);
      // A packet goes out as soon as it can be filled, so what is queued unsent is at most the row that
      // crossed its end: a cancel finds little left to send.
      if (++filas % 512 == 0 || e_.Datos().size() + canal_.Pendientes() > canal_.TamanoPaquete() - 8) {
        Vaciar(true);
        // Once the first packet of a long result is out, the client gets a moment to cancel before the
        // rest follows: a first-row probe then costs the same on a table of ten rows or of a million.
        std::chrono::microseconds espera(0);
        if (canal_.Enviados() > 0 && !esperado) {
          esperado = true;
          espera = std::chrono::microseconds(200);
        }
        if (canal_.Interrumpido(espera)) {
          detenido_ = true;
          return false;
        }
      }
      return true;
    } catch (const ErrorValor& x) {
      errorFila = x;
    } catch (...) {
      roto = std::current_exception();
      detenido_ = true;
    }
    return false;
  };
  r.fin = [&](const Resultado* res, const ErrorSql* err) {
    std::optional<ErrorSql> fallo;
    if (err) fallo = *err;
    if (implicita) {
      if (!fallo) {
        try {
          base_.Grabar();
          motor.Ejecutar("COMMIT TRANSACTION");
        } catch (const ErrorSql& x) {
          fallo = x;
        }
      }
      if (motor.NivelTransaccion() > 0) motor.Ejecutar("ROLLBACK TRANSACTION");
    } else {
      CambioTransaccion(antes, clase == Clase::Commit);
    }
    if (roto) return false;
    if (errorFila) {
      ErrorSentencia(errorFila->numero, errorFila->what());
      CerrarSentencia(kErrorHecho, 0);
      return !detenido_;
    }
    if (fallo) {
      ErrorSentencia(fallo->numero, fallo->descripcion);
      // Conversion errors end the batch (and the emulator has ended the transaction); under XACT_ABORT
      // any error does, and takes the transaction with it.
      cortado_ = EsErrorConversion(fallo->numero) || op_.abortar;
      if (op_.abortar && motor.NivelTransaccion() > 0) {
        const int nivel = motor.NivelTransaccion();
        motor.Ejecutar("ROLLBACK TRANSACTION");
        CambioTransaccion(nivel, false);
      }
      CerrarSentencia(kErrorHecho, 0);
      return !detenido_ && !cortado_;
    }
    const bool contadas = res->contadas && !op_.soloFormato;
    CerrarSentencia(contadas ? kCuenta : 0,
                    contadas ? static_cast<std::uint64_t>(std::max(res->filasAfectadas, 0L)) : 0,
                    OrdenDe(texto));
    Vaciar(false);
    return !detenido_;
  };
  try {
    motor.EjecutarLote(texto, r);
  } catch (const ErrorSql& x) {
    ErrorSentencia(x.numero, x.descripcion);
    CerrarSentencia(kErrorHecho, 0);
  }
  if (roto) std::rethrow_exception(roto);
}

// RETURNSTATUS, the handle of a prepared statement as its RETURNVALUE, and DONEPROC.
void Sesion::FinalProcedimiento(int estado, const ParametroRpc* salida, std::optional<std::int32_t> manija) {
  SoltarHecho(true);
  e_.Retorno(estado);
  if (salida) e_.Salida(0, salida->nombre, manija);
  e_.Hecho(kDoneProc, 0, 0, 0);
  Vaciar(true);
  canal_.Terminar();
}

// Runs `sentencia` with the parameter values from `desde` on, each put in as the literal of its value: by
// name, or by position in the order `declaraciones` declares them. A value for no declared name, or a
// declared name without a value, is refused as SQL Server refuses it; false then.
bool Sesion::ConParametros(const std::string& proc, const std::string& sentencia,
                           const ParametroRpc* declaraciones, const std::vector<ParametroRpc>& valores,
                           std::size_t desde) {
  const std::string decl = declaraciones && declaraciones->texto ? *declaraciones->texto : std::string();
  const std::vector<std::string> nombres = Declarados(decl);
  std::map<std::string, std::string> literales;
  for (std::size_t i = desde; i < valores.size(); ++i) {
    const std::size_t k = i - desde;
    const std::string n = valores[i].nombre.empty()
                              ? (k < nombres.size() ? nombres[k] : "@" + std::to_string(k + 1))
                              : Mayusculas(valores[i].nombre);
    if (std::find(nombres.begin(), nombres.end(), n) == nombres.end()) {
      ErrorSentencia(8145, n + " is not a parameter for procedure " + proc + ".");
      return false;
    }
    literales[n] = valores[i].literal;
  }
  for (const std::string& n : nombres) {
    if (literales.count(n)) continue;
    ErrorSentencia(8178, "The parameterized query '(" + decl + ")" + sentencia + "' expects the parameter '" +
                             n + "', which was not supplied.");
    return false;
  }
  Texto(Sustituir(sentencia, literales), true);
  return true;
}

// sp_prepare, sp_prepexec, sp_execute and sp_unprepare, with their parameters by position as the drivers
// send them; false when `nombre` is none of them. `manija` gets the handle to return.
bool Sesion::Preparados(const std::string& nombre, const Rpc& r, std::optional<std::int32_t>& manija) {
  const auto& p = r.parametros;
  auto falta = [&](const char* parametro) {
    ErrorSentencia(201, "Procedure or function '" + nombre + "' expects parameter '" + parametro +
                            "', which was not supplied.");
  };
  auto buscar = [&](const ParametroRpc* h) -> const Preparada* {
    const auto it =
        h && h->entero ? preparadas_.find(static_cast<std::int32_t>(*h->entero)) : preparadas_.end();
    if (it != preparadas_.end()) return &it->second;
    ErrorSentencia(8179, "Could not find prepared statement with handle " + (h ? h->literal : "NULL") + ".");
    return nullptr;
  };
  if (nombre == "sp_prepare" || nombre == "sp_prepexec") {
    if (p.size() < 3 || !p[2].texto) {
      falta("@stmt");
      return true;
    }
    const std::size_t bytes = p[2].texto->size() + (p[1].texto ? p[1].texto->size() : 0);
    if (bytesPreparados_ + bytes > kTopePreparados) {
      ErrorSentencia(701,
                     "There is insufficient system memory in resource pool 'default' to run this query.");
      return true;
    }
    bytesPreparados_ += bytes;
    manija = siguienteManija_++;
    preparadas_[*manija] = Preparada{*p[2].texto, p[1].texto.value_or("")};
    if (nombre == "sp_prepexec") ConParametros(nombre, *p[2].texto, &p[1], p, 3);
  } else if (nombre == "sp_execute") {
    if (p.empty()) {
      falta("@handle");
    } else if (const Preparada* x = buscar(&p[0])) {
      ParametroRpc decl;
      decl.texto = x->declaraciones;
      const std::string sentencia = x->sentencia;
      ConParametros(nombre, sentencia, &decl, p, 1);
    }
  } else if (nombre == "sp_unprepare") {
    if (p.empty()) {
      falta("@handle");
    } else if (const Preparada* x = buscar(&p[0])) {
      bytesPreparados_ -= x->sentencia.size() + x->declaraciones.size();
      preparadas_.erase(static_cast<std::int32_t>(*p[0].entero));
    }
  } else {
    return false;
  }
  return true;
}

void Sesion::Procedimiento(const Bytes& datos) {
  rpc_ = true;
  const Rpc r = LeerRpc(datos, e_.Desde72());
  std::string n = Minusculas(r.nombre);
  if (const auto punto = n.find_last_of('.'); punto != std::string::npos) n.erase(0, punto + 1);  // sys.
  std::optional<std::int32_t> manija;
  int estado = 0;
  if (r.desconocido) {
    ErrorSentencia(8009, *r.desconocido);
  } else if (n == "sp_getapplock" || n == "sp_releaseapplock") {
    std::vector<ArgumentoProc> args;
    for (const ParametroRpc& x : r.parametros)
      args.push_back({x.nombre, x.nulo ? std::nullopt : std::optional(x.texto.value_or(x.literal))});
    estado = Candado(n, args).value_or(-999);
    SoltarCandadosDeTransaccion();
  } else if (n == "sp_executesql") {
    if (r.parametros.empty() || !r.parametros[0].texto)
      ErrorSentencia(201,
                     "Procedure or function 'sp_executesql' expects parameter '@statement', which was not "
                     "supplied.");
    else
      ConParametros(n, *r.parametros[0].texto, r.parametros.size() > 1 ? &r.parametros[1] : nullptr,
                    r.parametros, 2);
  } else if (!Preparados(n, r, manija)) {
    ErrorSentencia(2812, "Could not find stored procedure '" + r.nombre + "'.");
    e_.Hecho(kDoneProc, kErrorHecho, 0, 0);
    Vaciar(true);
    canal_.Terminar();
    return;
  }
  const bool prepara = n == "sp_prepare" || n == "sp_prepexec";
  SoltarCandadosDeTransaccion();
  FinalProcedimiento(estado, prepara && !r.parametros.empty() ? &r.parametros[0] : nullptr, manija);
}

void Sesion::Transaccion(const Bytes& datos) {
  const PedidoTm p = LeerTm(datos, e_.Desde72());
  const int nivel = base_.Nivel(spid_);
  switch (p.tipo) {
    case 5:
      EjecutarMotor("BEGIN TRANSACTION");
      break;
    case 7:
    case 8:
      if (nivel == 0) {
        const ErrorSql x = SinTransaccion(p.tipo == 7);
        ErrorSentencia(x.numero, x.descripcion);
        CerrarSentencia(kErrorHecho, 0);
        break;
      }
      // The transaction manager ends the whole transaction, however deeply BEGINs were nested.
      for (int i = p.tipo == 7 ? nivel : 1; i > 0 && !detenido_ && base_.Nivel(spid_) > 0; --i)
        EjecutarMotor(p.tipo == 7 ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION");
      if (p.otra && !detenido_ && base_.Nivel(spid_) == 0) EjecutarMotor("BEGIN TRANSACTION");
      break;
    case 9:
      CerrarSentencia(0, 0);
      break;
    default:
      ErrorSentencia(7, "Tipo de pedido de transacción no admitido: " + std::to_string(p.tipo) + ".");
      CerrarSentencia(kErrorHecho, 0);
  }
  SoltarCandadosDeTransaccion();
  Final();
}

}  // namespace simulado::tds
