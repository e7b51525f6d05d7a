// The console front end: options, terminal messages, and the run.
#include "Consola.h"

#include <chrono>
#include <iostream>
#include <stdexcept>

#include "nucleo/Conexion.h"
#include "nucleo/Ensayo.h"
#include "nucleo/Desenlace.h"
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

class SinProgreso : public Progreso {
 public:
  void Mostrar() override {}
  void Etiqueta(const std::string&) override {}
  void Descargar() override {}
};

// The version as the gate reads it, and the steps a run would take from there, changing nothing.
void MostrarPendientes(cBaseDatos& bd, cMensajes& mensajes, std::ostream& salida) {
  SinProgreso progreso;
  cActualiza actualiza(bd, mensajes, progreso, Bombeo([] {}));
  bool mayor = false;
  std::string leida;
  const bool alDia = actualiza.VersionActual(mayor, leida);
  const std::string programa = TextoDeCodigo(actualiza.iVersionPrograma());
  if (leida.empty())
    salida << "PAR_Version: sin valor legible (una actualización empieza por el primer paso)\n";
  else
    salida << "PAR_Version: " << leida << " (" << TextoDeCodigo(actualiza.iVersionBD()) << ")\n";
  salida << "Versión del programa: " << programa << "\n";
  if (alDia) {
    salida << "Pasos pendientes: ninguno, la base está al día\n";
  } else if (mayor) {
    salida << "Pasos pendientes: ninguno; la base es de una versión posterior y el programa no la acepta\n";
  } else {
    bool reconocida = true;
    const std::vector<PasoPendiente> pasos = actualiza.Pendientes(reconocida);
    salida << "Pasos pendientes (" << pasos.size() << "):\n";
    for (const PasoPendiente& p : pasos)
      salida << "  " << TextoDeCodigo(p.desde) << " → " << TextoDeCodigo(p.hacia) << "  " << p.etiqueta
             << "\n";
    if (!reconocida)
      salida << "  la actualización se detendría en "
             << TextoDeCodigo(pasos.empty() ? actualiza.iVersionBD() : pasos.back().hacia)
             << ": el programa no tiene paso desde esa versión\n";
  }
}

int ProbarConexion(cBaseDatos& bd, cMensajes& mensajes, std::ostream& salida) {
  const std::string archivo = LocalizarConexion(bd, mensajes);
  if (archivo.empty() || !bd.Conectar()) return 1;
  salida << "Archivo de conexión: " << archivo << "\n";
  salida << "Servidor: " << OcultarClaves(bd.MotorActual()->NombreServidor()) << "\n";
  try {
    MostrarPendientes(bd, mensajes, salida);
  } catch (const ErrorBD& e) {
    salida << "PAR_Version: no se puede leer (" << e.Numero << " " << OcultarClaves(e.Descripcion) << ")\n";
  }
  CerrarBaseDatos(bd);
  return 0;
}

// A run that also ends with its outcome as one JSON object on `salida` (the messages went elsewhere).
int EjecutarConDesenlace(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, std::ostream& salida) {
  const auto inicio = std::chrono::steady_clock::now();
  Corrida corrida;
  std::vector<Aviso> avisos;
  mensajes.Anotar(&avisos);
  const bool finalizado = EjecutarProceso(bd, mensajes, progreso, Bombeo([] {}), VersionPrograma(),
                                          [&](cActualiza& a) { a.Anotar(&corrida); });
  mensajes.Anotar(nullptr);
  const std::chrono::duration<double> duracion = std::chrono::steady_clock::now() - inicio;
  salida << DesenlaceJson(Resumir(finalizado, corrida, avisos, VersionPrograma().Codigo(), duracion.count()))
         << std::flush;
  return finalizado ? 0 : 1;
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
    auto valor = [&](const char* nombre, const char* falta = "el archivo") {
      if (i + 1 >= argumentos.size() || argumentos[i + 1].empty())
        throw std::invalid_argument(std::string("falta ") + falta + " después de " + nombre);
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
    else if (a == "--salida") {
      const std::string formato = valor("--salida", "el formato (json o texto)");
      if (formato != "json" && formato != "texto")
        throw std::invalid_argument("--salida es json o texto, no " + formato);
      o.json = formato == "json";
    } else
      throw std::invalid_argument("opción desconocida: " + a);
  }
  if (!o.consola && !o.version && !o.ayuda && (o.probar || o.respuesta || !o.registro.empty() || o.json))
    throw std::invalid_argument("--si, --no, --registro, --salida y --probar-conexion van con --consola");
  if (o.json && o.probar)
    throw std::invalid_argument("--salida json es para una actualización, no con --probar-conexion");
  if (!o.copia.empty() && !(o.ensayar && o.consola))
    throw std::invalid_argument("--copia va con --consola --ensayar");
  if (o.ensayar && (o.probar || o.respuesta || o.json))
    throw std::invalid_argument(
        "--ensayar no pregunta, no se limita a conectar y da su propio informe: no va con --si, --no, "
        "--probar-conexion ni --salida json");
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
         "[--salida json]\n"
         "     solvane --consola [--conexion ARCHIVO] --probar-conexion\n"
         "     solvane --consola --ensayar [--conexion ARCHIVO] [--registro ARCHIVO] [--copia ARCHIVO]\n"
         "     solvane --ensayar [--conexion ARCHIVO]      ensayo en la ventana\n"
         "     solvane --version | --help\n"
         "\n"
         "Lleva la base de datos del cliente Pagora a la versión de este programa.\n"
         "\n"
         "  --consola          trabaja sin ventanas: los mensajes van a la terminal\n"
         "  --si, --no         respuesta a la pregunta de actualizar (sin ellas se pregunta S/N)\n"
         "  --conexion ARCHIVO archivo de conexión a usar (si no, se busca PagoraCliente.conexion en\n"
         "                     $PAGORA_CONEXION, la carpeta del programa, la carpeta de trabajo,\n"
         "                     $XDG_CONFIG_HOME/pagora y /etc/pagora)\n"
         "  --registro ARCHIVO agrega a ARCHIVO cada sentencia de la actualización, cada orden de\n"
         "                     transacción y cada error (no las consultas propias del motor ODBC, como\n"
         "                     SELECT @@TRANCOUNT)\n"
         "  --salida json      al final, el resultado en un objeto JSON en la salida estándar (los\n"
         "                     mensajes van entonces a la salida de errores)\n"
         "  --probar-conexion  solo conecta y muestra el servidor, la versión grabada y los pasos que\n"
         "                     aplicaría una actualización, sin cambiar nada\n"
         "  --ensayar          copia la base (sólo la lee) en el motor simulado, ejecuta allí la\n"
         "                     actualización y dice si terminaría bien, sin cambiar la base real\n"
         "  --copia ARCHIVO    con --ensayar, graba la copia (antes de actualizarla) como base simulada\n"
         "\n"
         "Salida: 0 la base queda actualizada (con --ensayar: quedaría, o ya lo está), 1 si no, 2 error de\n"
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
    salida << "solvane " << SOLVANE_VERSION_MAYOR << "." << SOLVANE_VERSION_MENOR << "."
           << SOLVANE_VERSION_REVISION << " (" << SOLVANE_NOMBRE_PRODUCTO << ")\n";
    return 0;
  }
  // With --salida json standard output carries the JSON object alone, for the program that reads it.
  std::ostream& texto = o.json ? errores : salida;
  mensajes.FijarPresentador(std::make_shared<PresentadorConsola>(entrada, texto, errores, o.respuesta));
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
  ProgresoConsola progreso(texto);
  if (o.json) return EjecutarConDesenlace(bd, mensajes, progreso, salida);
  return EjecutarProceso(bd, mensajes, progreso, Bombeo([] {})) ? 0 : 1;
}

}  // namespace solvane
