// ODBC connection strings: reading the connection file's settings, adding the credentials, masking passwords.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace solvane::odbc {

// What the connection file asks for, with the credentials already resolved.
struct AjustesOdbc {
  std::string cadena;           // the string as the file gives it
  std::string usuario;          // Usuario=, added as UID= unless empty
  std::string clave;            // Clave= or PAGORA_CLAVE, added as PWD= unless empty
  long tiempoConexion = 15;     // seconds; login time-out
  long tiempoSentencia = 3600;  // seconds; 0 = the driver's own (none)
  long tiempoBloqueo = 300;     // seconds another run holding the database is waited for (SQL Server)
};

// Pairs key=value of a connection string; braces protect ';' inside a value ("{a;b}", "}}" for '}').
std::vector<std::pair<std::string, std::string>> PartirCadena(const std::string& cadena);

// The value of a key (any letter case), without its braces; empty when absent.
std::string ValorEnCadena(const std::string& cadena, const std::string& clave);

// How a driver reads a value in braces. The ODBC standard (and FreeTDS from 1.4): "}}" is one '}' and the
// first single '}' ends the value. FreeTDS 1.3 (Debian 12's): the value ends at the first '}' that is
// followed by ';', a doubled '}' stays doubled, and a braced value at the very end of the string is refused,
// so one is always followed by ';'.
enum class Llaves { Estandar, FreeTds13 };

// Whether `cadena` names FreeTDS's driver (by name or by its library's path).
bool EsFreeTds(const std::string& cadena);

// The rule of the driver `cadena` names: FreeTDS by the version its library declares (1.3, the one the
// supported system ships, when the library cannot be read); the standard for any other driver.
Llaves LlavesDelDriver(const std::string& cadena);

// A value ready to follow "KEY=": as it is, unless a driver would misread it bare (a ';', a leading '{',
// blanks at either end), then in braces written as `regla` reads them. Nothing when `regla` cannot carry it
// at all (FreeTDS 1.3 and a value that needs braces and holds "};").
std::optional<std::string> Entrecomillar(const std::string& valor, Llaves regla = Llaves::Estandar);

// `texto` with the whole value of every PWD, Password and Clave key (any letter case, blanks allowed
// around '=') replaced by "****": a braced value up to its closing brace ("}}" being a brace inside it),
// any other up to the next ';' or the end of the text. One pass, whatever the length of the text.
std::string OcultarPorClave(std::string_view texto);

// Reads the settings (keys already in lower case). The password comes from Clave=, else from
// `claveEntorno` (the PAGORA_CLAVE variable, or null). Throws ErrorBD when the settings are unusable.
AjustesOdbc LeerAjustes(const std::map<std::string, std::string>& ajustes, const std::string& archivo,
                        const char* claveEntorno);

// The string handed to the driver: the file's string plus UID= and PWD= when kept apart, each written the
// way the driver reads it. Throws ErrorBD, before anything is sent, for a user or password the driver
// cannot carry, saying why.
std::string CadenaCompleta(const AjustesOdbc& ajustes);

// Hides passwords in a text meant for people: the value of every PWD=, Password= and Clave=,
// and every literal occurrence of the known secrets.
class Mascara {
 public:
  void Agregar(const std::string& secreto);
  std::string Aplicar(std::string texto) const;

 private:
  std::vector<std::string> secretos_;
};

}  // namespace solvane::odbc
