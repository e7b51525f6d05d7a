// The connection file: lookup, reading, checking and password masking.
#include "Conexion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "BaseDatos.h"

namespace solvane {

namespace {

std::string Minusculas(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Recortar(const std::string& s) {
  const auto ini = s.find_first_not_of(" \t\r");
  if (ini == std::string::npos) return "";
  const auto fin = s.find_last_not_of(" \t\r");
  return s.substr(ini, fin - ini + 1);
}

bool EsArchivoRegular(const std::string& ruta) {
  struct stat st {};
  return ::stat(ruta.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
  throw ErrorBD(0, "Archivo de conexion " + archivo + ", linea " + std::to_string(linea) + ": " + que);
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
  if (!Recortar(l.explicito).empty()) return l.explicito;
  if (l.soloExplicito) return "";
  if (!Recortar(l.variable).empty()) return l.variable;
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
  std::ifstream f(archivo, std::ios::binary);
  if (!f) {
    const int e = errno;
    throw ErrorBD(e, "Archivo de conexion " + archivo + ": no se puede leer (" + std::strerror(e) + ")");
  }
  std::string linea;
  int n = 0;
  while (std::getline(f, linea)) {
    ++n;
    if (n == 1 && linea.rfind("\xEF\xBB\xBF", 0) == 0) linea.erase(0, 3);  // editors' byte-order mark
    const std::string t = Recortar(linea);
    if (t.empty() || t[0] == '#') continue;
    const auto igual = t.find('=');
    if (igual == std::string::npos) Malformado(archivo, n, "se esperaba Clave=Valor");
    const std::string clave = Minusculas(Recortar(t.substr(0, igual)));
    const std::string valor = Recortar(t.substr(igual + 1));
    if (clave.empty()) Malformado(archivo, n, "falta la clave antes de '='");
    if (r.ajustes.count(clave))
      Malformado(archivo, n,
                 "la clave '" + clave + "' ya se dio en la linea " + std::to_string(r.lineas[clave]));
    r.ajustes[clave] = valor;
    r.lineas[clave] = n;
  }
  if (f.bad()) throw ErrorBD(errno, "Archivo de conexion " + archivo + ": error de lectura");

  const auto motor = r.ajustes.find("motor");
  if (motor == r.ajustes.end()) throw ErrorBD(0, "Archivo de conexion " + archivo + ": falta la clave Motor");
  const std::string nombreMotor = Minusculas(motor->second);
  if (nombreMotor != "simulado" && nombreMotor != "odbc")
    Malformado(archivo, r.lineas["motor"], "motor desconocido '" + motor->second + "' (simulado u odbc)");
  if (nombreMotor == "simulado" && Recortar(r.ajustes["archivo"]).empty())
    throw ErrorBD(0, "Archivo de conexion " + archivo + ": Motor=simulado necesita la clave Archivo");
  if (nombreMotor == "odbc" && Recortar(r.ajustes["cadena"]).empty())
    throw ErrorBD(0, "Archivo de conexion " + archivo + ": Motor=odbc necesita la clave Cadena");
  r.ajustes["motor"] = nombreMotor;

  const auto clave = r.ajustes.find("clave");
  const auto cadena = r.ajustes.find("cadena");
  r.tieneClave = (clave != r.ajustes.end() && !clave->second.empty()) ||
                 (cadena != r.ajustes.end() && Minusculas(cadena->second).find("pwd") != std::string::npos);
  struct stat st {};
  r.legibleOtros = ::stat(archivo.c_str(), &st) == 0 && (st.st_mode & 044) != 0;
  return r;
}

std::string OcultarClaves(const std::string& texto) {
  static const std::regex patron(R"(((?:pwd|password|clave)\s*=\s*)(\{[^}]*\}|[^;\s]*))", std::regex::icase);
  return std::regex_replace(texto, patron, "$1****");
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
