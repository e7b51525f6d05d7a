// cActualiza: version code, version gate, migration chain driver, inspection helpers, statement frame.
#include "cActualiza.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "motores/Errores.h"
#include "motores/Texto.h"
#include "version.h"

namespace solvane {

namespace {

constexpr const char* kProducto = SOLVANE_NOMBRE_PRODUCTO;

// The server's answers that mean "no such thing" to a select.
constexpr long kColumnaInexistente = 207;
constexpr long kObjetoInexistente = 208;
// The server's answer to dropping a table that is not there.
constexpr long kTablaInexistente = 3376;

// The number a text starts with (leading blanks skipped, sign, digits, decimals), 0 when none.
double ValorInicial(const std::string& texto) {
  std::size_t i = texto.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  std::string numero;
  if (texto[i] == '+' || texto[i] == '-') numero += texto[i++];
  bool digitos = false;
  while (i < texto.size() && std::isdigit(static_cast<unsigned char>(texto[i])))
    numero += texto[i++], digitos = true;
  if (i < texto.size() && texto[i] == '.') {
    numero += texto[i++];
    while (i < texto.size() && std::isdigit(static_cast<unsigned char>(texto[i])))
      numero += texto[i++], digitos = true;
  }
  if (!digitos) return 0;
  return std::strtod(numero.c_str(), nullptr);
}

// To a 16-bit code, rounding to nearest with ties to even; out of range is an error (overflow 6).
std::int16_t A16Bits(double valor) {
  const double r = std::nearbyint(valor);
  if (!(r >= -32768.0 && r <= 32767.0)) throw ErrorBD(6, "Overflow");
  return static_cast<std::int16_t>(r);
}

// The pump runs the window's pending events, whose handlers are not ours: whatever they raise reaches the
// steps as ErrorBD 0 with its own text, and ends the step like a failed statement.
Bombeo ConErroresBD(Bombeo bombeo) {
  if (!bombeo) return [] {};
  return [b = std::move(bombeo)] {
    try {
      b();
    } catch (const ErrorBD&) {
      throw;
    } catch (const std::exception& e) {
      throw ErrorBD(0, e.what());
    }
  };
}

}  // namespace

std::int16_t CodigoVersion(int mayor, int menor, int revision) {
  char texto[48];
  std::snprintf(texto, sizeof texto, "%02d%02d%02d", mayor, menor, revision);
  return A16Bits(ValorInicial(texto));
}

std::string TextoDeCodigo(std::int16_t codigo) {
  const int c = std::abs(int{codigo});
  return std::string(codigo < 0 ? "-" : "") + std::to_string(c / 10000) + "." +
         std::to_string(c / 100 % 100) + "." + std::to_string(c % 100);
}

std::int16_t VersionProgramaPorDefecto() {
  return CodigoVersion(SOLVANE_VERSION_MAYOR, SOLVANE_VERSION_MENOR, SOLVANE_VERSION_REVISION);
}

VersionPrograma::VersionPrograma()
    : numeros_{SOLVANE_VERSION_MAYOR, SOLVANE_VERSION_MENOR, SOLVANE_VERSION_REVISION} {}

std::int16_t VersionPrograma::Codigo() const {
  return codigo_ ? *codigo_ : CodigoVersion(numeros_[0], numeros_[1], numeros_[2]);
}

cActualiza::cActualiza(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, Bombeo bombeo,
                       std::int16_t versionPrograma)
    : bd_(bd),
      mensajes_(mensajes),
      progreso_(progreso),
      bombeo_(ConErroresBD(std::move(bombeo))),
      iVersionPrograma_(versionPrograma) {}

// A missing table or column, or a value out of range, counts as an older database: the operator is
// asked and the chain starts from iVersionBD. A query that failed for any other reason (connection lost,
// timeout, permission) is raised instead: treating it as older would offer to run the whole chain on a
// database that may well be newer.
//
// A Parametros without rows is refused with ErrorBD 3021 before anything is asked or changed: the chain
// would run to the end and the final update, touching no row, would record no version, so every later run
// would start the chain again on a migrated database and fail.
bool cActualiza::VersionActual(bool& bActSistema, std::string& sVersionBD) {
  bActSistema = false;
  std::string valor;
  bool hayFila = false;
  if (!LeerCampo("Parametros", "PAR_Version", valor, hayFila)) return false;
  if (!hayFila)
    throw ErrorBD(kErrorSinFila,
                  "No se puede leer la versión de la base de datos: la tabla Parametros no tiene filas. "
                  "No se hizo ningún cambio.");
  try {
    iVersionBD_ = A16Bits(ValorInicial(valor));
  } catch (const ErrorBD&) {
    return false;
  }
  sVersionBD = valor;
  if (corrida_) corrida_->versionBD = iVersionBD_;
  if (iVersionPrograma_ == iVersionBD_) return true;
  if (iVersionPrograma_ < iVersionBD_) bActSistema = true;
  return false;
}

// Errors are not caught here: they end the run through the caller's error path.
bool cActualiza::ActualizaVersion() {
  bool bActSistema = false;
  std::string sVersionBD;
  if (VersionActual(bActSistema, sVersionBD)) return true;
  if (bActSistema) {
    mensajes_.Mostrar(std::string("DEBE ACTUALIZAR ") + kProducto + " a VERSION " + sVersionBD + "\r\n" +
                          "VERSION ACTUAL DEL SISTEMA " + std::to_string(iVersionPrograma_),
                      kEstiloStop);
    return false;
  }
  const int respuesta = mensajes_.Mostrar(
      std::string(
          "ATENCIÓN .- LAS BASES DE DATOS DEL SISTEMA NO ESTAN ACTUALIZADAS ACORDE A LA VERSION QUE ESTA "
          "EJECUTANDO.") +
          "\r\n" + "DESEA ACTUALIZAR EL SISTEMA AHORA ??",
      kEstiloPregunta);
  if (corrida_) corrida_->respuesta = respuesta;
  if (respuesta != kRespuestaSi) return false;
  if (ActualizaBaseDatos()) return true;
  mensajes_.Mostrar(std::string("LA ACTUALIZACION DE BASE DE DATOS DEL SISTEMA NO SE HA PODIDO REALIZAR. ") +
                        "EL SISTEMA NO PUEDE EJECUTARSE",
                    kEstiloStop);
  return false;
}

struct cActualiza::Eslabon {
  std::int16_t desde;
  std::int16_t desdeOtro;  // the second from-code of a row, or the same code
  const char* etiqueta;
  void (cActualiza::*paso)(bool&);
  std::int16_t hacia;
};

// The chain: from-code(s), caption, step, code left behind. No steps exist to 2.5.8, 2.5.12 or 2.5.13.
const cActualiza::Eslabon* cActualiza::BuscarEslabon(std::int16_t actual) {
  static const Eslabon cadena[] = {
      {0, 0, "Actualizando Version a 2.5.0", &cActualiza::ActualizarA2_5_0, 20500},
      {20500, 20500, "Actualizando Version a 2.5.1", &cActualiza::ActualizarA2_5_1, 20501},
      {20501, 20501, "Actualizando Version a 2.5.2", &cActualiza::ActualizarA2_5_2, 20502},
      {20502, 20502, "Actualizando Version a 2.5.3", &cActualiza::ActualizarA2_5_3, 20503},
      {20503, 20503, "Actualizando Version a 2.5.4", &cActualiza::ActualizarA2_5_4, 20504},
      {20504, 20504, "Actualizando Version a 2.5.5", &cActualiza::ActualizarA2_5_5, 20505},
      {20505, 20505, "Actualizando Version a 2.5.6", &cActualiza::ActualizarA2_5_6, 20506},
      {20506, 20506, "Actualizando Version a 2.5.7", &cActualiza::ActualizarA2_5_7, 20507},
      {20507, 20508, "Actualizando Version a 2.5.9", &cActualiza::ActualizarA2_5_9, 20509},
      {20509, 20509, "Actualizando Version a 2.5.10", &cActualiza::ActualizarA2_5_10, 20510},
      {20510, 20510, "Actualizando Version a 2.5.11", &cActualiza::ActualizarA2_5_11, 20511},
      {20511, 20512, "Actualizando Version a 2.5.14", &cActualiza::ActualizarA2_5_14, 20514},
      {20514, 20514, "Actualizando Version a 2.5.15", &cActualiza::ActualizarA2_5_15, 20515},
      {20515, 20515, "Actualizando Version a 2.5.16", &cActualiza::ActualizarA2_5_16, 20516},
      {20516, 20516, "Actualizando Version a 3.0.0", &cActualiza::ActualizarA3_0_0, 30000},
      {30000, 30000, "Actualizando Version a 3.0.1", &cActualiza::ActualizarA3_0_1, 30001},
      {30001, 30001, "Actualizando Version a 3.0.2", &cActualiza::ActualizarA3_0_2, 30002},
      {30002, 30002, "Actualizando Version a 3.0.3", &cActualiza::ActualizarA3_0_3, 30003},
      {30003, 30003, "Actualizando Version a 3.0.4", &cActualiza::ActualizarA3_0_4, 30004},
      {30004, 30004, "Actualizando Version a 3.0.5", &cActualiza::ActualizarA3_0_5, 30005},
      {30005, 30005, "Actualizando Version a 3.0.6", &cActualiza::ActualizarA3_0_6, 30006},
      {30006, 30006, "Actualizando Version a 3.0.7", &cActualiza::ActualizarA3_0_7, 30007},
      {30007, 30007, "Actualizando Version a 3.0.8", &cActualiza::ActualizarA3_0_8, 30008},
      {30008, 30008, "Actualizando Version a 3.0.9", &cActualiza::ActualizarA3_0_9, 30009},
      {30009, 30009, "Actualizando Version a 3.1.0", &cActualiza::ActualizarA3_1_0, 30100},
  };
  for (const auto& e : cadena)
    if (e.desde == actual || e.desdeOtro == actual) return &e;
  return nullptr;
}

// Runs the chain from iVersionBD up to the program's version in one transaction (see BuscarEslabon).
bool cActualiza::ActualizaBaseDatos() {
  progreso_.Mostrar();
  bd_.IniciarTransaccion();
  std::int16_t actual = iVersionBD_;
  bool ok = true;
  while (actual != iVersionPrograma_ && ok) {
    if (const Eslabon* eslabon = BuscarEslabon(actual)) {
      progreso_.Etiqueta(eslabon->etiqueta);
      if (corrida_) corrida_->pasos.push_back({actual, eslabon->hacia, eslabon->etiqueta});
      auto reemplazo = pasosReemplazados_.find(eslabon->desde);
      if (reemplazo == pasosReemplazados_.end()) reemplazo = pasosReemplazados_.find(eslabon->desdeOtro);
      if (reemplazo != pasosReemplazados_.end())
        reemplazo->second(ok);
      else
        (this->*(eslabon->paso))(ok);
      actual = eslabon->hacia;
    } else if (actual < iVersionPrograma_) {
      // A code this program has no step from: stamping it current would hide the steps it never received.
      mensajes_.Mostrar("VERSION DE BASE DE DATOS NO RECONOCIDA : " + std::to_string(actual), kEstiloStop);
      ok = false;
    } else {
      actual = iVersionPrograma_;
      ok = true;
    }
  }
  if (ok) ok = GrabarVersion();
  if (ok) {
    bd_.ConfirmarTransaccion();
    if (corrida_) corrida_->grabada = true;
  } else {
    bd_.CancelarTransaccion();
  }
  progreso_.Descargar();
  bombeo_();
  return ok;
}

std::vector<PasoPendiente> cActualiza::Pendientes(bool& reconocida) const {
  std::vector<PasoPendiente> pasos;
  reconocida = true;
  for (std::int16_t actual = iVersionBD_; actual != iVersionPrograma_;) {
    const Eslabon* eslabon = BuscarEslabon(actual);
    if (!eslabon) {
      reconocida = actual > iVersionPrograma_;
      break;
    }
    pasos.push_back({actual, eslabon->hacia, eslabon->etiqueta});
    actual = eslabon->hacia;
  }
  return pasos;
}

bool cActualiza::GrabarVersion() {
  try {
    Ejecutar("UpDate Parametros Set PAR_Version = " + std::to_string(iVersionPrograma_));
    return true;
  } catch (const ErrorBD& e) {
    mensajes_.Mostrar("ERROR de Actualización : " + std::to_string(e.Numero) + " " + e.Descripcion,
                      kEstiloStop, e.Numero);
    return false;
  }
}

void cActualiza::Ejecutar(const std::string& sentencia) {
  EjecutarSinBombeo(sentencia);
  bombeo_();
}

void cActualiza::EjecutarSinBombeo(const std::string& sentencia) {
  bd_.Ejecutar(sentencia);
}

void cActualiza::EnTransaccion(const char* version, bool& ok, const std::function<void()>& cuerpo) {
  try {
    bd_.IniciarTransaccion();
    cuerpo();
    bd_.ConfirmarTransaccion();
    ok = true;
  } catch (const ErrorBD& e) {
    mensajes_.Mostrar(std::string("ERROR de Actualización a Version ") + version + " " + "\r\n" +
                          std::to_string(e.Numero) + " " + e.Descripcion,
                      kEstiloStop, e.Numero);
    bd_.CancelarTransaccion();
    ok = false;
  }
}

// The existence tests answer "not there" only when the server says so: for ExisteCampo errors 207 (no
// such column) and 208 (no such table), for the others a catalogue query with no row. Any other failure
// (connection lost, timeout, deadlock, permission, a malformed name) is raised to the calling step: read
// as "not there", it would make the step skip its change silently and the run end as if complete.

// An empty table still has the column; the value is left alone then, and a Null reads as empty text.
bool cActualiza::ExisteCampo(const std::string& tabla, const std::string& campo, std::string& valor) {
  bool hayFila = false;
  return LeerCampo(tabla, campo, valor, hayFila);
}

bool cActualiza::LeerCampo(const std::string& tabla, const std::string& campo, std::string& valor,
                           bool& hayFila) {
  try {
    const Recordset rs = bd_.Consultar("Select " + campo + " From " + tabla);
    hayFila = rs.HayFila();
    if (hayFila) valor = rs.Campo(campo).value_or("");
    return true;
  } catch (const ErrorBD& e) {
    if (e.Numero == kColumnaInexistente || e.Numero == kObjetoInexistente) return false;
    throw;
  }
}

// No error handler: a failing query, or a Null without the clause, reaches the calling step.
// Table and column are taken by value, as callers pass temporaries and literals.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::string cActualiza::ObtenerCollation(std::string tabla, std::string campo, bool conClausula) {
  const Recordset rs =
      bd_.Consultar("Select Collation_name from information_schema.columns where table_name = '" + tabla +
                    "' And Column_name = '" + campo + "'");
  if (!rs.HayFila()) return {};
  // Trimmed of spaces only: any other blank stays part of the name.
  const ValorCampo v = rs.Campo(std::size_t{0});
  if (conClausula) return "COLLATE " + Recortar(v.value_or(""), kEspacios);
  if (!v) throw ErrorBD(94, "Invalid use of Null");
  return Recortar(*v, kEspacios);
}

bool HayFila(cBaseDatos& bd, const std::string& sentencia) {
  return bd.Consultar(sentencia).HayFila();
}

bool cActualiza::ExisteTabla(const std::string& tabla) {
  return HayFila(bd_, "Select Name From sysobjects  Where Xtype = 'U' And Name = '" + tabla + "'");
}

bool cActualiza::ExisteVista(const std::string& vista) {
  return HayFila(bd_, "Select Name From sysobjects  Where Xtype = 'V' And Name = '" + vista + "'");
}

bool cActualiza::ExisteIndice(const std::string& tabla, const std::string& indice) {
  return HayFila(bd_, "SELECT * FROM Sysindexes Where name = '" + indice + "'" +
                          " And Id=(Select id From Sysobjects Where name='" + tabla + "')");
}

// A table already gone (3376) counts as dropped; any other failure is told here.
bool cActualiza::EliminarTabla(const std::string& tabla) {
  try {
    Ejecutar("DROP TABLE " + tabla);
    return true;
  } catch (const ErrorBD& e) {
    if (e.Numero == kTablaInexistente) return true;
    mensajes_.Mostrar(" ERROR : " + std::to_string(e.Numero) + "  " + e.Descripcion, kEstiloStop, e.Numero);
    return false;
  }
}

// The code is quoted in the select (compared as text) and bare in the insert (the server converts it).
void AgregarSeguridad(cBaseDatos& bd, const std::string& codigo, const std::string& descripcion,
                      std::uint8_t nivel, bool editable) {
  if (HayFila(bd, "Select * From Seguridad Where Seg_Codigo ='" + codigo + "'")) return;
  bd.Ejecutar("Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( " + codigo + ", '" +
              descripcion + "'," + std::to_string(static_cast<unsigned>(nivel)) + "," +
              (editable ? "1" : "0") + ")");
}

}  // namespace solvane
