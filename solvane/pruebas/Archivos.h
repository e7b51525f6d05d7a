// Files and scratch folders for Solvane's tests.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace solvane::pruebas {

// The whole file. One that cannot be opened throws, so that it is never taken for an empty one.
inline std::string Leer(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  if (!f) throw std::runtime_error("no se puede leer " + ruta.string());
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// The whole file, or "" while it cannot be opened: for polling a file that another process writes, and
// for a file that a refused run may rightly never have created.
inline std::string LeerSiHay(const std::filesystem::path& ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::ostringstream s;
  if (f) s << f.rdbuf();
  return s.str();
}

inline std::vector<std::string> Lineas(const std::filesystem::path& ruta) {
  std::istringstream s(Leer(ruta));
  std::vector<std::string> r;
  for (std::string l; std::getline(s, l);) r.push_back(l);
  return r;
}

inline void Escribir(const std::filesystem::path& ruta, const std::string& contenido) {
  std::ofstream f(ruta, std::ios::binary | std::ios::trunc);
  f << contenido;
  if (!f) throw std::runtime_error("no se puede escribir " + ruta.string());
}

// A folder of its own under the system's temporary one, removed with everything in it.
class Carpeta {
 public:
  explicit Carpeta(const std::string& prefijo = "solvane") {
    std::string p = (std::filesystem::temp_directory_path() / (prefijo + "XXXXXX")).string();
    if (::mkdtemp(p.data()) == nullptr)
      throw std::runtime_error("no se puede crear " + p + ": " + std::to_string(errno) + " " +
                               std::strerror(errno));
    ruta_ = p;
  }
  ~Carpeta() {
    std::error_code e;
    std::filesystem::remove_all(ruta_, e);
  }
  Carpeta(const Carpeta&) = delete;
  Carpeta& operator=(const Carpeta&) = delete;
  std::filesystem::path operator/(const std::string& nombre) const { return ruta_ / nombre; }
  const std::filesystem::path& Ruta() const { return ruta_; }

 private:
  std::filesystem::path ruta_;
};

}  // namespace solvane::pruebas
