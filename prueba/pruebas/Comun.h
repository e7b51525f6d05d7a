// Comun.h: what the tests share: the simulated control's record, a fault-injecting control, a recorder.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Control.h"
#include "Registro.h"

namespace prueba::pruebas {

// A registry that maps "Pagora.ISOPagora" to the freshly built simulated control.
Registro RegistroSimulado();

// One line of the simulated control's record.
struct Linea {
  int instancia = 0;
  std::string clase, dispid, tipo, valor, error;
};

// Points the simulated control's record at a fresh file for the life of the object.
class Grabacion {
 public:
  Grabacion();
  ~Grabacion();
  std::vector<Linea> Todo() const;
  // The lines added since the previous call to Nuevas (or since the start).
  std::vector<Linea> Nuevas();

 private:
  std::string ruta_;
  size_t leidas_ = 0;
};

// "poner 0x6803010B Double 12.5" for comparisons; `clase` filters (empty: every line but reads).
std::vector<std::string> Escrituras(const std::vector<Linea>& lineas, int instancia = 1);
std::vector<std::string> Lecturas(const std::vector<Linea>& lineas, int instancia = 1);
std::string P(int32_t dispid, const char* tipo, const std::string& valor);                 // a put
std::string L(int32_t dispid, const char* tipo = "Empty", const std::string& valor = "");  // a method call

// Wraps a control: fails the Nth call (counting from 1, 0 never) and can replace what a get returns.
struct Inyeccion {
  int falla = 0;
  int llamadas = 0;
  std::map<int32_t, Variante> lecturas;
};
class ControlConFalla : public Control {
 public:
  ControlConFalla(std::unique_ptr<Control> real, std::shared_ptr<Inyeccion> inyeccion)
      : real_(std::move(real)), i_(std::move(inyeccion)) {}
  void Poner(int32_t id, const Variante& v) override { Contar(id), real_->Poner(id, v); }
  Variante Obtener(int32_t id) override;
  Variante Llamar(int32_t id) override { return Contar(id), real_->Llamar(id); }

 private:
  void Contar(int32_t id);
  std::unique_ptr<Control> real_;
  std::shared_ptr<Inyeccion> i_;
};

}  // namespace prueba::pruebas
