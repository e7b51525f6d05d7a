// The two windows offscreen: captions, object names, button state, the sweep, the boxes, the lock.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <filesystem>

#include "Archivos.h"
#include "Grabadores.h"
#include "frentes/ventanas/PresentadorQt.h"
#include "frentes/ventanas/Traducciones.h"
#include "frentes/ventanas/frmSolvane.h"

namespace solvane {
namespace {

using pruebas::Carpeta;
using pruebas::Escribir;
using pruebas::Grabador;

struct Ventanas : ::testing::Test {
  Ventanas() {
    m.FijarPresentador(grabador);
    bd.Mensajes(&m);
    entorno.presentador = grabador;
    entorno.bd = &bd;
    entorno.mensajes = &m;
    entorno.bloqueo = QString::fromStdString((carpeta / "solvane.lock").string());
    entorno.bombear = false;
  }
  // A connection file naming a copy of `script`.
  void Base(const std::string& script) {
    Escribir(carpeta / "base.sql", script);
    Escribir(carpeta / "PagoraCliente.conexion", "Motor=simulado\nArchivo=base.sql\n");
    bd.ArchivoExplicito((carpeta / "PagoraCliente.conexion").string());
  }
  Carpeta carpeta{"ventanas"};
  std::shared_ptr<Grabador> grabador = std::make_shared<Grabador>();
  cMensajes m;
  cBaseDatos bd;
  EntornoSolvane entorno;
};

std::string Version(const std::string& v) {
  return "CREATE TABLE Parametros (PAR_Version smallint NULL)\nGO\nINSERT INTO Parametros (PAR_Version) "
         "VALUES (" +
         v + ")\nGO\n";
}

TEST_F(Ventanas, DisenoDeLaVentanaPrincipal) {
  frmSolvane f(entorno);
  EXPECT_EQ(f.objectName(), "frmSolvane");
  EXPECT_EQ(f.windowTitle(), "Pagora Vavidev Actualizar Base de Datos");
  EXPECT_EQ(f.findChild<QPushButton*>("cmdActualizar")->text(), "Actualizar Base");
  EXPECT_EQ(f.findChild<QLabel*>("lblTexto")->text(), "Actualizar Base Pagora Vavidev");
  EXPECT_EQ(f.findChild<QLabel*>("lblVersion")->text(), "Version 3.1.0");
  EXPECT_TRUE(grabador->mensajes.empty());
}

TEST_F(Ventanas, OtraCopiaEnEjecucion) {
  InstanciaUnica primera(entorno.bloqueo);
  ASSERT_FALSE(primera.HayOtra());
  frmSolvane f(entorno);
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto, "Pagora Vavidev Act. BDYa se está ejecutando en su máquina");
  EXPECT_EQ(grabador->titulos[0], "Pagora Vavidev Act. BD");
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloInfo);
  EXPECT_EQ(f.findChild<QLabel*>("lblVersion")->text(), "Version 00.00.00");
  // Its button still works.
  Base(Version("30100"));
  f.findChild<QPushButton*>("cmdActualizar")->click();
  EXPECT_EQ(grabador->mensajes.back().texto, "Proceso Pagora Vavidev Act. BD Finalizado");
}

TEST_F(Ventanas, BotonTrasFracasoYTrasExito) {
  frmSolvane f(entorno);
  auto* boton = f.findChild<QPushButton*>("cmdActualizar");
  bool deshabilitadoAlMostrar = false;
  grabador->alMostrar = [&] { deshabilitadoAlMostrar = !boton->isEnabled(); };
  Base(Version("30200"));
  boton->click();
  EXPECT_TRUE(deshabilitadoAlMostrar) << "a second click could start a nested run";
  EXPECT_TRUE(boton->isEnabled());
  EXPECT_FALSE(bd.Conectado());
  EXPECT_EQ(grabador->mensajes.back().texto.rfind("DEBE ACTUALIZAR ", 0), 0u);

  bd.ArchivoExplicito(carpeta / "no.conexion");
  boton->click();
  EXPECT_TRUE(boton->isEnabled());

  Base(Version("30100"));
  boton->click();
  EXPECT_FALSE(boton->isEnabled()) << "a migrated database must not be migrated twice per start";
  EXPECT_FALSE(bd.Conectado());
}

TEST_F(Ventanas, CorridaCompletaSobreLaBaseDeDemostracion) {
  Base(pruebas::Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql"));
  frmSolvane f(entorno);
  f.findChild<QPushButton*>("cmdActualizar")->click();
  EXPECT_EQ(grabador->mensajes.back().texto, "Proceso Pagora Vavidev Act. BD Finalizado");
  frmActualiza& p = f.Progreso();
  EXPECT_FALSE(p.isVisible()) << "the progress window must be unloaded at the end";
  EXPECT_EQ(p.windowTitle(), "Pagora Vavidev Act. BD");
  EXPECT_EQ(p.findChild<QLabel*>("lblVersion")->text(), "Actualizando Version a 3.1.0");
}

TEST_F(Ventanas, VentanaDeProgreso) {
  frmActualiza p;
  EXPECT_EQ(p.windowTitle(), "Form1");
  EXPECT_EQ(p.findChild<QLabel*>("Label1")->text(), "Velmoriantex");
  EXPECT_EQ(p.findChild<QLabel*>("lblVersion")->text(), "Actualizando Version a ");
  auto* timer = p.findChild<QTimer*>("tmeActualiza");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 250);

  p.Mostrar();
  p.Etiqueta("Actualizando Version a 2.5.9");
  EXPECT_TRUE(p.isVisible());
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(p.windowTitle(), "Pagora Vavidev Act. BD");
  EXPECT_EQ(p.findChild<QLabel*>("lblVersion")->text(), "Actualizando Version a 2.5.9");
  const QRect pantalla = QGuiApplication::primaryScreen()->geometry();
  EXPECT_LE(std::abs(p.x() + p.width() / 2 - pantalla.center().x()), 1);
  EXPECT_LE(std::abs(p.y() + p.height() / 2 - pantalla.center().y()), 1);

  auto* pct = p.findChild<QLabel*>("pctActualiza");
  const QImage primera = pct->pixmap().toImage();
  EXPECT_EQ(primera.size(), QSize(32, 32));
  std::vector<int> vistos;
  for (int i = 0; i < 10; ++i) {
    p.tmeActualiza_Timer();
    vistos.push_back(p.FotogramaMostrado());
  }
  EXPECT_EQ(vistos, (std::vector<int>{1, 2, 3, 2, 1, 0, 1, 2, 3, 2}));
  EXPECT_NE(pct->pixmap().toImage(), primera);
  p.Descargar();
  EXPECT_FALSE(timer->isActive());
  p.Mostrar();
  EXPECT_EQ(p.FotogramaMostrado(), 0);
  EXPECT_EQ(pct->pixmap().toImage(), primera);
  p.tmeActualiza_Timer();
  EXPECT_EQ(p.FotogramaMostrado(), 3) << "a second run continues the sweep";
  p.Descargar();
}

// A run ended by an error leaves the window loaded: the next run does not load it again, so the picture
// and direction carry on and a window the operator moved stays where it is.
TEST_F(Ventanas, VentanaQueQuedoAbiertaNoSeVuelveACargar) {
  frmActualiza p;
  p.Mostrar();
  p.tmeActualiza_Timer();
  p.tmeActualiza_Timer();
  p.tmeActualiza_Timer();
  p.tmeActualiza_Timer();
  ASSERT_EQ(p.FotogramaMostrado(), 2);
  p.move(p.pos() + QPoint(40, 30));
  const QPoint movida = p.pos();
  p.Mostrar();
  EXPECT_EQ(p.FotogramaMostrado(), 2);
  EXPECT_EQ(p.pos(), movida);
  p.tmeActualiza_Timer();
  EXPECT_EQ(p.FotogramaMostrado(), 1) << "the sweep keeps going down";
  p.Descargar();
  p.Mostrar();
  EXPECT_EQ(p.FotogramaMostrado(), 0);
  EXPECT_NE(p.pos(), movida);

  // Closed by the operator while left open, it is loaded again by the next run.
  p.tmeActualiza_Timer();
  p.close();
  EXPECT_FALSE(p.findChild<QTimer*>("tmeActualiza")->isActive());
  p.Mostrar();
  EXPECT_EQ(p.FotogramaMostrado(), 0);
  p.Descargar();
}

TEST_F(Ventanas, ElTemporizadorAvanzaConLosEventos) {
  frmActualiza p;
  p.Mostrar();
  QElapsedTimer reloj;
  reloj.start();
  while (p.FotogramaMostrado() == 0 && reloj.elapsed() < 3000)
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(p.FotogramaMostrado(), 1);
  p.Descargar();
}

// The real boxes: answered by clicking their buttons as soon as they are shown.
int Responder(int estilo, const QString& boton, QStringList* botones, QString* titulo,
              QMessageBox::Icon* icono) {
  PresentadorQt presentador;
  QTimer::singleShot(0, [&] {
    auto* caja = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!caja) return;
    *titulo = caja->windowTitle();
    *icono = caja->icon();
    for (auto* b : caja->buttons()) {
      botones->append(b->text());
      if (b->text() == boton) b->click();
    }
  });
  return presentador.Mostrar("Pagora Vavidev Act. BD", "texto\r\nsegunda", estilo);
}

TEST_F(Ventanas, CajasModalesEnCastellano) {
  QStringList botones;
  QString titulo;
  QMessageBox::Icon icono{};
  EXPECT_EQ(Responder(kEstiloPregunta, "No", &botones, &titulo, &icono), kRespuestaNo);
  EXPECT_EQ(botones, (QStringList{"Sí", "No"}));
  EXPECT_EQ(titulo, "Pagora Vavidev Act. BD");
  EXPECT_EQ(icono, QMessageBox::Warning);
  botones.clear();
  EXPECT_EQ(Responder(kEstiloPregunta, "Sí", &botones, &titulo, &icono), kRespuestaSi);
  botones.clear();
  EXPECT_EQ(Responder(kEstiloStop, "Aceptar", &botones, &titulo, &icono), kRespuestaAceptar);
  EXPECT_EQ(botones, (QStringList{"Aceptar"}));
  EXPECT_EQ(icono, QMessageBox::Critical);
  botones.clear();
  Responder(kEstiloInfo, "Aceptar", &botones, &titulo, &icono);
  EXPECT_EQ(icono, QMessageBox::Information);
}

// The rehearsal in the window: its own title and button, the report in one box, the database untouched.
TEST_F(Ventanas, EnsayoEnLaVentana) {
  entorno.ensayo = true;
  const std::string demo = pruebas::Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql");
  Base(demo);
  frmSolvane f(entorno);
  EXPECT_EQ(f.windowTitle(), "Pagora Vavidev Actualizar Base de Datos (ensayo sobre una copia)");
  auto* boton = f.findChild<QPushButton*>("cmdActualizar");
  EXPECT_EQ(boton->text(), "Ensayar Actualización");
  boton->click();
  ASSERT_FALSE(grabador->mensajes.empty());
  EXPECT_EQ(grabador->mensajes.back().estilo, kEstiloInfo);
  EXPECT_NE(grabador->Ultimo().find("la actualización de 0.0.0 a 3.1.0 TERMINARÍA BIEN"), std::string::npos)
      << grabador->Ultimo();
  EXPECT_NE(grabador->Ultimo().find("La base de datos real no se modificó."), std::string::npos);
  EXPECT_TRUE(pruebas::Leer(carpeta / "base.sql") == demo);
  EXPECT_TRUE(boton->isEnabled());
}

// Qt's own texts follow the user's language: a standard OK button reads "Aceptar" in Spanish once the
// translations are loaded (and "OK" again without them); a language Qt has no translation for loads
// nothing.
TEST(Traducciones, LosBotonesDeQtHablanCastellano) {
  const auto boton = [] {
    QMessageBox caja(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok);
    return caja.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')).toStdString();
  };
  QCoreApplication& app = *QCoreApplication::instance();
  EXPECT_EQ(boton(), "OK");
  EXPECT_FALSE(CargarTraduccionesQt(app, QLocale(QLocale::Swahili)));
  ASSERT_TRUE(CargarTraduccionesQt(app, QLocale(QLocale::Spanish, QLocale::Spain)))
      << "falta qt6-translations-l10n";
  EXPECT_EQ(boton(), "Aceptar");
  qDeleteAll(app.findChildren<QTranslator*>());
  EXPECT_EQ(boton(), "OK");
}

}  // namespace
}  // namespace solvane

// The application object must outlive every widget and go before the statics Qt keeps.
// The build lists the tests without a display, so offscreen is the default here too.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication aplicacion(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
