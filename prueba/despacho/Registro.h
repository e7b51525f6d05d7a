// Registro.h: resolves a ProgID to a control library and creates controls from it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Control.h"

namespace prueba {

// Name of the registry file next to the program and of the environment variable that comes first.
inline constexpr const char* kArchivoRegistro = "prueba.controles";
inline constexpr const char* kVariableRegistro = "PAGORA_CONTROLES";

// ProgID -> library path. Entries are "ProgID=ruta"; ProgIDs compare without regard to case and the
// first entry for a ProgID wins, so the environment variable overrides the file.
class Registro {
 public:
  // The environment variable (entries separated by ';'), then `carpeta`/prueba.controles, then the
  // files of `otros` in order (an installed program keeps its registration under share/, not bin/).
  static Registro DelEntorno(const std::string& carpeta, const std::vector<std::string>& otros = {});

  // Adds the entries of a list separated by ';' or newlines. Blank entries and lines starting with '#'
  // are skipped; relative paths are taken relative to `base` when it is not empty.
  void Agregar(const std::string& entradas, const std::string& base = {});
  // Adds the entries of a file, relative paths taken from the file's folder; a missing file adds none.
  void AgregarArchivo(const std::string& ruta);

  std::optional<std::string> Buscar(const std::string& progid) const;

  // Loads the library registered for `progid` and creates one control from it. Throws ErrorControl:
  // not registered, library not loadable, no entry point, or the library does not create the class.
  std::unique_ptr<Control> Crear(const std::string& progid) const;

 private:
  std::map<std::string, std::string> entradas_;  // key: ProgID in lower case
};

}  // namespace prueba
