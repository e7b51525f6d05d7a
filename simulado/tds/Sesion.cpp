// One TDS session: login, batches and RPCs run through the emulator, transactions, cancels.
#include "tds/Sesion.h"

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

}  // namespace

Sesion::Sesion(Base& base, const Ajustes& ajustes, Descriptor sock, int parada, std::uint16_t spid,
               std::string direccion, Registro registro)
    : base_(base),
      aj_(ajustes),
      canal_(std::move(sock), parada, spid),
      spid_(spid),
      direccion_(std::move(direccion)),
      registro_(std::move(registro)) {}

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
  // The transaction of a client that left is undone at once; the others may go on.
  base_.Abandonar(spid_);
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
  if (m->tipo != kPrelogin) throw ErrorProtocolo("se esperaba PRELOGIN");
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
    if (n.acuerdo == Acuerdo::SinCifrar && (p.cifrado == kCifradoEncendido || p.cifrado == kCifradoRequerido))
      registro_("Conexión desde " + direccion_ +
                " rechazada: el cliente exige cifrado y este servidor no lo admite");
    return false;
  }
  if (m->tipo == kPrelogin && n.acuerdo == Acuerdo::SinCifrar) {
    registro_("Conexión desde " + direccion_ +
              " rechazada: el cliente exige cifrado y este servidor no lo admite");
    return false;
  }
  if (m->tipo != kLogin7) throw ErrorProtocolo("se esperaba LOGIN7");
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
  // RESETCONNECTION: the session as just logged in; RESETCONNECTIONSKIPTRAN keeps the transaction.
  if ((m.estado & 0x08) && !(m.estado & 0x10) && base_.Nivel(spid_) > 0) {
    base_.Abandonar(spid_);
    descriptor_ = 0;
  }
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
  if (canal_.Atendida() && !canal_.Cerrado()) {
    Escritor a(version_);
    a.Hecho(kDone, kAtencion, 0, 0);
    canal_.Enviar(kRespuesta, a.Datos());
    canal_.AtencionRespondida();
  }
}

std::uint16_t Sesion::EnTransaccion() {
  return base_.Nivel(spid_) > 0 ? kEnTransaccion : 0;
}

void Sesion::SoltarHecho(bool mas) {
  if (!hecho_) return;
  e_.Hecho(hecho_->token, static_cast<std::uint16_t>(hecho_->estado | (mas ? kMas : 0)), 0xC1, hecho_->filas);
  hecho_.reset();
}

void Sesion::CerrarSentencia(std::uint16_t estado, std::uint64_t filas) {
  SoltarHecho(true);
  hecho_ = Hecho{rpc_ ? kDoneEnProc : kDone, static_cast<std::uint16_t>(estado | EnTransaccion()), filas};
}

void Sesion::ErrorSentencia(int numero, const std::string& texto) {
  SoltarHecho(true);
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
  const auto piezas = PartirLote(texto);
  // A batch with a statement that does not parse runs nothing, as SQL Server compiles it whole first.
  for (const auto& p : piezas) {
    if (p.k != Pieza::K::Motor) continue;
    try {
      AnalizarLote(p.texto);
    } catch (const ErrorSql& x) {
      ErrorSentencia(x.numero, x.descripcion);
      CerrarSentencia(kErrorHecho, 0);
      if (!rpc) Final();
      return;
    }
  }
  for (const auto& p : piezas) {
    if (detenido_ || cortado_) break;
    switch (p.k) {
      case Pieza::K::Set:
        CerrarSentencia(0, 0);
        break;
      case Pieza::K::Use:
        if (MismoNombre(p.nombre, base_.Nombre())) {
          SoltarHecho(true);
          e_.EnvCambio(1, base_.Nombre(), base_.Nombre());
          e_.Mensaje(5701, 0, "Changed database context to '" + base_.Nombre() + "'.", aj_.servidor);
          CerrarSentencia(0, 0);
        } else {
          ErrorSentencia(911, "Database '" + p.nombre +
                                  "' does not exist. Make sure that the name is entered correctly.");
          CerrarSentencia(kErrorHecho, 0);
        }
        break;
      case Pieza::K::Variable:
        Variable(p.nombre);
        break;
      case Pieza::K::SiTrancount: {
        const bool abierta = base_.Nivel(spid_) > 0;
        if (abierta) EjecutarMotor(p.confirmar ? "COMMIT TRANSACTION" : "ROLLBACK TRANSACTION");
        if (p.empezar && !detenido_) EjecutarMotor("BEGIN TRANSACTION");
        if (!abierta && !p.empezar) CerrarSentencia(0, 0);
        break;
      }
      case Pieza::K::Exec:
        if (Minusculas(p.nombre).starts_with("sp_datatype_info")) {
          CerrarSentencia(0, 0);
        } else {
          ErrorSentencia(2812, "Could not find stored procedure '" + p.nombre + "'.");
          CerrarSentencia(kErrorHecho, 0);
        }
        break;
      case Pieza::K::Motor:
        if (base_.Rechazada()) {
          ErrorSentencia(50000, "Sentencia rechazada a propósito por el servidor.");
          CerrarSentencia(kErrorHecho, 0);
        } else {
          EjecutarMotor(p.texto);
        }
        break;
    }
    Vaciar(false);
  }
  if (!rpc) Final();
}

void Sesion::Variable(const std::string& nombre) {
  ColumnaTds c;
  std::string v;
  c.tipo = ColumnaTds::Tipo::NVarChar;
  c.largo = 128;
  if (nombre == "@@TRANCOUNT") {
    c.tipo = ColumnaTds::Tipo::Int;
    c.nulos = false;
    v = std::to_string(base_.Nivel(spid_));
  } else if (nombre == "@@SPID") {
    c.tipo = ColumnaTds::Tipo::SmallInt;
    c.nulos = false;
    v = std::to_string(spid_);
  } else if (nombre == "@@VERSION") {
    c.largo = 300;
    v = "Microsoft SQL Server 2022 - 16.0.2000 (simulado: solvane-servidor " PAGORA_VERSION ")";
  } else if (nombre == "@@SERVERNAME") {
    v = aj_.servidor;
  } else if (nombre == "DB_NAME") {
    v = base_.Nombre();
  } else {
    ErrorSentencia(137, "Must declare the scalar variable \"" + nombre + "\".");
    CerrarSentencia(kErrorHecho, 0);
    return;
  }
  SoltarHecho(true);
  std::vector<ColumnaTds> cols{c};
  e_.Metadatos(cols);
  e_.Fila(cols, {v});
  CerrarSentencia(kCuenta, 1);
}

bool Sesion::TomarBase() {
  try {
    if (base_.Tomar(
            spid_, [this] { return !canal_.Interrumpido(); }, aj_.esperaBloqueo))
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
    if (c == Clase::Cambio && antes == 0) {
      motor.Ejecutar("BEGIN TRANSACTION");
      implicita = true;
    }
    if (c == Clase::Commit && antes == 1) base_.Grabar();
  };
  r.columnas = [&](const Resultado& res) {
    cols = Columnas(res);
    SoltarHecho(true);
    e_.Metadatos(cols);
  };
  r.valores = [&](const std::vector<simulado::Valor>& f) {
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
      CerrarSentencia(kErrorHecho, 0);
      // Conversion errors end the batch (and the emulator has ended the transaction).
      cortado_ = EsErrorConversion(fallo->numero);
      return !detenido_ && !cortado_;
    }
    CerrarSentencia(res->contadas ? kCuenta : 0,
                    static_cast<std::uint64_t>(std::max(res->filasAfectadas, 0L)));
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

void Sesion::Procedimiento(const Bytes& datos) {
  rpc_ = true;
  const Rpc r = LeerRpc(datos, e_.Desde72());
  const std::string n = Minusculas(r.nombre);
  if (r.numero == 10 || n == "sp_executesql" || n == "sys.sp_executesql" || n == "dbo.sp_executesql") {
    if (!r.sentencia || r.parametros != 1) {
      ErrorSentencia(8146, "Procedure sp_executesql has no parameters and arguments were supplied.");
      CerrarSentencia(kErrorHecho, 0);
    } else {
      Texto(*r.sentencia, true);
    }
    Final(kDoneProc);
    return;
  }
  SoltarHecho(true);
  e_.Mensaje(2812, 16, "Could not find stored procedure '" + r.nombre + "'.", aj_.servidor);
  e_.Hecho(kDoneProc, kErrorHecho, 0, 0);
  Vaciar(true);
  canal_.Terminar();
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
  Final();
}

}  // namespace simulado::tds
