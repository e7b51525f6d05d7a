// cBaseDatos: connection, statements, transaction nesting, statement record.
#include "cBaseDatos.h"

#include <fstream>

#include "Conexion.h"
#include "cMensajes.h"
#include "motores/Errores.h"
#include "motores/Texto.h"

namespace solvane {

ValorCampo Recordset::Campo(const std::string& nombre) const {
  for (std::size_t i = 0; i < datos_.Columnas.size(); ++i)
    if (IgualSinCaso(datos_.Columnas[i], nombre)) return Campo(i);
  throw ErrorCampoInexistente();
}

ValorCampo Recordset::Campo(std::size_t posicion) const {
  if (!datos_.Fila) throw ErrorSinFilaActual();
  if (posicion >= datos_.Fila->size()) throw ErrorCampoInexistente();
  return (*datos_.Fila)[posicion];
}

struct cBaseDatos::Impl {
  FabricaMotor fabrica;
  std::string nombreAplicacion;
  std::string cargada;  // by CargarSQL, for EjecutarSQL and AbrirConsulta
  bool opcion1 = false;
  bool opcion2 = true;
  std::string texto;
  std::string explicito;
  std::string archivo;
  std::ofstream registro;
  cMensajes* mensajes = nullptr;
  std::unique_ptr<MotorBD> inyectado;
  std::unique_ptr<MotorBD> propio;
  std::function<std::unique_ptr<MotorBD>(std::unique_ptr<MotorBD>)> envolver;
  MotorBD* motor = nullptr;
  int nivel = 0;
  // The server ended the transaction on its own while we still had levels open: everything until the
  // outermost cancel is refused, and the outermost confirm fails, so that no later statement runs outside
  // the transaction and no run is reported as saved when it was not.
  bool condenada = false;

  void Anotar(const std::string& linea) {
    if (registro.is_open()) registro << linea << '\n' << std::flush;
  }
  void AnotarError(const ErrorBD& e) {
    Anotar("-- ERROR " + std::to_string(e.Numero) + " " + OcultarClaves(e.Descripcion));
  }
  cMensajes& Msj() { return mensajes ? *mensajes : solvane::Mensajes(); }

  MotorBD& Motor() {
    if (!motor) throw ErrorObjetoCerrado();
    return *motor;
  }

  // Runs `sentencia` through `hacer`, with the record and the nesting bookkeeping around it.
  template <typename F>
  auto Correr(const std::string& sentencia, F&& hacer) {
    Anotar(sentencia);
    try {
      if (condenada) throw ErrorTransaccionCondenada();
      return hacer(Motor());
    } catch (const ErrorBD& e) {
      AnotarError(e);
      if (nivel > 0 && motor && !motor->TransaccionAbierta()) condenada = true;
      throw;
    }
  }
};

cBaseDatos::cBaseDatos() : cBaseDatos(CrearMotor) {}

cBaseDatos::cBaseDatos(FabricaMotor fabrica) : impl_(std::make_unique<Impl>()) {
  impl_->fabrica = std::move(fabrica);
}

cBaseDatos::~cBaseDatos() {
  Desconectar();
}

void cBaseDatos::NombreAplicacion(const std::string& nombre) {
  impl_->nombreAplicacion = nombre;
}

void cBaseDatos::CargarSQL(const std::string& sentencia) {
  impl_->cargada = sentencia;
}

// Only the outermost level reaches the engine; a failure there is raised (the work that follows must not
// run outside a transaction), inner levels never raise.
bool cBaseDatos::IniciarTransaccion() {
  auto& d = *impl_;
  d.Anotar("BEGIN TRANSACTION");
  if (d.nivel == 0) {
    try {
      d.Motor().Comenzar();
    } catch (const ErrorBD& e) {
      d.AnotarError(e);
      throw;
    }
  }
  ++d.nivel;
  return true;
}

// Inner confirms only count down: SQL Server makes work durable at the outermost commit alone. A failed
// outermost commit is raised: the run must not be reported as saved.
bool cBaseDatos::ConfirmarTransaccion() {
  auto& d = *impl_;
  d.Anotar("COMMIT TRANSACTION");
  if (d.nivel == 0) return false;
  if (--d.nivel > 0) return true;
  try {
    if (d.condenada) {
      d.condenada = false;
      if (d.motor) d.motor->Deshacer();
      throw ErrorTransaccionCondenada();
    }
    d.Motor().Confirmar();
  } catch (const ErrorBD& e) {
    d.AnotarError(e);
    if (d.motor) d.motor->Deshacer();  // nothing may stay half-open behind a failed commit
    throw;
  }
  return true;
}

bool cBaseDatos::EjecutarSQL() {
  Ejecutar(impl_->cargada);
  return true;
}

void cBaseDatos::Ejecutar(const std::string& sentencia) {
  impl_->Correr(sentencia, [&](MotorBD& m) { m.Ejecutar(sentencia); });
}

Recordset cBaseDatos::Consultar(const std::string& sentencia) {
  return impl_->Correr(sentencia, [&](MotorBD& m) { return Recordset(m.Consultar(sentencia)); });
}

// A cancel at any depth undoes everything, as SQL Server's ROLLBACK does.
bool cBaseDatos::CancelarTransaccion() {
  auto& d = *impl_;
  d.Anotar("ROLLBACK TRANSACTION");
  if (d.nivel == 0) return false;
  d.nivel = 0;
  d.condenada = false;
  if (d.motor) d.motor->Deshacer();
  return true;
}

bool cBaseDatos::Conectar() {
  auto& d = *impl_;
  Desconectar();
  try {
    if (d.inyectado) {
      d.inyectado->Conectar();
      d.motor = d.inyectado.get();
      return true;
    }
    const std::string archivo = d.archivo;
    std::unique_ptr<MotorBD> motor = d.fabrica ? d.fabrica(archivo, d.Msj()) : nullptr;
    if (!motor) throw ErrorBD(0, "Archivo de conexión " + archivo + ": no se pudo crear el motor");
    if (d.envolver) motor = d.envolver(std::move(motor));
    motor->Conectar();
    d.propio = std::move(motor);
    d.motor = d.propio.get();
    return true;
  } catch (const ErrorBD& e) {
    d.propio.reset();
    d.Msj().Mostrar(OcultarClaves("No se pudo conectar a la base de datos: " + std::to_string(e.Numero) +
                                  " " + e.Descripcion),
                    kEstiloStop, e.Numero);
    return false;
  }
}

// OpcionConexion2 False limits the search to the explicit path and TextoConexion; TextoConexion names
// the file to look for instead of PagoraCliente.conexion (a path when it holds a '/').
void cBaseDatos::BuscarArchivoConexion() {
  auto& d = *impl_;
  LugaresConexion l = LugaresDelProceso();
  l.explicito = d.explicito;
  if (!d.texto.empty()) {
    if (d.texto.find('/') != std::string::npos && l.explicito.empty())
      l.explicito = d.texto;
    else
      l.nombre = d.texto;
  }
  l.soloExplicito = !d.opcion2;
  d.archivo = BuscarConexion(l);
  // OpcionConexion1 True: the component itself tells the operator when nothing was found.
  if (d.archivo.empty() && d.opcion1)
    d.Msj().Mostrar("No se encontró el archivo de conexión " + l.nombre, kEstiloExclamacion);
}

bool cBaseDatos::AbrirConsulta(Recordset& rs, long& opciones) {
  (void)opciones;
  rs = Consultar(impl_->cargada);
  return rs.HayFila();
}

bool cBaseDatos::Desconectar() noexcept {
  auto& d = *impl_;
  d.nivel = 0;
  d.condenada = false;
  if (!d.motor) return false;
  d.motor->Desconectar();
  d.motor = nullptr;
  d.propio.reset();
  return true;
}

void cBaseDatos::OpcionConexion1(bool valor) {
  impl_->opcion1 = valor;
}
void cBaseDatos::OpcionConexion2(bool valor) {
  impl_->opcion2 = valor;
}
void cBaseDatos::TextoConexion(const std::string& valor) {
  impl_->texto = valor;
}
std::string cBaseDatos::ArchivoConexion() const {
  return impl_->archivo;
}

void cBaseDatos::ArchivoExplicito(const std::string& ruta) {
  impl_->explicito = ruta;
}

void cBaseDatos::Registro(const std::string& ruta) {
  auto& d = *impl_;
  if (d.registro.is_open()) d.registro.close();
  if (ruta.empty()) return;
  // Appended: the audit trail of earlier runs is kept.
  d.registro.open(ruta, std::ios::app | std::ios::binary);
  if (!d.registro) throw ErrorBD(errno, "No se puede abrir el registro " + ruta);
}

void cBaseDatos::Mensajes(cMensajes* mensajes) {
  impl_->mensajes = mensajes;
}

void cBaseDatos::Motor(std::unique_ptr<MotorBD> motor) {
  Desconectar();
  impl_->inyectado = std::move(motor);
}

void cBaseDatos::Envoltorio(std::function<std::unique_ptr<MotorBD>(std::unique_ptr<MotorBD>)> envolver) {
  impl_->envolver = std::move(envolver);
}

MotorBD* cBaseDatos::MotorActual() const {
  return impl_->motor;
}
int cBaseDatos::NivelTransaccion() const {
  return impl_->nivel;
}
bool cBaseDatos::Conectado() const {
  return impl_->motor != nullptr;
}

cBaseDatos& BaseDatos() {
  static cBaseDatos instancia;
  return instancia;
}

}  // namespace solvane
