// Recorders of what the core shows the operator: its message boxes and its progress window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "nucleo/cActualiza.h"
#include "nucleo/cMensajes.h"

namespace solvane::pruebas {

struct Mensaje {
  std::string texto;
  int estilo;
};

// Records every box, its title apart, and answers the question with `respuesta` and anything else with
// OK. alMostrar runs while the box is "up", where a real modal box would let window events run.
class Grabador : public Presentador {
 public:
  int Mostrar(const std::string& titulo, const std::string& texto, int estilo) override {
    titulos.push_back(titulo);
    mensajes.push_back({texto, estilo});
    if (alMostrar) alMostrar();
    return estilo == kEstiloPregunta ? respuesta : kRespuestaAceptar;
  }
  // The text of the last box, "" when none was shown.
  std::string Ultimo() const { return mensajes.empty() ? "" : mensajes.back().texto; }

  std::vector<std::string> titulos;
  std::vector<Mensaje> mensajes;
  int respuesta = kRespuestaSi;
  std::function<void()> alMostrar;
};

// Records the progress window's calls; alEtiquetar sees each caption as it is set.
class ProgresoGrabado : public Progreso {
 public:
  void Mostrar() override { ++mostrado; }
  void Etiqueta(const std::string& texto) override {
    etiquetas.push_back(texto);
    if (alEtiquetar) alEtiquetar(texto);
  }
  void Descargar() override { ++descargado; }

  std::vector<std::string> etiquetas;
  int mostrado = 0;
  int descargado = 0;
  std::function<void(const std::string&)> alEtiquetar;
};

}  // namespace solvane::pruebas
