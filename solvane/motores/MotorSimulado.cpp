// The simulated engine: script file (and a server's journal) in, whole state out on the outermost commit.
#include "MotorSimulado.h"

#include <filesystem>
#include <optional>
#include <utility>

#include "Errores.h"
#include "motor/Deposito.h"

namespace solvane {

namespace {

// Everything the emulator raises leaves this engine as ErrorBD: a refused statement with the server's
// number, a file fault with its errno, anything else (memory, a fault of the emulator) with number 0 and
// its own text. `prefijo` goes before a refused statement's text.
template <typename F>
auto Frontera(F&& hacer, const std::string& prefijo = {}) -> decltype(hacer()) {
  try {
    return hacer();
  } catch (const ErrorBD&) {
    throw;
  } catch (const simulado::ErrorSql& e) {
    throw ErrorBD(e.numero, prefijo + e.descripcion);
  } catch (const simulado::ErrorArchivo& e) {
    throw ErrorBD(e.errno_, e.descripcion);
  } catch (const std::exception& e) {
    throw ErrorBD(0, e.what());
  }
}

class MotorSimulado final : public MotorBD {
 public:
  explicit MotorSimulado(std::string archivo) : archivo_(std::move(archivo)) {}
  // Over a database held in memory by its owner: connecting opens nothing, commits write nothing.
  MotorSimulado(std::shared_ptr<simulado::Servidor> enMemoria, std::string nombre)
      : archivo_(std::move(nombre)), enMemoria_(std::move(enMemoria)) {}
  ~MotorSimulado() override { Desconectar(); }

  // A journal left by solvane-servidor is applied on loading; the first commit folds it into the file.
  void Conectar() override {
    Desconectar();
    if (enMemoria_) {
      servidor_ = enMemoria_.get();
      return;
    }
    base_ = Frontera(
        [&] {
          return std::make_unique<simulado::Deposito>(archivo_, std::chrono::seconds(5),
                                                      std::filesystem::path(archivo_).stem().string());
        },
        "Base de datos " + archivo_ + ": ");
    servidor_ = &base_->Motor();
  }

  void Desconectar() noexcept override {
    Deshacer();
    servidor_ = nullptr;
    base_.reset();
  }

  void Ejecutar(const std::string& sentencia) override {
    Frontera([&] { Conectado().Ejecutar(sentencia); });
  }

  PrimeraFila Consultar(const std::string& sentencia) override {
    return Frontera([&] {
      auto r = Conectado().Ejecutar(sentencia, 1);
      PrimeraFila p;
      p.Columnas = std::move(r.columnas);
      if (!r.filas.empty()) p.Fila = std::move(r.filas.front());
      return p;
    });
  }

  std::vector<std::string> Recorrer(const std::string& sentencia, const LectorFilas& fila) override {
    return Frontera([&] {
      std::vector<std::string> columnas;
      std::optional<simulado::ErrorSql> error;
      simulado::Servidor::Receptor r;
      r.columnas = [&](const simulado::Resultado& res) { columnas = res.columnas; };
      r.fila = [&](const std::vector<std::optional<std::string>>& valores) { return fila(valores); };
      r.fin = [&](const simulado::Resultado*, const simulado::ErrorSql* e) {
        if (e) error = *e;
        return !e;
      };
      Conectado().EjecutarLote(sentencia, r);
      if (error) throw *error;
      return columnas;
    });
  }

  void Comenzar() override { Ejecutar("BEGIN TRANSACTION"); }

  // The file is written before the server commits: if the write fails, the transaction is undone and
  // the caller told, so memory and file never disagree.
  void Confirmar() override {
    auto& s = Conectado();
    if (s.NivelTransaccion() == 0) throw ErrorConfirmarSinComenzar();
    try {
      if (base_) Frontera([&] { base_->Grabar(); });
    } catch (...) {
      Deshacer();
      throw;
    }
    Ejecutar("COMMIT TRANSACTION");
  }

  void Deshacer() noexcept override {
    if (!servidor_) return;
    try {
      if (servidor_->NivelTransaccion() > 0) servidor_->Ejecutar("ROLLBACK TRANSACTION");
    } catch (...) {
    }
  }

  bool TransaccionAbierta() const override { return servidor_ && servidor_->NivelTransaccion() > 0; }

  std::string NombreServidor() const override {
    return enMemoria_ ? "SQL Server simulado (" + archivo_ + ", en memoria)"
                      : "SQL Server simulado (" + archivo_ + ")";
  }

 private:
  simulado::Servidor& Conectado() {
    if (!servidor_) throw ErrorObjetoCerrado();
    return *servidor_;
  }

  std::string archivo_;
  std::shared_ptr<simulado::Servidor> enMemoria_;
  std::unique_ptr<simulado::Deposito> base_;
  simulado::Servidor* servidor_ = nullptr;  // enMemoria_'s or base_'s
};

}  // namespace

std::unique_ptr<MotorBD> CrearMotorSimulado(std::string archivo) {
  return std::make_unique<MotorSimulado>(std::move(archivo));
}

std::unique_ptr<MotorBD> CrearMotorEnMemoria(std::shared_ptr<simulado::Servidor> servidor,
                                             std::string nombre) {
  return std::make_unique<MotorSimulado>(std::move(servidor), std::move(nombre));
}

}  // namespace solvane
