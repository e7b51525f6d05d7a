// The console front end: options, terminal messages, and the run.
#include "Consola.h"

#include <iostream>
#include <stdexcept>

#include "nucleo/Conexion.h"
#include "nucleo/Ensayo.h"
#include "nucleo/Proceso.h"
#include "version.h"

namespace solvane {

namespace {

// The messages carry CR LF line breaks meant for a message box.
std::string SinRetornos(const std::string& texto) {
  std::string r;
  for (char c : texto)
    if (c != '\r') r += c;
  return r;
}

int ProbarConexion(cBaseDatos& bd, cMensajes& mensajes, std::ostream& salida) {
  const std::string archivo = LocalizarConexion(bd, mensajes);
  if (archivo.empty() || !bd.Conectar()) return 1;
  salida << "Archivo de conexion: " << archivo << "\n";
  salida << "Servidor: " << OcultarClaves(bd.MotorActual()->NombreServidor()) << "\n";
  try {
    const Recordset rs = bd.Consultar("Select PAR_Version From Parametros");
    if (rs.HayFila())
      salida << "PAR_Version: " << rs.Campo(std::size_t{0}).value_or("(Null)") << "\n";
    else
      salida << "PAR_Version: (Parametros no tiene filas)\n";
  } catch (const ErrorBD& e) {
    salida << "PAR_Version: no se puede leer (" << e.Numero << " " << OcultarClaves(e.Descripcion) << ")\n";
  }
  CerrarBaseDatos(bd);
  return 0;
}

}  // namespace

PresentadorConsola::PresentadorConsola(std::istream& entrada, std::ostream& salida, std::ostream& errores,
                                       std::optional<int> respuestaFija)
    : entrada_(entrada), salida_(salida), errores_(errores), respuestaFija_(respuestaFija) {}

int PresentadorConsola::Mostrar(const std::string& titulo, const std::string& texto, int estilo) {
  (void)titulo;
  const std::string linea = SinRetornos(texto);
  if (estilo == kEstiloStop || estilo == kEstiloExclamacion) {
    errores_ << linea << std::endl;
    return kRespuestaAceptar;
  }
  salida_ << linea << std::endl;
  if (estilo != kEstiloPregunta) return kRespuestaAceptar;
  if (respuestaFija_) {
    salida_ << (*respuestaFija_ == kRespuestaSi ? "S" : "N") << std::endl;
    return *respuestaFija_;
  }
  // An answer that is neither S nor N is asked again; the end of the input means No.
  std::string respuesta;
  for (;;) {
    salida_ << "(S/N) " << std::flush;
    if (!std::getline(entrada_, respuesta)) {
      salida_ << std::endl;
      return kRespuestaNo;
    }
    const auto ini = respuesta.find_first_not_of(" \t\r");
    const char c = ini == std::string::npos ? '\0' : respuesta[ini];
    if (c == 'S' || c == 's') return kRespuestaSi;
    if (c == 'N' || c == 'n') return kRespuestaNo;
  }
}

void ProgresoConsola::Etiqueta(const std::string& texto) {
  salida_ << texto << std::endl;
}

OpcionesConsola LeerOpciones(const std::vector<std::string>& argumentos) {
  OpcionesConsola o;
  for (std::size_t i = 0; i < argumentos.size(); ++i) {
    const std::string& a = argumentos[i];
    auto valor = [&](const char* nombre) {
      if (i + 1 >= argumentos.size() || argumentos[i + 1].empty())
        throw std::invalid_argument(std::string("falta el archivo despues de ") + nombre);
      return argumentos[++i];
    };
    if (a == "--consola")
      o.consola = true;
    else if (a == "--version")
      o.version = true;
    else if (a == "--help" || a == "--ayuda" || a == "-h")
      o.ayuda = true;
    else if (a == "--probar-conexion")
      o.probar = true;
    else if (a == "--ensayar")
      o.ensayar = true;
    else if (a == "--copia")
      o.copia = valor("--copia");
    else if (a == "--si" || a == "--no") {
      const int r = a == "--si" ? kRespuestaSi : kRespuestaNo;
      if (o.respuesta && *o.respuesta != r) throw std::invalid_argument("--si y --no no van juntas");
      o.respuesta = r;
    } else if (a == "--conexion")
      o.conexion = valor("--conexion");
    else if (a == "--registro")
      o.registro = valor("--registro");
    else
      throw std::invalid_argument("opcion desconocida: " + a);
  }
  if (!o.consola && !o.version && !o.ayuda && (o.probar || o.respuesta || !o.registro.empty()))
    throw std::invalid_argument("--si, --no, --registro y --probar-conexion van con --consola");
  if (!o.copia.empty() && !(o.ensayar && o.consola))
    throw std::invalid_argument("--copia va con --consola --ensayar");
  if (o.ensayar && (o.probar || o.respuesta))
    throw std::invalid_argument(
        "--ensayar no pregunta ni se limita a conectar: no va con --si, --no ni "
        "--probar-conexion");
  return o;
}

bool PideConsola(const std::vector<std::string>& argumentos) {
  // The window takes only --conexion F and --ensayar; anything else is the console's to run or refuse.
  for (std::size_t i = 0; i < argumentos.size(); ++i) {
    if (argumentos[i] == "--ensayar") continue;
    if (argumentos[i] == "--conexion" && i + 1 < argumentos.size() && !argumentos[i + 1].empty()) {
      ++i;
      continue;
    }
    return true;
  }
  return false;
}

std::string TextoAyuda() {
  return "Uso: solvane [--conexion ARCHIVO]\n"
         "     solvane --consola [--si | --no] [--conexion ARCHIVO] [--registro ARCHIVO] "
         "[--probar-conexion]\n"
         "     solvane --consola --ensayar [--conexion ARCHIVO] [--registro ARCHIVO] [--copia ARCHIVO]\n"
         "     solvane --ensayar [--conexion ARCHIVO]      ensayo en la ventana\n"
         "     solvane --version | --help\n"
         "\n"
         "Lleva la base de datos del cliente Pagora a la version de este programa.\n"
         "\n"
         "  --consola          trabaja sin ventanas: los mensajes van a la terminal\n"
         "  --si, --no         respuesta a la pregunta de actualizar (sin ellas se pregunta S/N)\n"
         "  --conexion ARCHIVO archivo de conexion a usar (si no, se busca PagoraCliente.conexion en\n"
         "                     $PAGORA_CONEXION, la carpeta del programa, la carpeta de trabajo,\n"
         "                     $XDG_CONFIG_HOME/pagora y /etc/pagora)\n"
         "  --registro ARCHIVO agrega a ARCHIVO cada sentencia de la actualizacion, cada orden de\n"
         "                     transaccion y cada error (no las consultas propias del motor ODBC, como\n"
         "                     SELECT @@TRANCOUNT)\n"
         "  --probar-conexion  solo conecta y muestra el servidor y la version grabada\n"
         "  --ensayar          copia la base (solo la lee) en el motor simulado, ejecuta alli la\n"
         "                     actualizacion y dice si terminaria bien, sin cambiar la base real\n"
         "  --copia ARCHIVO    con --ensayar, graba la copia (antes de actualizarla) como base simulada\n"
         "\n"
         "Salida: 0 la base queda actualizada (con --ensayar: quedaria, o ya lo esta), 1 si no, 2 error de\n"
         "uso.\n";
}

int PrincipalConsola(const std::vector<std::string>& argumentos, std::istream& entrada, std::ostream& salida,
                     std::ostream& errores, cBaseDatos& bd, cMensajes& mensajes) {
  OpcionesConsola o;
  try {
    o = LeerOpciones(argumentos);
  } catch (const std::invalid_argument& e) {
    errores << "solvane: " << e.what() << "\n" << TextoAyuda();
    return 2;
  }
  if (o.ayuda) {
    salida << TextoAyuda();
    return 0;
  }
  if (o.version) {
    salida << SOLVANE_NOMBRE_PRODUCTO << " " << SOLVANE_VERSION_MAYOR << "." << SOLVANE_VERSION_MENOR << "."
           << SOLVANE_VERSION_REVISION << "\n";
    return 0;
  }
  mensajes.FijarPresentador(std::make_shared<PresentadorConsola>(entrada, salida, errores, o.respuesta));
  bd.Mensajes(&mensajes);
  bd.ArchivoExplicito(o.conexion);
  if (o.ensayar) {
    OpcionesEnsayo opciones;
    opciones.registro = o.registro;
    opciones.copia = o.copia;
    ProgresoConsola progreso(salida);
    const InformeEnsayo informe = Ensayar(bd, mensajes, progreso, opciones);
    salida << TextoInforme(informe) << std::flush;
    return EstadoEnsayo(informe);
  }
  try {
    bd.Registro(o.registro);
  } catch (const ErrorBD& e) {
    errores << "solvane: " << e.Descripcion << "\n";
    return 2;
  }
  if (o.probar) return ProbarConexion(bd, mensajes, salida);
  ProgresoConsola progreso(salida);
  return EjecutarProceso(bd, mensajes, progreso, Bombeo([] {})) ? 0 : 1;
}

}  // namespace solvane
