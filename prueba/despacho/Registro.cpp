// Registro.cpp: ProgID registry, library loading with dlopen and the adapter of the C interface.
#include "Registro.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Contrato.h"
#include "Texto.h"

namespace prueba {

namespace {

// A registry file may have been written on Windows: its CR is a blank too.
constexpr std::string_view kBlancos = " \t\r";

// The one place that calls dlopen/dlsym: checks the result and captures dlerror at once.
std::shared_ptr<void> AbrirBiblioteca(const std::string& ruta) {
  dlerror();
  void* h = dlopen(ruta.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    throw ErrorControl(kErrBiblioteca, "No se pudo cargar la biblioteca " + ruta + ": " + (e ? e : "?"));
  }
  return std::shared_ptr<void>(h, [](void* p) { dlclose(p); });
}

PagoraCrearControlFn PuntoEntrada(void* biblioteca, const std::string& ruta) {
  dlerror();
  void* f = dlsym(biblioteca, PAGORA_PUNTO_ENTRADA);
  if (!f) {
    const char* e = dlerror();
    throw ErrorControl(kErrPuntoEntrada, "La biblioteca " + ruta + " no tiene el punto de entrada " +
                                             PAGORA_PUNTO_ENTRADA + (e ? std::string(": ") + e : ""));
  }
  return reinterpret_cast<PagoraCrearControlFn>(f);
}

// A control created by a library; keeps the library loaded for as long as the control lives.
class ControlBiblioteca final : public Control {
 public:
  ControlBiblioteca(std::shared_ptr<void> biblioteca, PagoraControl* control)
      : biblioteca_(std::move(biblioteca)), control_(control) {}
  ~ControlBiblioteca() override { control_->tabla->Liberar(control_); }
  ControlBiblioteca(const ControlBiblioteca&) = delete;
  ControlBiblioteca& operator=(const ControlBiblioteca&) = delete;

  void Poner(int32_t dispid, const Variante& valor) override {
    const PagoraVariante c = valor.AC();
    Verificar(control_->tabla->Poner(control_, dispid, &c), dispid);
  }
  Variante Obtener(int32_t dispid) override {
    PagoraVariante c{};
    Verificar(control_->tabla->Obtener(control_, dispid, &c), dispid);
    return Copiar(c, dispid);
  }
  Variante Llamar(int32_t dispid) override {
    PagoraVariante c{};
    Verificar(control_->tabla->Llamar(control_, dispid, &c), dispid);
    return Copiar(c, dispid);
  }

 private:
  void Verificar(int32_t codigo, int32_t dispid) {
    if (codigo == PAGORA_OK) return;
    const char* texto = control_->tabla->UltimoError(control_);
    throw ErrorControl(codigo,
                       "DISPID " + NombrarDispid(dispid) + ": " + (texto && *texto ? texto : "error"));
  }
  static Variante Copiar(const PagoraVariante& c, int32_t dispid) {
    if (auto v = Variante::DeC(c)) return *v;
    throw ErrorControl(PAGORA_E_TIPO, "DISPID " + NombrarDispid(dispid) + ": tipo de valor desconocido " +
                                          std::to_string(c.tipo));
  }

  std::shared_ptr<void> biblioteca_;  // declared first: released after the control
  PagoraControl* control_;
};

}  // namespace

Registro Registro::DelEntorno(const std::string& carpeta, const std::vector<std::string>& otros) {
  Registro r;
  if (const char* v = std::getenv(kVariableRegistro)) r.Agregar(v);
  r.AgregarArchivo((std::filesystem::path(carpeta) / kArchivoRegistro).string());
  for (const std::string& archivo : otros) r.AgregarArchivo(archivo);
  return r;
}

void Registro::Agregar(const std::string& entradas, const std::string& base) {
  std::string linea;
  std::istringstream in(entradas);
  while (std::getline(in, linea)) {
    std::istringstream partes(linea);
    std::string entrada;
    while (std::getline(partes, entrada, ';')) {
      entrada = Recortar(entrada, kBlancos);
      const auto igual = entrada.find('=');
      if (entrada.empty() || entrada[0] == '#' || igual == std::string::npos) continue;
      const std::string progid = Minusculas(Recortar(entrada.substr(0, igual), kBlancos));
      std::filesystem::path ruta = Recortar(entrada.substr(igual + 1), kBlancos);
      if (progid.empty() || ruta.empty()) continue;
      if (ruta.is_relative() && !base.empty()) ruta = std::filesystem::path(base) / ruta;
      entradas_.emplace(progid, ruta.string());
    }
  }
}

void Registro::AgregarArchivo(const std::string& ruta) {
  std::ifstream f(ruta);
  if (!f) return;
  std::ostringstream texto;
  texto << f.rdbuf();
  Agregar(texto.str(), std::filesystem::path(ruta).parent_path().string());
}

std::optional<std::string> Registro::Buscar(const std::string& progid) const {
  auto i = entradas_.find(Minusculas(progid));
  if (i == entradas_.end()) return std::nullopt;
  return i->second;
}

std::unique_ptr<Control> Registro::Crear(const std::string& progid) const {
  const auto ruta = Buscar(progid);
  if (!ruta) throw ErrorControl(kErrClaseNoRegistrada, "La clase \"" + progid + "\" no está registrada");
  auto biblioteca = AbrirBiblioteca(*ruta);
  PagoraControl* c = PuntoEntrada(biblioteca.get(), *ruta)(progid.c_str(), PAGORA_CONTROL_ABI);
  if (!c || !c->tabla || c->tabla->abi != PAGORA_CONTROL_ABI) {
    // A table of another version may be laid out differently: nothing in it is called.
    throw ErrorControl(kErrClaseNoDisponible,
                       "La biblioteca " + *ruta + " no crea la clase \"" + progid + "\"");
  }
  return std::make_unique<ControlBiblioteca>(std::move(biblioteca), c);
}

}  // namespace prueba
