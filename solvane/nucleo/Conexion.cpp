// The connection file: lookup, reading, checking and password masking.
#include "Conexion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cMensajes.h"
#include "motores/Motor.h"
#include "motores/MotorSimulado.h"
#include "motores/Texto.h"
#include "motores/odbc/CadenaOdbc.h"
#include "motores/odbc/MotorOdbc.h"

namespace solvane {

namespace {

// Every OS call of this file goes through here (retried on EINTR, errno captured at once on failure), but
// for the close in Descriptor's destructor, whose failure nobody could act on.
struct Llamada {
  long resultado;
  int error;  // 0 when it worked
};

template <typename F>
Llamada Sistema(F&& llamada) {
  for (;;) {
    const long r = static_cast<long>(llamada());
    if (r != -1) return {r, 0};
    const int e = errno;
    if (e != EINTR) return {r, e};
  }
}

// An open file descriptor, closed on destruction.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool EsArchivoRegular(const std::string& ruta) {
  struct stat st {};
  return Sistema([&] { return ::stat(ruta.c_str(), &st); }).error == 0 && S_ISREG(st.st_mode);
}

std::string Unir(const std::string& carpeta, const std::string& nombre) {
  if (carpeta.empty()) return "";
  return carpeta.back() == '/' ? carpeta + nombre : carpeta + "/" + nombre;
}

std::string ProgramaCarpeta() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

[[noreturn]] void Malformado(const std::string& archivo, int linea, const std::string& que) {
  throw ErrorBD(0, "Archivo de conexión " + archivo + ", línea " + std::to_string(linea) + ": " + que);
}

[[noreturn]] void FalloDeSistema(const std::string& archivo, const char* que, int e) {
  throw ErrorBD(e, "Archivo de conexión " + archivo + ": " + que + " (" + std::strerror(e) + ")");
}

// The whole file, refused when it is not a regular file (a FIFO would block the open, a device never end)
// or when it holds more than kMaximoArchivoConexion bytes. Also tells whether group or others may read it.
std::string LeerAcotado(const std::string& archivo, bool& legibleOtros) {
  const Llamada abierto = Sistema([&] { return ::open(archivo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (abierto.error) FalloDeSistema(archivo, "no se puede leer", abierto.error);
  const Descriptor fd(static_cast<int>(abierto.resultado));
  struct stat st {};
  if (const Llamada r = Sistema([&] { return ::fstat(fd.get(), &st); }); r.error)
    FalloDeSistema(archivo, "no se puede leer", r.error);
  if (!S_ISREG(st.st_mode)) throw ErrorBD(0, "Archivo de conexión " + archivo + ": no es un archivo regular");
  legibleOtros = (st.st_mode & 044) != 0;
  // Read to one byte past the limit, whatever stat said: the file may grow meanwhile.
  std::string texto(kMaximoArchivoConexion + 1, '\0');
  std::size_t leido = 0;
  while (leido < texto.size()) {
    const Llamada r = Sistema([&] { return ::read(fd.get(), texto.data() + leido, texto.size() - leido); });
    if (r.error) FalloDeSistema(archivo, "error de lectura", r.error);
    if (r.resultado == 0) break;
    leido += static_cast<std::size_t>(r.resultado);
  }
  if (leido > kMaximoArchivoConexion)
    throw ErrorBD(0, "Archivo de conexión " + archivo + ": demasiado grande (más de " +
                         std::to_string(kMaximoArchivoConexion) + " bytes)");
  texto.resize(leido);
  return texto;
}

}  // namespace

LugaresConexion LugaresDelProceso() {
  LugaresConexion l;
  if (const char* v = std::getenv("PAGORA_CONEXION")) l.variable = v;
  l.carpetaPrograma = ProgramaCarpeta();
  std::error_code ec;
  l.carpetaTrabajo = std::filesystem::current_path(ec).string();
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) l.xdgConfig = v;
  if (const char* v = std::getenv("HOME")) l.home = v;
  return l;
}

std::string BuscarConexion(const LugaresConexion& l) {
  // What the operator named is used even when it is missing, so that Conectar reports it rather than
  // silently falling back to some other database.
  if (!Recortar(l.explicito, kBlancosLinea).empty()) return l.explicito;
  if (l.soloExplicito) return "";
  if (!Recortar(l.variable, kBlancosLinea).empty()) return l.variable;
  std::string xdg = l.xdgConfig;
  if (xdg.empty() && !l.home.empty()) xdg = Unir(l.home, ".config");
  const std::string carpetas[] = {l.carpetaPrograma, l.carpetaTrabajo, Unir(xdg, "pagora"), l.etc};
  for (const auto& carpeta : carpetas) {
    std::string ruta = Unir(carpeta, l.nombre);
    if (!ruta.empty() && EsArchivoRegular(ruta)) return ruta;
  }
  return "";
}

AjustesConexion LeerConexion(const std::string& archivo) {
  AjustesConexion r;
  r.archivo = archivo;
  const std::string texto = LeerAcotado(archivo, r.legibleOtros);
  int n = 0;
  for (std::size_t inicio = 0; inicio < texto.size();) {
    const std::size_t salto = texto.find('\n', inicio);
    const std::size_t fin = salto == std::string::npos ? texto.size() : salto;
    std::string linea = texto.substr(inicio, fin - inicio);
    inicio = fin + 1;
    ++n;
    if (linea.size() > kMaximoLineaConexion)
      Malformado(archivo, n,
                 "línea demasiado larga (" + std::to_string(linea.size()) + " caracteres; el máximo es " +
                     std::to_string(kMaximoLineaConexion) + ")");
    if (n == 1 && linea.rfind("\xEF\xBB\xBF", 0) == 0) linea.erase(0, 3);  // editors' byte-order mark
    const std::string t = Recortar(linea, kBlancosLinea);
    if (t.empty() || t[0] == '#') continue;
    const auto igual = t.find('=');
    if (igual == std::string::npos) Malformado(archivo, n, "falta el '=' (se esperaba Nombre=Valor)");
    const std::string clave = Minusculas(Recortar(t.substr(0, igual), kBlancosLinea));
    const std::string valor = Recortar(t.substr(igual + 1), kBlancosLinea);
    if (clave.empty()) Malformado(archivo, n, "falta la clave antes de '='");
    if (r.ajustes.count(clave))
      Malformado(archivo, n,
                 "la clave '" + clave + "' ya se dio en la línea " + std::to_string(r.lineas[clave]));
    r.ajustes[clave] = valor;
    r.lineas[clave] = n;
  }

  const auto motor = r.ajustes.find("motor");
  if (motor == r.ajustes.end()) throw ErrorBD(0, "Archivo de conexión " + archivo + ": falta la clave Motor");
  const std::string nombreMotor = Minusculas(motor->second);
  if (nombreMotor != "simulado" && nombreMotor != "odbc")
    Malformado(archivo, r.lineas["motor"], "motor desconocido '" + motor->second + "' (simulado u odbc)");
  if (nombreMotor == "simulado" && Recortar(r.ajustes["archivo"], kBlancosLinea).empty())
    throw ErrorBD(0, "Archivo de conexión " + archivo + ": Motor=simulado necesita la clave Archivo");
  if (nombreMotor == "odbc" && Recortar(r.ajustes["cadena"], kBlancosLinea).empty())
    throw ErrorBD(0, "Archivo de conexión " + archivo + ": Motor=odbc necesita la clave Cadena");
  r.ajustes["motor"] = nombreMotor;

  const auto clave = r.ajustes.find("clave");
  const auto cadena = r.ajustes.find("cadena");
  r.tieneClave = (clave != r.ajustes.end() && !clave->second.empty()) ||
                 (cadena != r.ajustes.end() && (!odbc::ValorEnCadena(cadena->second, "pwd").empty() ||
                                                !odbc::ValorEnCadena(cadena->second, "password").empty()));
  return r;
}

std::unique_ptr<MotorBD> CrearMotor(const std::string& archivo, cMensajes& mensajes) {
  AjustesConexion leidos = LeerConexion(archivo);
  if (leidos.tieneClave && leidos.legibleOtros)
    mensajes.Mostrar("El archivo de conexión " + archivo +
                         " contiene una clave y otros usuarios pueden leerlo (corríjalo con: chmod 600 " +
                         archivo + ")",
                     kEstiloExclamacion);
  if (leidos.ajustes["motor"] == "simulado")
    return CrearMotorSimulado(ResolverRuta(CarpetaDe(archivo), leidos.ajustes["archivo"]));
  return CrearMotorOdbc(leidos.ajustes, archivo);
}

std::string OcultarClaves(const std::string& texto) {
  return odbc::OcultarPorClave(texto);
}

std::string CarpetaDe(const std::string& archivo) {
  const auto barra = archivo.find_last_of('/');
  if (barra == std::string::npos) return ".";
  if (barra == 0) return "/";
  return archivo.substr(0, barra);
}

std::string ResolverRuta(const std::string& carpeta, const std::string& ruta) {
  if (!ruta.empty() && ruta[0] == '/') return ruta;
  return Unir(carpeta.empty() ? "." : carpeta, ruta);
}

}  // namespace solvane
