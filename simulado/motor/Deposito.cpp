// A database in its file: loading the file and replaying its journal, the whole-file write and the journal's.
#include "Deposito.h"

namespace simulado {

Deposito::Deposito(const std::string& ruta, std::chrono::milliseconds espera, const std::string& nombreBase,
                   std::uint64_t maximoDiario)
    : motor_(std::make_unique<Servidor>(nombreBase)), maximo_(maximoDiario) {
  Servidor::Carga carga(*motor_);
  bool cargada = false;
  std::size_t n = 0;
  auto terminar = [&] {
    if (!cargada) carga.Terminar();
    cargada = true;
  };
  archivo_ = ArchivoBase::Abrir(
      ruta, espera, [&](std::string_view trozo) { carga.Agregar(trozo); },
      [&](std::string_view registro) {
        terminar();
        ++n;
        try {
          motor_->Reproducir(registro);
        } catch (const ErrorSql& e) {
          throw ErrorSql(e.numero, "El diario " + ruta +
                                       ".diario no se puede aplicar a la base (confirmación " +
                                       std::to_string(n) + "): " + e.descripcion);
        }
      });
  terminar();
  if (maximo_ > 0) motor_->Anotar(true);
}

void Deposito::Grabar() {
  archivo_->Escribir([&](const ArchivoBase::Trozos& salida) { motor_->Script(salida); });
  // The journal starts again from the file just written: a load of its dump, not this very state.
  if (maximo_ > 0) motor_->Anotar(true, true);
}

void Deposito::Confirmar() {
  const std::string& notas = motor_->Notas();
  if (maximo_ == 0 || motor_->NotasConEsquema() || !archivo_->DiarioSano() ||
      archivo_->BytesDiario() + notas.size() > maximo_) {
    Grabar();
    return;
  }
  if (!notas.empty()) archivo_->Anotar(notas);
}

}  // namespace simulado
