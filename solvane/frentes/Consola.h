// The console front end: the same job as one click of the window, without a display.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nucleo/cActualiza.h"

namespace solvane {

// Messages on the terminal: stop and exclamation styles on standard error, the others on standard
// output; the question answered by `respuestaFija` (6 or 7) or read from `entrada` as S/N.
class PresentadorConsola : public Presentador {
 public:
  PresentadorConsola(std::istream& entrada, std::ostream& salida, std::ostream& errores,
                     std::optional<int> respuestaFija);
  int Mostrar(const std::string& titulo, const std::string& texto, int estilo) override;

 private:
  std::istream& entrada_;
  std::ostream& salida_;
  std::ostream& errores_;
  std::optional<int> respuestaFija_;
};

// Each step's caption printed as it is set.
class ProgresoConsola : public Progreso {
 public:
  explicit ProgresoConsola(std::ostream& salida) : salida_(salida) {}
  void Mostrar() override {}
  void Etiqueta(const std::string& texto) override;
  void Descargar() override {}

 private:
  std::ostream& salida_;
};

struct OpcionesConsola {
  bool consola = false;
  bool version = false;
  bool ayuda = false;
  bool probar = false;
  bool ensayar = false;
  std::string copia;
  std::optional<int> respuesta;  // --si / --no
  std::string conexion;
  std::string registro;
  bool json = false;  // --salida json
};

// Parses the arguments (without the program name). Throws std::invalid_argument with a Spanish text.
OpcionesConsola LeerOpciones(const std::vector<std::string>& argumentos);

// True when the arguments ask for anything but the window.
bool PideConsola(const std::vector<std::string>& argumentos);

// Exit status: 0 the database ends current (or, with --probar-conexion, the connection opened),
// 1 otherwise, 2 usage error.
int PrincipalConsola(const std::vector<std::string>& argumentos, std::istream& entrada, std::ostream& salida,
                     std::ostream& errores, cBaseDatos& bd, cMensajes& mensajes);

std::string TextoAyuda();

}  // namespace solvane
