// Operaciones.h: the form's operations on the transaction control, without any widget.
#pragma once

#include <optional>
#include <string>

#include "ISOPagora.h"

namespace prueba {

enum class Operacion { kVenta, kAnulacion, kCierre, kVerificacion };
enum class Campo { kMonto, kDocumento, kNroDocOriginal };

// Message-box styles: a result has no icon, a check the information icon, an error the stop icon.
enum Estilo : int { kEstiloResultado = 0, kEstiloDetener = 16, kEstiloInformacion = 64 };
inline constexpr const char* kTitulo = "Prueba";

// Where messages go: message boxes in the window, a recorder in tests.
class Avisos {
 public:
  virtual ~Avisos() = default;
  virtual void Mostrar(const std::string& titulo, const std::string& texto, int estilo) = 0;
};

// What the operations read from the form and do to it.
class Vista {
 public:
  virtual ~Vista() = default;
  virtual Operacion Elegida() const = 0;
  virtual bool Pesos() const = 0;
  virtual std::string Monto() const = 0;  // the texts as typed, UTF-8
  virtual std::string Fecha() const = 0;
  virtual std::string Documento() const = 0;
  virtual std::string NroDocOriginal() const = 0;
  virtual void Foco(Campo campo) = 0;
  virtual void Ocupado(bool ocupado) = 0;  // the busy pointer
};

// Name of the connection file handed to the control, in the program's folder.
inline constexpr const char* kArchivoConexion = "PagoraCliente.conexion";
// The database server written at load.
inline constexpr const char* kServidor = "localhost";

// One procedure per button. Each writes the control's properties in a fixed order, calls one method and
// shows one message; the input checks stop before anything is written. Errors of the control pass up.
class Operaciones {
 public:
  Operaciones(ISOPagora& control, Vista& vista, Avisos& avisos)
      : c_(control), vista_(vista), avisos_(avisos) {}

  // Load: fixed configuration, then Inicializar. `carpeta` is the program's folder.
  void ConfigurarControl(const std::string& carpeta);
  void Configurar();
  void ConsultaPagora();
  void ConsultaServicio();
  void ProcesarTarjeta();
  void ProcesarCierre();
  void Confirmar();
  void ConfirmarServicio();

  // The connection file's path: folder, the platform's separator, file name.
  static std::string RutaConexion(const std::string& carpeta);

 private:
  std::optional<double> Monto() const;
  int32_t Moneda() const { return vista_.Pesos() ? 0 : 1; }
  bool ExigirMonto();  // shows the check's message when there is no amount
  void Informar(const std::string& texto) { avisos_.Mostrar(kTitulo, texto, kEstiloInformacion); }
  void Resultado(const std::string& texto) { avisos_.Mostrar(kTitulo, texto, kEstiloResultado); }
  // Both confirmations: the document, the method, then the code and one more piece after `rotulo`.
  void Confirmacion(bool (ISOPagora::*confirmar)(), const char* rotulo, std::string (ISOPagora::*segundo)());
  std::string AprobacionTarjeta();
  void RechazoTarjeta();

  ISOPagora& c_;
  Vista& vista_;
  Avisos& avisos_;
};

}  // namespace prueba
