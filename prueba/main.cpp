// main.cpp: Prueba's start: the control registry, the form and, on request, a picture of it.
#include <QApplication>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <string>

#include "Registro.h"
#include "Traducciones.h"
#include "frmPrueba2.h"

namespace {

// Messages of a run that only takes a picture go to standard error instead of modal boxes.
class AvisosConsola : public prueba::Avisos {
 public:
  void Mostrar(const std::string& titulo, const std::string& texto, int) override {
    std::fprintf(stderr, "%s: %s\n", titulo.c_str(), texto.c_str());
  }
};

}  // namespace

// prueba [--captura archivo.png] | --version
int main(int argc, char** argv) {
  // Answered before Qt starts, so that it needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("prueba %s\n", PRUEBA_VERSION);
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Prueba"));
  prueba::CargarTraduccionesQt(app);
  const QStringList args = QCoreApplication::arguments();
  const qsizetype i = args.indexOf(QStringLiteral("--captura"));
  const QString captura = i > 0 && i + 1 < args.size() ? args[i + 1] : QString();

  // Installed, the registration lives in /etc/pagora (the administrator's) and in share/pagora (the
  // package's, found from the program's folder so that a moved installation still finds it).
  const std::string carpeta = QCoreApplication::applicationDirPath().toStdString();
  const prueba::Registro registro = prueba::Registro::DelEntorno(
      carpeta, {std::string(PRUEBA_REGISTRO_SISTEMA), carpeta + "/" PRUEBA_REGISTRO_INSTALADO});
  AvisosConsola consola;
  prueba::frmPrueba2 form([&registro](const std::string& progid) { return registro.Crear(progid); },
                          captura.isEmpty() ? nullptr : &consola);
  form.Cargar();
  form.show();
  if (!captura.isEmpty()) return form.grab().save(captura) ? 0 : 1;
  return QApplication::exec();
}
