// cMensajes: the process-wide message object; where its boxes appear is injected.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace solvane {

// Styles as the messages name them; the answer Yes is 6, OK is 1, No is 7.
enum EstiloMensaje : int {
  kEstiloStop = 16,
  kEstiloExclamacion = 48,
  kEstiloPregunta = 52,
  kEstiloInfo = 64
};
constexpr int kRespuestaAceptar = 1;
constexpr int kRespuestaSi = 6;
constexpr int kRespuestaNo = 7;

// Shows one message and returns the button pressed. QMessageBox in the window, standard
// output/input in console mode, a recorder in tests.
class Presentador {
 public:
  virtual ~Presentador() = default;
  virtual int Mostrar(const std::string& titulo, const std::string& texto, int estilo) = 0;
};

// A stop or exclamation message as it was shown, with the number of the error behind it when it came
// from one.
struct Aviso {
  int estilo;
  std::string texto;
  std::optional<long> numero;
};

class cMensajes {
 public:
  void Titulo(const std::string& titulo) { titulo_ = titulo; }
  const std::string& Titulo() const { return titulo_; }
  // No presenter: answers No/OK silently. `numero`: the error the message tells of, if any.
  int Mostrar(const std::string& texto, int estilo, std::optional<long> numero = std::nullopt);
  void FijarPresentador(std::shared_ptr<Presentador> presentador) { presentador_ = std::move(presentador); }
  // Where stop and exclamation messages are also noted, in order (a run's outcome report); null = nowhere.
  void Anotar(std::vector<Aviso>* avisos) { avisos_ = avisos; }

 private:
  std::string titulo_;
  std::shared_ptr<Presentador> presentador_;
  std::vector<Aviso>* avisos_ = nullptr;
};

cMensajes& Mensajes();

}  // namespace solvane
