// Test engine wrapper: traces every call, refuses the Nth statement, and can slip extra data in.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "motores/Motor.h"

namespace solvane::pruebas {

// What the wrapper saw, in order: "E <sql>" executed, "Q <sql>" queried, "BEGIN", "COMMIT",
// "ROLLBACK", and whatever the test adds itself (the pump writes "-- bombeo").
struct Traza {
  std::vector<std::string> lineas;
  std::size_t contadas = 0;  // statements seen
  std::string refusada;      // the statement refused; empty when none was
  void Anotar(std::string linea) { lineas.push_back(std::move(linea)); }
};

// How the Nth statement fails.
enum class Falla {
  Simple,   // refused; the transaction stays open (a duplicate key, a missing object)
  Condena,  // refused and the server rolls the transaction back itself (a conversion error)
};

inline constexpr long kNumeroFalla = 50000;

// Wraps the engine that cBaseDatos builds. Statements (Ejecutar and Consultar) are counted from 1;
// the one numbered `fallarEn` is refused without reaching the inner engine. `fallarConfirmar`
// refuses the outermost commit instead. After an executed statement that starts with a registered
// prefix, the extra statements run on the inner engine untraced and uncounted: data that a shop
// would have entered between two versions.
class MotorConFallas : public MotorBD {
 public:
  MotorConFallas(std::unique_ptr<MotorBD> interior, std::shared_ptr<Traza> traza)
      : interior_(std::move(interior)), traza_(std::move(traza)) {}

  void FallarEn(std::size_t n, Falla tipo = Falla::Simple) {
    fallarEn_ = n;
    tipo_ = tipo;
  }
  void FallarConfirmar() { fallarConfirmar_ = true; }
  void Despues(std::string prefijo, std::vector<std::string> sentencias) {
    despues_.emplace_back(std::move(prefijo), std::move(sentencias));
  }

  void Conectar() override { interior_->Conectar(); }
  void Desconectar() noexcept override { interior_->Desconectar(); }

  void Ejecutar(const std::string& sentencia) override {
    traza_->Anotar("E " + sentencia);
    Contar(sentencia);
    interior_->Ejecutar(sentencia);
    for (const auto& [prefijo, extra] : despues_)
      if (sentencia.rfind(prefijo, 0) == 0)
        for (const auto& s : extra) interior_->Ejecutar(s);
  }

  PrimeraFila Consultar(const std::string& sentencia) override {
    traza_->Anotar("Q " + sentencia);
    Contar(sentencia);
    return interior_->Consultar(sentencia);
  }

  void Comenzar() override {
    traza_->Anotar("BEGIN");
    interior_->Comenzar();
  }
  void Confirmar() override {
    traza_->Anotar("COMMIT");
    if (fallarConfirmar_) throw ErrorBD(kNumeroFalla, "Falla inyectada al confirmar");
    interior_->Confirmar();
  }
  void Deshacer() noexcept override {
    traza_->Anotar("ROLLBACK");
    interior_->Deshacer();
  }
  bool TransaccionAbierta() const override { return interior_->TransaccionAbierta(); }
  std::string NombreServidor() const override { return interior_->NombreServidor(); }

  MotorBD& Interior() { return *interior_; }

 private:
  void Contar(const std::string& sentencia) {
    if (++traza_->contadas != fallarEn_) return;
    traza_->refusada = sentencia;
    if (tipo_ == Falla::Condena) interior_->Deshacer();
    throw ErrorBD(kNumeroFalla, "Falla inyectada en la sentencia " + std::to_string(fallarEn_));
  }

  std::unique_ptr<MotorBD> interior_;
  std::shared_ptr<Traza> traza_;
  std::size_t fallarEn_ = 0;
  Falla tipo_ = Falla::Simple;
  bool fallarConfirmar_ = false;
  std::vector<std::pair<std::string, std::vector<std::string>>> despues_;
};

}  // namespace solvane::pruebas
