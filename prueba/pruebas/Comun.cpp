// Comun.cpp: record reading, fault injection and the simulated control's registration for tests.
#include "Comun.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace prueba::pruebas {

Registro RegistroSimulado() {
  Registro r;
  r.Agregar(std::string("Pagora.ISOPagora=") + BIBLIOTECA_SIMULADA);
  return r;
}

Grabacion::Grabacion() {
  static std::atomic<int> n{0};
  ruta_ = (std::filesystem::temp_directory_path() /
           ("prueba_registro_" + std::to_string(getpid()) + "_" + std::to_string(++n) + ".txt"))
              .string();
  std::filesystem::remove(ruta_);
  setenv("PAGORA_SIMULADO_REGISTRO", ruta_.c_str(), 1);
}

Grabacion::~Grabacion() {
  unsetenv("PAGORA_SIMULADO_REGISTRO");
  std::error_code e;
  std::filesystem::remove(ruta_, e);
}

std::vector<Linea> Grabacion::Todo() const {
  std::vector<Linea> r;
  std::ifstream f(ruta_);
  std::string texto;
  while (std::getline(f, texto)) {
    std::istringstream in(texto);
    std::vector<std::string> campos;
    std::string campo;
    while (std::getline(in, campo, '\t')) campos.push_back(campo);
    campos.resize(6);
    r.push_back({std::stoi(campos[0]), campos[1], campos[2], campos[3], campos[4], campos[5]});
  }
  return r;
}

std::vector<Linea> Grabacion::Nuevas() {
  auto todo = Todo();
  std::vector<Linea> r(todo.begin() + static_cast<std::ptrdiff_t>(std::min(leidas_, todo.size())),
                       todo.end());
  leidas_ = todo.size();
  return r;
}

namespace {
std::string Hex(int32_t id) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", static_cast<uint32_t>(id));
  return b;
}
std::vector<std::string> Filtrar(const std::vector<Linea>& lineas, int instancia, bool lecturas) {
  std::vector<std::string> r;
  for (const Linea& l : lineas)
    if (l.instancia == instancia && (l.clase == "leer") == lecturas && l.clase != "crear")
      r.push_back(l.clase + " " + l.dispid + " " + l.tipo + " " + l.valor +
                  (l.error.empty() ? "" : " " + l.error));
  return r;
}
}  // namespace

std::vector<std::string> Escrituras(const std::vector<Linea>& lineas, int instancia) {
  return Filtrar(lineas, instancia, false);
}
std::vector<std::string> Lecturas(const std::vector<Linea>& lineas, int instancia) {
  return Filtrar(lineas, instancia, true);
}
std::string P(int32_t id, const char* tipo, const std::string& valor) {
  return "poner " + Hex(id) + " " + tipo + " " + valor;
}
std::string L(int32_t id, const char* tipo, const std::string& valor) {
  return "llamar " + Hex(id) + " " + tipo + " " + valor;
}

Variante ControlConFalla::Obtener(int32_t id) {
  Contar(id);
  Variante v = real_->Obtener(id);
  if (auto i = i_->lecturas.find(id); i != i_->lecturas.end()) return i->second;
  return v;
}

void ControlConFalla::Contar(int32_t id) {
  if (++i_->llamadas == i_->falla)
    throw ErrorControl(PAGORA_E_FALLA, "falla inyectada en DISPID " + NombrarDispid(id));
}

}  // namespace prueba::pruebas
