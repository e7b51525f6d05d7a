// ODBC connection strings: reading the connection file's settings, adding the credentials, masking passwords.
#include "CadenaOdbc.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>

#include "motores/Motor.h"
#include "motores/Texto.h"

namespace solvane::odbc {

namespace {

constexpr const char* kOculto = "****";

bool EsLetraDeClave(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool EsBlanco(char c) {
  return c == ' ' || c == '\t';
}

// Where the value begins when a password key starts at `p` ("pwd", "password" or "clave" as a whole word,
// blanks, '=', blanks); npos otherwise.
std::size_t InicioDeValor(std::string_view t, std::size_t p) {
  static constexpr std::string_view kClaves[] = {"pwd", "password", "clave"};
  if (p > 0 && EsLetraDeClave(t[p - 1])) return std::string_view::npos;
  for (const std::string_view k : kClaves) {
    if (t.size() - p < k.size() || !IgualSinCaso(t.substr(p, k.size()), k)) continue;
    std::size_t j = p + k.size();
    while (j < t.size() && EsBlanco(t[j])) ++j;
    if (j >= t.size() || t[j] != '=') continue;
    ++j;
    while (j < t.size() && EsBlanco(t[j])) ++j;
    return j;
  }
  return std::string_view::npos;
}

// One past the value that begins at `j`: a braced one ends at its closing brace (or the end of the text
// when it has none), any other at the next ';'. A blank does not end a value.
std::size_t FinDeValor(std::string_view t, std::size_t j) {
  if (j < t.size() && t[j] == '{') {
    for (std::size_t k = j + 1; k < t.size(); ++k) {
      if (t[k] != '}') continue;
      if (k + 1 < t.size() && t[k + 1] == '}') {
        ++k;
        continue;
      }
      return k + 1;
    }
    return t.size();
  }
  const auto fin = t.find(';', j);
  return fin == std::string_view::npos ? t.size() : fin;
}

// Whole seconds from a setting; the default when absent.
long Segundos(const std::map<std::string, std::string>& ajustes, const std::string& clave, long omision,
              const std::string& archivo) {
  const auto it = ajustes.find(clave);
  if (it == ajustes.end() || Recortar(it->second, kBlancosCadena).empty()) return omision;
  const std::string texto = Recortar(it->second, kBlancosCadena);
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
    std::string clave = Recortar(cadena.substr(i, igual - i), kBlancosCadena);
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
      valor =
          Recortar(cadena.substr(j, fin == std::string::npos ? std::string::npos : fin - j), kBlancosCadena);
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

std::optional<std::string> Entrecomillar(const std::string& valor, Llaves regla) {
  // Every parser reads a bare value to the next ';' as it is, '}', '=' and inner blanks included.
  const bool llaves = valor.find(';') != std::string::npos || valor.starts_with("{") ||
                      (!valor.empty() && (EsBlanco(valor.front()) || EsBlanco(valor.back())));
  if (!llaves) return valor;
  if (regla == Llaves::FreeTds13) {
    if (valor.find("};") != std::string::npos) return std::nullopt;
    return "{" + valor + "}";
  }
  std::string r = "{";
  for (const char c : valor) {
    r += c;
    if (c == '}') r += '}';
  }
  return r + "}";
}

namespace {

// The "freetds vM.N" a FreeTDS library declares, as M * 100 + N; 0 when the file is not there or says none.
int VersionDeFreeTds(const std::string& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  if (!f) return 0;
  const std::string contenido((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  static constexpr std::string_view kMarca = "freetds v";
  for (auto p = contenido.find(kMarca); p != std::string::npos; p = contenido.find(kMarca, p + 1)) {
    int mayor = 0, menor = 0;
    const char* q = contenido.data() + p + kMarca.size();
    const char* fin = contenido.data() + contenido.size();
    const auto a = std::from_chars(q, fin, mayor);
    if (a.ec != std::errc() || a.ptr == fin || *a.ptr != '.') continue;
    if (std::from_chars(a.ptr + 1, fin, menor).ec == std::errc()) return mayor * 100 + menor;
  }
  return 0;
}

}  // namespace

bool EsFreeTds(const std::string& cadena) {
  const std::string driver = Minusculas(ValorEnCadena(cadena, "driver"));
  return driver.find("freetds") != std::string::npos || driver.find("tdsodbc") != std::string::npos;
}

Llaves LlavesDelDriver(const std::string& cadena) {
  if (!EsFreeTds(cadena)) return Llaves::Estandar;
  const std::string driver = ValorEnCadena(cadena, "driver");
  // The library the driver manager loads: the path given, or where the system keeps ODBC drivers.
  std::vector<std::string> rutas;
  if (driver.find('/') != std::string::npos) rutas.push_back(driver);
  for (const char* carpeta : {"/usr/lib/" PAGORA_ARQUITECTURA "/odbc/", "/usr/lib/odbc/", "/usr/local/lib/"})
    rutas.push_back(std::string(carpeta) + "libtdsodbc.so");
  static std::map<std::string, int> vistas;  // one read per library and process
  for (const std::string& r : rutas) {
    auto [it, nueva] = vistas.try_emplace(r, 0);
    if (nueva) it->second = VersionDeFreeTds(r);
    if (it->second > 0) return it->second < 104 ? Llaves::FreeTds13 : Llaves::Estandar;
  }
  return Llaves::FreeTds13;
}

std::string OcultarPorClave(std::string_view texto) {
  std::string r;
  r.reserve(texto.size());
  std::size_t copiado = 0;
  std::size_t p = 0;
  while (p < texto.size()) {
    const std::size_t valor = InicioDeValor(texto, p);
    if (valor == std::string_view::npos) {
      ++p;
      continue;
    }
    const std::size_t fin = FinDeValor(texto, valor);
    r.append(texto.substr(copiado, valor - copiado));
    if (fin > valor) r += kOculto;
    copiado = p = fin;
  }
  r.append(texto.substr(copiado));
  return r;
}

AjustesOdbc LeerAjustes(const std::map<std::string, std::string>& ajustes, const std::string& archivo,
                        const char* claveEntorno) {
  AjustesOdbc r;
  const auto valor = [&](const char* clave) {
    const auto it = ajustes.find(clave);
    return it == ajustes.end() ? std::string() : it->second;
  };
  r.cadena = Recortar(valor("cadena"), kBlancosCadena);
  if (r.cadena.empty())
    throw ErrorBD(-1, "El archivo de conexión " + archivo + " no tiene la cadena ODBC (Cadena=)");
  r.usuario = Recortar(valor("usuario"), kBlancosCadena);
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
  r.tiempoBloqueo = Segundos(ajustes, "tiempobloqueo", r.tiempoBloqueo, archivo);
  return r;
}

std::string CadenaCompleta(const AjustesOdbc& ajustes) {
  std::string r = ajustes.cadena;
  const Llaves regla = LlavesDelDriver(ajustes.cadena);
  const auto agregar = [&](const char* clave, const std::string& valor, const char* que) {
    if (valor.empty()) return;
    const auto escrito = Entrecomillar(valor, regla);
    if (!escrito)
      throw ErrorBD(-1,
                    std::string(que) +
                        " no se puede pasar al driver FreeTDS instalado: necesita llaves (tiene ';', empieza "
                        "con '{' o tiene blancos en un borde) y contiene \"};\", donde ese driver da por "
                        "terminado un valor entre llaves. Cámbiela por una sin \"};\"");
    if (!r.empty() && r.back() != ';') r += ';';
    r += clave;
    r += '=';
    r += *escrito;
    // FreeTDS 1.3 refuses a braced value that nothing follows.
    if (escrito->starts_with("{")) r += ';';
  };
  agregar("UID", ajustes.usuario, "El usuario");
  agregar("PWD", ajustes.clave, "La clave");
  // Our text is UTF-8; FreeTDS otherwise converts it as ISO-8859-1 both ways, so an accent sent would be
  // stored as two characters and the server's messages would arrive in Latin-1.
  if (EsFreeTds(ajustes.cadena) && ValorEnCadena(ajustes.cadena, "clientcharset").empty())
    agregar("ClientCharset", "UTF-8", "El juego de caracteres");
  return r;
}

void Mascara::Agregar(const std::string& secreto) {
  if (secreto.empty()) return;
  // The braced forms may be what a driver echoes back.
  for (const auto& forma : {std::optional(secreto), Entrecomillar(secreto, Llaves::Estandar),
                            Entrecomillar(secreto, Llaves::FreeTds13)})
    if (forma && std::find(secretos_.begin(), secretos_.end(), *forma) == secretos_.end())
      secretos_.push_back(*forma);
}

// The known secrets first, longest first, so that a secret inside another is not left half shown; then
// every key's value, which also covers passwords nobody told us about. The other order would let the key
// masking cut a known secret in two and leave its second half unmatched.
std::string Mascara::Aplicar(std::string texto) const {
  std::vector<std::string> orden = secretos_;
  std::sort(orden.begin(), orden.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
  for (const auto& s : orden) {
    std::string r;
    std::size_t copiado = 0;
    for (std::size_t p = texto.find(s); p != std::string::npos; p = texto.find(s, copiado)) {
      r.append(texto, copiado, p - copiado);
      r += kOculto;
      copiado = p + s.size();
    }
    r.append(texto, copiado);
    texto = std::move(r);
  }
  return OcultarPorClave(texto);
}

}  // namespace solvane::odbc
