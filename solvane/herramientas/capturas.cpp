// solvane_capturas: draws Solvane's two windows offscreen into the PNG pictures of the documentation.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTemporaryDir>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

#include "frentes/ventanas/frmSolvane.h"

namespace {

// The windows raise a box only when something is off (another copy holds the lock); the picture taken
// then would not be the usual one, so every box is reported and fails the run.
class Avisos : public solvane::Presentador {
 public:
  int Mostrar(const std::string& titulo, const std::string& texto, int estilo) override {
    std::cerr << "solvane_capturas: la ventana avisó «" << titulo << ": " << texto << "»\n";
    ++mostrados;
    return estilo == solvane::kEstiloPregunta ? solvane::kRespuestaNo : solvane::kRespuestaAceptar;
  }
  int mostrados = 0;
};

bool Guardar(QWidget& ventana, const QDir& carpeta, const QString& nombre) {
  const QString ruta = carpeta.filePath(nombre);
  const QPixmap imagen = ventana.grab();
  if (!imagen.isNull() && imagen.save(ruta, "PNG")) return true;
  std::cerr << "solvane_capturas: no se pudo escribir " << ruta.toStdString() << "\n";
  return false;
}

}  // namespace

// Usage: solvane_capturas CARPETA. Writes solvane-frmSolvane.png and solvane-frmActualiza.png there;
// exit status 0 when both were written from windows that showed no box, 1 otherwise, 2 on misuse.
int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::cerr << "uso: solvane_capturas CARPETA\n";
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication aplicacion(argc, argv);
  const QDir carpeta(QString::fromLocal8Bit(argv[1]));
  if (!carpeta.exists()) {
    std::cerr << "solvane_capturas: no existe la carpeta " << argv[1] << "\n";
    return 1;
  }
  // A lock of its own, so that a Solvane running on this machine does not change the main window.
  const QTemporaryDir privada;
  if (!privada.isValid()) {
    std::cerr << "solvane_capturas: no se pudo crear una carpeta temporal: "
              << privada.errorString().toStdString() << "\n";
    return 1;
  }
  auto avisos = std::make_shared<Avisos>();
  solvane::EntornoSolvane entorno;
  entorno.presentador = avisos;
  entorno.bloqueo = privada.filePath("solvane.lock");
  entorno.bombear = false;

  solvane::frmSolvane principal(entorno);
  principal.show();
  // The progress window part-way through the chain, its picture two frames into the sweep.
  solvane::frmActualiza progreso;
  progreso.Mostrar();
  progreso.Etiqueta("Actualizando Version a 3.0.5");
  for (int i = 0; i < 2; ++i) progreso.tmeActualiza_Timer();
  QApplication::processEvents();

  bool bien = avisos->mostrados == 0;
  bien = Guardar(principal, carpeta, "solvane-frmSolvane.png") && bien;
  bien = Guardar(progreso, carpeta, "solvane-frmActualiza.png") && bien;
  progreso.Descargar();
  return bien ? 0 : 1;
}
