// ODBC connection strings: reading the connection file's settings, adding the credentials, masking passwords.
#include "odbc/CadenaOdbc.h"

#include <algorithm>
#include <cctype>

#include "BaseDatos.h"

namespace solvane::odbc {

namespace {

constexpr const char* kOculto = "****";

std::string Minusculas(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Recortar(const std::string& s) {
  const auto ini = s.find_first_not_of(" \t\r\n");
  if (ini == std::string::npos) return {};
  const auto fin = s.find_last_not_of(" \t\r\n");
  return s.substr(ini, fin - ini + 1);
}

bool EsLetraDeClave(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Whole seconds from a setting; the default when absent.
long Segundos(const std::map<std::string, std::string>& ajustes, const std::string& clave, long omision,
              const std::string& archivo) {
  const auto it = ajustes.find(clave);
  if (it == ajustes.end() || Recortar(it->second).empty()) return omision;
  const std::string texto = Recortar(it->second);
  if (texto.size() > 6 ||
      !std::all_of(texto.begin(), texto.end(), [](unsigned char c) { return std::isdigit(c); }))
    throw ErrorBD(-1, "El valor de " + clave + " en " + archivo + " no es un número de segundos: " + texto);
  return std::stol(texto);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> PartirCadena(const std::string& cadena) {
  std::vector<std::pair<std::string, std::string>> pares;
  std::size_t i = 0;
  while (i < cadena.size()) {
    const auto igual = cadena.find('=', i);
    const auto puntoComa = cadena.find(';', i);
    if (igual == std::string::npos || (puntoComa != std::string::npos && puntoComa < igual)) {
      // A piece without '=' carries no setting; skip it.
      if (puntoComa == std::string::npos) break;
      i = puntoComa + 1;
      continue;
    }
    std::string clave = Recortar(cadena.substr(i, igual - i));
    std::size_t j = igual + 1;
    while (j < cadena.size() && cadena[j] == ' ') ++j;
    std::string valor;
    if (j < cadena.size() && cadena[j] == '{') {
      ++j;
      while (j < cadena.size()) {
        if (cadena[j] == '}') {
          if (j + 1 < cadena.size() && cadena[j + 1] == '}') {
            valor += '}';
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        valor += cadena[j++];
      }
      const auto fin = cadena.find(';', j);
      i = fin == std::string::npos ? cadena.size() : fin + 1;
    } else {
      const auto fin = cadena.find(';', j);
      valor = Recortar(cadena.substr(j, fin == std::string::npos ? std::string::npos : fin - j));
      i = fin == std::string::npos ? cadena.size() : fin + 1;
    }
    if (!clave.empty()) pares.emplace_back(std::move(clave), std::move(valor));
  }
  return pares;
}

std::string ValorEnCadena(const std::string& cadena, const std::string& clave) {
  const std::string buscada = Minusculas(clave);
  for (const auto& [k, v] : PartirCadena(cadena))
    if (Minusculas(k) == buscada) return v;
  return {};
}

std::string Entrecomillar(const std::string& valor) {
  const bool hace_falta = valor.find_first_of(";{}") != std::string::npos ||
                          (!valor.empty() && (valor.front() == ' ' || valor.back() == ' '));
  if (!hace_falta) return valor;
  std::string r = "{";
  for (char c : valor) {
    r += c;
    if (c == '}') r += '}';
  }
  return r + "}";
}

AjustesOdbc LeerAjustes(const std::map<std::string, std::string>& ajustes, const std::string& archivo,
                        const char* claveEntorno) {
  AjustesOdbc r;
  const auto valor = [&](const char* clave) {
    const auto it = ajustes.find(clave);
    return it == ajustes.end() ? std::string() : it->second;
  };
  r.cadena = Recortar(valor("cadena"));
  if (r.cadena.empty())
    throw ErrorBD(-1, "El archivo de conexión " + archivo + " no tiene la cadena ODBC (Cadena=)");
  r.usuario = Recortar(valor("usuario"));
  r.clave = valor("clave");

  const bool uidEnCadena =
      !ValorEnCadena(r.cadena, "uid").empty() || !ValorEnCadena(r.cadena, "user").empty();
  const bool pwdEnCadena =
      !ValorEnCadena(r.cadena, "pwd").empty() || !ValorEnCadena(r.cadena, "password").empty();
  // The same credential given twice would leave the driver to pick one; say so instead.
  if (!r.usuario.empty() && uidEnCadena)
    throw ErrorBD(-1, "El archivo de conexión " + archivo + " da el usuario en Cadena y en Usuario");
  if (!r.clave.empty() && pwdEnCadena)
    throw ErrorBD(-1, "El archivo de conexión " + archivo + " da la clave en Cadena y en Clave");
  if (r.clave.empty() && !pwdEnCadena && claveEntorno != nullptr) r.clave = claveEntorno;

  r.tiempoConexion = Segundos(ajustes, "tiempoconexion", r.tiempoConexion, archivo);
  r.tiempoSentencia = Segundos(ajustes, "tiemposentencia", r.tiempoSentencia, archivo);
  return r;
}

std::string CadenaCompleta(const AjustesOdbc& ajustes) {
  std::string r = ajustes.cadena;
  const auto agregar = [&r](const char* clave, const std::string& valor) {
    if (valor.empty()) return;
    if (!r.empty() && r.back() != ';') r += ';';
    r += clave;
    r += '=';
    r += Entrecomillar(valor);
  };
  agregar("UID", ajustes.usuario);
  agregar("PWD", ajustes.clave);
  return r;
}

void Mascara::Agregar(const std::string& secreto) {
  if (secreto.empty()) return;
  // The braced form may be what a driver echoes back.
  for (const std::string& forma : {secreto, Entrecomillar(secreto)})
    if (std::find(secretos_.begin(), secretos_.end(), forma) == secretos_.end()) secretos_.push_back(forma);
}

// Key-value masking first (it also covers passwords nobody told us about), then the literal secrets,
// longest first so that a secret inside another is not left half shown.
std::string Mascara::Aplicar(std::string texto) const {
  static const char* const kClaves[] = {"pwd", "password", "clave"};
  std::string bajo = Minusculas(texto);
  for (const char* clave : kClaves) {
    const std::string k = clave;
    std::size_t p = 0;
    while ((p = bajo.find(k, p)) != std::string::npos) {
      const bool inicio = p == 0 || !EsLetraDeClave(bajo[p - 1]);
      std::size_t j = p + k.size();
      while (j < bajo.size() && bajo[j] == ' ') ++j;
      if (!inicio || j >= bajo.size() || bajo[j] != '=') {
        p += k.size();
        continue;
      }
      ++j;
      while (j < bajo.size() && bajo[j] == ' ') ++j;
      std::size_t fin = j;
      if (fin < bajo.size() && bajo[fin] == '{') {
        ++fin;
        while (fin < bajo.size()) {
          if (bajo[fin] == '}') {
            if (fin + 1 < bajo.size() && bajo[fin + 1] == '}') {
              fin += 2;
              continue;
            }
            ++fin;
            break;
          }
          ++fin;
        }
      } else {
        while (fin < bajo.size() &&
               std::string_view(";'\"])\r\n\t ").find(bajo[fin]) == std::string_view::npos)
          ++fin;
      }
      if (fin > j) {
        texto.replace(j, fin - j, kOculto);
        bajo.replace(j, fin - j, kOculto);
      }
      p = j + std::char_traits<char>::length(kOculto);
    }
  }
  std::vector<std::string> orden = secretos_;
  std::sort(orden.begin(), orden.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  for (const auto& s : orden) {
    std::size_t p = 0;
    while ((p = texto.find(s, p)) != std::string::npos) {
      texto.replace(p, s.size(), kOculto);
      p += std::char_traits<char>::length(kOculto);
    }
  }
  return texto;
}

}  // namespace solvane::odbc
