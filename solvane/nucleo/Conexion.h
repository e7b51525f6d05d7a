// The connection file PagoraCliente.conexion: where it is looked for, how it is read, and password masking.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace solvane {

class MotorBD;
class cMensajes;

inline constexpr const char* kNombreArchivoConexion = "PagoraCliente.conexion";

// Bounds of a connection file: a handful of short settings; anything beyond is refused, not read.
inline constexpr std::size_t kMaximoLineaConexion = 4096;
inline constexpr std::size_t kMaximoArchivoConexion = 64 * 1024;

// Where BuscarConexion looks. Empty strings mean "not given".
struct LugaresConexion {
  std::string explicito;  // the front end's --conexion: taken as is, found or not
  std::string variable;   // value of PAGORA_CONEXION: taken as is, found or not
  std::string carpetaPrograma;
  std::string carpetaTrabajo;
  std::string xdgConfig;  // $XDG_CONFIG_HOME, or empty
  std::string home;       // $HOME, for the default ~/.config
  std::string etc = "/etc/pagora";
  std::string nombre = kNombreArchivoConexion;
  bool soloExplicito = false;  // do not search the standard places
};

// The lugares of this process: environment, program's folder, working folder.
LugaresConexion LugaresDelProceso();

// First connection file found: the explicit path, the variable, then the first existing regular file in
// the program's folder, the working folder, the XDG config folder's "pagora" and /etc/pagora.
// Empty when none.
std::string BuscarConexion(const LugaresConexion& lugares);

// The settings read from a connection file. Keys in lower case.
struct AjustesConexion {
  std::string archivo;
  std::map<std::string, std::string> ajustes;
  std::map<std::string, int> lineas;  // key -> line it came from, for messages
  bool tieneClave = false;            // holds a password (Clave= or PWD inside Cadena=)
  bool legibleOtros = false;          // readable by group or others
};

// Reads and checks a connection file. Throws ErrorBD whose description names the file and, for a
// malformed or overlong line, the line number; a file that is not regular or is larger than
// kMaximoArchivoConexion is refused without being read.
AjustesConexion LeerConexion(const std::string& archivo);

// The engine the connection file names, built but not connected: Motor=simulado over its Archivo=
// (relative to the file's folder), Motor=odbc with its Cadena= and credentials. A file that holds a password
// and that others may read is still used, after telling `mensajes`. Throws ErrorBD when the file cannot be
// read or the settings make no engine.
std::unique_ptr<MotorBD> CrearMotor(const std::string& archivo, cMensajes& mensajes);

// `texto` with the whole value of every PWD=, Password= and Clave= replaced by "****" (braced values to
// their closing brace, others to the next ';' or the end of the text).
std::string OcultarClaves(const std::string& texto);

// The folder holding `archivo` ("." when it has none).
std::string CarpetaDe(const std::string& archivo);

// `ruta` resolved against `carpeta` unless already absolute.
std::string ResolverRuta(const std::string& carpeta, const std::string& ruta);

}  // namespace solvane
