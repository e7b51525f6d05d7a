// Solvane: the window, or the console front end when asked for.
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "frentes/Consola.h"
#include "frentes/ventanas/PresentadorQt.h"
#include "frentes/ventanas/Traducciones.h"
#include "frentes/ventanas/frmSolvane.h"

int main(int argc, char* argv[]) {
  std::vector<std::string> argumentos(argv + 1, argv + argc);
  if (solvane::PideConsola(argumentos))
    return solvane::PrincipalConsola(argumentos, std::cin, std::cout, std::cerr, solvane::BaseDatos(),
                                     solvane::Mensajes());

  QApplication aplicacion(argc, argv);
  QApplication::setApplicationName("Solvane");
  solvane::CargarTraduccionesQt(aplicacion);
  auto presentador = std::make_shared<solvane::PresentadorQt>();
  solvane::BaseDatos().Mensajes(&solvane::Mensajes());
  // Only --conexion F and --ensayar reach here, which LeerOpciones takes without complaint.
  const solvane::OpcionesConsola opciones = solvane::LeerOpciones(argumentos);
  solvane::BaseDatos().ArchivoExplicito(opciones.conexion);
  solvane::EntornoSolvane entorno;
  entorno.presentador = presentador;
  entorno.ensayo = opciones.ensayar;
  solvane::frmSolvane ventana(entorno);
  presentador->Padre(&ventana);
  ventana.show();
  return aplicacion.exec();
}
