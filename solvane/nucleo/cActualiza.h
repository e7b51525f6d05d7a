// cActualiza: the version gate, the migration chain driver, the inspection helpers and the steps.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cBaseDatos.h"
#include "cMensajes.h"

namespace solvane {

// Where the driver shows its progress: the progress window, console lines, or nothing in tests.
class Progreso {
 public:
  virtual ~Progreso() = default;
  virtual void Mostrar() = 0;                           // show without blocking, label visible
  virtual void Etiqueta(const std::string& texto) = 0;  // caption of the step in progress
  virtual void Descargar() = 0;                         // unload at the end of the chain
};

// "Let pending window events run": processEvents in the window, nothing in console and tests.
using Bombeo = std::function<void()>;

// The version code of major, minor and revision ("00" per part, concatenated); a code beyond 16 bits
// raises ErrorBD 6 "Overflow".
std::int16_t CodigoVersion(int mayor, int menor, int revision);

// The version a code stands for, "a.b.c" (30100 is "3.1.0", 20516 "2.5.16"; a negative code, which no
// version makes but a database may hold, is written with its sign in front: -5 is "-0.0.5").
std::string TextoDeCodigo(std::int16_t codigo);

// The program's own version code, from the build's version numbers.
std::int16_t VersionProgramaPorDefecto();

// The program's version as the job receives it: a code, or version numbers turned into a code only when
// the cActualiza is created, so that a version that does not fit ends that run with its error message.
class VersionPrograma {
 public:
  VersionPrograma();                                         // the build's version numbers
  VersionPrograma(std::int16_t codigo) : codigo_(codigo) {}  // NOLINT(google-explicit-constructor)
  VersionPrograma(int mayor, int menor, int revision) : numeros_{mayor, menor, revision} {}
  std::int16_t Codigo() const;

 private:
  std::optional<std::int16_t> codigo_;
  int numeros_[3] = {0, 0, 0};
};

// A step of the chain as a run takes it: the code it starts from, the code it leaves, its caption.
struct PasoPendiente {
  std::int16_t desde;
  std::int16_t hacia;
  std::string etiqueta;
};

// What one run did, noted by cActualiza as it goes when it is given one (see Anotar): for the run's
// outcome report, which the cActualiza does not outlive.
struct Corrida {
  std::optional<std::int16_t> versionBD;  // the code read from Parametros
  std::optional<int> respuesta;           // the operator's answer, when the question was asked
  std::vector<PasoPendiente> pasos;       // the steps started, in order; a failed chain stopped in the last
  bool grabada = false;                   // the program's version was recorded and the transaction committed
};

class cActualiza {
 public:
  cActualiza(cBaseDatos& bd, cMensajes& mensajes, Progreso& progreso, Bombeo bombeo,
             std::int16_t versionPrograma = VersionProgramaPorDefecto());

  bool ActualizaVersion();
  // Throws ErrorBD 3021 when Parametros has no row: no version to start the chain from or to record.
  bool VersionActual(bool& bActSistema, std::string& sVersionBD);
  bool ActualizaBaseDatos();

  std::int16_t iVersionPrograma() const { return iVersionPrograma_; }
  std::int16_t iVersionBD() const { return iVersionBD_; }

  // The steps ActualizaBaseDatos would run from iVersionBD, in order, without running anything (read
  // VersionActual first). `reconocida` is false when the chain would stop on a code below the program's
  // that has no step (the run refuses it); a code above the program's gives no step and stays recognised.
  std::vector<PasoPendiente> Pendientes(bool& reconocida) const;
  // Where the run notes what it does; null (the default) notes nothing. `corrida` must outlive the run.
  void Anotar(Corrida* corrida) { corrida_ = corrida; }

  // Tests: run this instead of the step that leaves the database at `desde`.
  using Paso = std::function<void(bool& ok)>;
  void ReemplazarPaso(std::int16_t desde, Paso paso) { pasosReemplazados_[desde] = std::move(paso); }

 private:
  friend struct AccesoPrueba;  // the tests reach the helpers through it

  // A row of the chain, and the row that starts from `actual` (null when none does).
  struct Eslabon;
  static const Eslabon* BuscarEslabon(std::int16_t actual);

  // Inspection helpers.
  bool ExisteCampo(const std::string& tabla, const std::string& campo, std::string& valor);
  // ExisteCampo that also tells whether a row came back.
  bool LeerCampo(const std::string& tabla, const std::string& campo, std::string& valor, bool& hayFila);
  std::string ObtenerCollation(std::string tabla, std::string campo, bool conClausula);
  bool ExisteTabla(const std::string& tabla);
  bool ExisteVista(const std::string& vista);
  bool ExisteIndice(const std::string& tabla, const std::string& indice);
  bool EliminarTabla(const std::string& tabla);
  bool GrabarVersion();

  // One statement of a step, then the pump.
  void Ejecutar(const std::string& sentencia);
  // One statement without the pump (the few statements the steps run that way).
  void EjecutarSinBombeo(const std::string& sentencia);
  // The step frame of 2.5.1 to 2.5.16: own transaction, error message "ERROR de Actualización a
  // Version <version> " CR LF number blank description, cancel, ok False.
  void EnTransaccion(const char* version, bool& ok, const std::function<void()>& cuerpo);
  // The steps' column guard without the value nobody reads, and the column added only when it is missing
  // (its statement run with the pump). Bodies in pasos/Ayudantes.cpp.
  bool ExisteCampo(const std::string& tabla, const std::string& campo);
  void AgregarCampo(const std::string& tabla, const std::string& campo, const std::string& sentencia);

  // Steps, named after the version they leave behind.
  void ActualizarA2_5_0(bool& ok);
  void ActualizarA2_5_1(bool& ok);
  void ActualizarA2_5_2(bool& ok);
  void ActualizarA2_5_3(bool& ok);
  void ActualizarA2_5_4(bool& ok);
  void ActualizarA2_5_5(bool& ok);
  void ActualizarA2_5_6(bool& ok);
  void ActualizarA2_5_7(bool& ok);
  void ActualizarA2_5_9(bool& ok);
  void ActualizarA2_5_10(bool& ok);
  void ActualizarA2_5_11(bool& ok);
  void ActualizarA2_5_14(bool& ok);
  void ActualizarA2_5_15(bool& ok);
  void ActualizarA2_5_16(bool& ok);
  void ActualizarA3_0_0(bool& ok);
  void ActualizarA3_0_1(bool& ok);
  void ActualizarA3_0_2(bool& ok);
  void ActualizarA3_0_3(bool& ok);
  void ActualizarA3_0_4(bool& ok);
  void ActualizarA3_0_5(bool& ok);
  void ActualizarA3_0_6(bool& ok);
  void ActualizarA3_0_7(bool& ok);
  void ActualizarA3_0_8(bool& ok);
  void ActualizarA3_0_9(bool& ok);
  void ActualizarA3_1_0(bool& ok);

  cBaseDatos& bd_;
  cMensajes& mensajes_;
  Progreso& progreso_;
  Bombeo bombeo_;
  std::int16_t iVersionPrograma_;
  std::int16_t iVersionBD_ = 0;
  std::map<std::int16_t, Paso> pasosReemplazados_;
  Corrida* corrida_ = nullptr;
};

// A probe: runs the query and tells whether it brought back a row; the row is not read. Errors are
// raised to the caller.
bool HayFila(cBaseDatos& bd, const std::string& sentencia);

// The general module's helper: adds a permission row to Seguridad unless its code is there.
void AgregarSeguridad(cBaseDatos& bd, const std::string& codigo, const std::string& descripcion,
                      std::uint8_t nivel, bool editable);

}  // namespace solvane
