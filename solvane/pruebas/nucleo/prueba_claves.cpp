// Passwords never reach the operator: awkward passwords through every way a password comes in.
#include <stdlib.h>

#include <sstream>

#include "Apoyo.h"
#include "frentes/Consola.h"
#include "motores/odbc/CadenaOdbc.h"
#include "nucleo/Conexion.h"

namespace solvane::pruebas {
namespace {

// A password and the pieces of it that must never be shown: markers that appear nowhere else.
struct ClaveIncomoda {
  std::string texto;
  std::vector<std::string> trozos;
};

// Every separator between markers, at the edges and inside something that already looks braced.
std::vector<ClaveIncomoda> ClavesIncomodas() {
  const std::string separadores[] = {" ", "  ", "\t", ";",  "}",     "{",         "}}", "{}", "\"",
                                     "'", "=",  "#",  "\\", ";PWD=", " clave = ", "]",  ")",  "ñ€"};
  std::vector<ClaveIncomoda> r;
  for (const std::string& s : separadores) {
    r.push_back({"Qx7k" + s + "Wz4m", {"Qx7k", "Wz4m"}});
    r.push_back({s + "Jm2p" + s, {"Jm2p"}});
    r.push_back({"{Hv5r" + s + "Kp3t}", {"Hv5r", "Kp3t"}});
  }
  return r;
}

std::string Visibles(const std::string& texto, const ClaveIncomoda& clave) {
  std::string r;
  for (const auto& t : clave.trozos)
    if (texto.find(t) != std::string::npos) r += " '" + t + "'";
  return r;
}

// The masking helpers on their own: a password echoed after its key, braced as the string carries it or
// bare as a driver may repeat it, and by itself when the engine was told the secret.
TEST(Claves, LosAyudantesOcultanTodaLaClave) {
  for (const auto& clave : ClavesIncomodas()) {
    SCOPED_TRACE("[" + clave.texto + "]");
    const std::string cadena = "Driver=X;PWD=" + *odbc::Entrecomillar(clave.texto) + ";Server=s";
    const std::string oculta = OcultarClaves("Fallo - Cadena: " + cadena);
    EXPECT_EQ(Visibles(oculta, clave), "") << oculta;
    EXPECT_EQ(oculta, "Fallo - Cadena: Driver=X;PWD=****;Server=s");
    EXPECT_EQ(Visibles(OcultarClaves("Password = " + *odbc::Entrecomillar(clave.texto)), clave), "");

    odbc::Mascara mascara;
    mascara.Agregar(clave.texto);
    const std::string eco =
        mascara.Aplicar("Login failed for '" + clave.texto + "' (PWD=" + clave.texto + ")");
    EXPECT_EQ(Visibles(eco, clave), "") << eco;
  }
}

// The whole program from the console, the connection failing in the SQLite driver: standard output,
// standard error and the statement record hold no piece of the password, given in Clave=, in
// PAGORA_CLAVE or as PWD= inside Cadena=.
TEST(Claves, NadaDeLaClaveLlegaALaConsolaNiAlRegistro) {
  Carpeta c;
  const auto conexion = (c / "PagoraCliente.conexion").string();
  const auto registro = (c / "registro.sql").string();
  const std::string base = "Driver=SQLite3;Database=" + (c / "no" / "existe.db").string();
  enum Via { kClave, kEntorno, kCadena };
  int mostradas = 0;
  for (const auto& clave : ClavesIncomodas()) {
    for (const Via via : {kClave, kEntorno, kCadena}) {
      SCOPED_TRACE("[" + clave.texto + "] via " + std::to_string(via));
      std::string archivo = "Motor=odbc\nUsuario=u\nCadena=" + base;
      if (via == kCadena) archivo += ";PWD=" + *odbc::Entrecomillar(clave.texto);
      archivo += "\n";
      if (via == kClave) archivo += "Clave=" + clave.texto + "\n";
      Escribir(conexion, archivo);
      std::filesystem::permissions(conexion,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      if (via == kEntorno)
        ::setenv("PAGORA_CLAVE", clave.texto.c_str(), 1);
      else
        ::unsetenv("PAGORA_CLAVE");

      std::istringstream entrada;
      std::ostringstream salida, errores;
      cBaseDatos bd;
      cMensajes mensajes;
      EXPECT_EQ(PrincipalConsola({"--consola", "--si", "--conexion", conexion, "--registro", registro},
                                 entrada, salida, errores, bd, mensajes),
                1);
      const std::string todo = salida.str() + errores.str() + LeerSiHay(registro);
      EXPECT_EQ(Visibles(todo, clave), "") << todo;
      if (errores.str().find("PWD=****") != std::string::npos) ++mostradas;
    }
  }
  ::unsetenv("PAGORA_CLAVE");
  // The masked string must really have been shown, or the sweep proves nothing.
  EXPECT_EQ(mostradas, static_cast<int>(ClavesIncomodas().size()) * 3);
}

}  // namespace
}  // namespace solvane::pruebas
