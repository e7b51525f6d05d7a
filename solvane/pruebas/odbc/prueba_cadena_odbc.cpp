// Connection strings of the ODBC engine: credentials kept apart, quoting, and password masking.
#include <gtest/gtest.h>

#include <map>

#include "motores/Motor.h"
#include "motores/odbc/CadenaOdbc.h"
#include "nucleo/Conexion.h"

namespace solvane::odbc {
namespace {

TEST(CadenaOdbc, PartirRespetaLasLlavesYElCasoDeLasClaves) {
  const auto pares =
      PartirCadena("Driver={ODBC Driver 18};Server=srv,1433; PWD={a;b}}c} ;Database=Pagora;suelto;");
  ASSERT_EQ(pares.size(), 4u);
  EXPECT_EQ(pares[0].second, "ODBC Driver 18");
  EXPECT_EQ(pares[2].first, "PWD");
  EXPECT_EQ(pares[2].second, "a;b}c");
  EXPECT_EQ(ValorEnCadena("driver=FreeTDS;SERVER=x", "Server"), "x");
  EXPECT_EQ(ValorEnCadena("driver=FreeTDS", "pwd"), "");
  // What Entrecomillar writes, PartirCadena reads back unchanged.
  for (const std::string v : {"simple", "a;b", "{x}", " borde ", "}}"})
    EXPECT_EQ(ValorEnCadena("PWD=" + *Entrecomillar(v) + ";UID=u", "pwd"), v) << v;
}

TEST(CadenaOdbc, UsuarioYClaveAparteSeAgreganALaCadena) {
  const auto a = LeerAjustes({{"cadena", "Driver=FreeTDS;Server=s"}, {"usuario", "pagora"}, {"clave", "x;y"}},
                             "f", nullptr);
  EXPECT_EQ(CadenaCompleta(a), "Driver=FreeTDS;Server=s;UID=pagora;PWD={x;y};ClientCharset=UTF-8");
  EXPECT_EQ(a.tiempoConexion, 15);

  // PAGORA_CLAVE stands in only when the file gives no password.
  EXPECT_EQ(LeerAjustes({{"cadena", "Driver=X;"}, {"usuario", "u"}}, "f", "deEntorno").clave, "deEntorno");
  EXPECT_EQ(LeerAjustes({{"cadena", "Driver=X"}, {"clave", "delArchivo"}}, "f", "deEntorno").clave,
            "delArchivo");
  const auto enCadena = LeerAjustes({{"cadena", "Driver=X;PWD=p"}}, "f", "deEntorno");
  EXPECT_EQ(CadenaCompleta(enCadena), "Driver=X;PWD=p");

  const auto t =
      LeerAjustes({{"cadena", "Driver=X"}, {"tiempoconexion", "5"}, {"tiemposentencia", "0"}}, "f", nullptr);
  EXPECT_EQ(t.tiempoConexion, 5);
  EXPECT_EQ(t.tiempoSentencia, 0);
}

TEST(CadenaOdbc, AjustesInutilizablesSeRechazanNombrandoElArchivo) {
  const std::map<std::string, std::string> malos[] = {
      {{"cadena", "  "}},
      {{"cadena", "Driver=X;UID=a"}, {"usuario", "b"}},
      {{"cadena", "Driver=X;Pwd=a"}, {"clave", "b"}},
      {{"cadena", "Driver=X"}, {"tiemposentencia", "diez"}},
  };
  for (const auto& ajustes : malos) {
    try {
      LeerAjustes(ajustes, "/srv/PagoraCliente.conexion", nullptr);
      ADD_FAILURE() << "debió rechazarse";
    } catch (const ErrorBD& e) {
      EXPECT_NE(e.Descripcion.find("/srv/PagoraCliente.conexion"), std::string::npos) << e.Descripcion;
      EXPECT_EQ(e.Descripcion.find("Pwd=a"), std::string::npos);
    }
  }
}

TEST(CadenaOdbc, LaMascaraOcultaClavesPorNombreYPorValor) {
  Mascara m;
  m.Agregar("Tr0ub4dor");
  m.Agregar("a;b");
  EXPECT_EQ(m.Aplicar("Driver=FreeTDS;UID=sa;PWD=otra;Server=s"), "Driver=FreeTDS;UID=sa;PWD=****;Server=s");
  EXPECT_EQ(m.Aplicar("Password = {x;y}}z};Database=d"), "Password = ****;Database=d");
  EXPECT_EQ(m.Aplicar("Clave=abc"), "Clave=****");
  // A driver that echoes the password on its own, or quoted, or braced.
  EXPECT_EQ(m.Aplicar("Login failed: 'Tr0ub4dor' rejected"), "Login failed: '****' rejected");
  EXPECT_EQ(m.Aplicar("got {a;b} and a;b"), "got **** and ****");
  // Words that merely contain the key names are left alone.
  EXPECT_EQ(m.Aplicar("Autoclave=1;NoPwd=2"), "Autoclave=1;NoPwd=2");
  EXPECT_EQ(Mascara().Aplicar("sin claves"), "sin claves");
}

// A password of any characters comes back whole from the string built for a standard driver, and adds no
// key of its own to it (";Database=" inside a password must not choose the database).
TEST(CadenaOdbc, UnaClaveIncomodaVuelveEnteraYNoAgregaClaves) {
  const std::string claves[] = {
      "s3cr 3tXYZ", "a;Database=/tmp/otra", "}",       "{",      "{x}",           "a}}b{",      " borde ",
      "\ttab",      "com\"illas'",          "=igual=", "ñandú€", "[]{}(),;?*=!@", "PWD=x;UID=y"};
  for (const auto& clave : claves) {
    SCOPED_TRACE("[" + clave + "]");
    const auto cadena = CadenaCompleta(LeerAjustes(
        {{"cadena", "Driver={ODBC Driver 18 for SQL Server};Server=s"}, {"clave", clave}}, "f", nullptr));
    const auto pares = PartirCadena(cadena);
    ASSERT_EQ(pares.size(), 3u) << cadena;
    EXPECT_EQ(pares[2].first, "PWD");
    EXPECT_EQ(pares[2].second, clave);
  }
}

// FreeTDS 1.3 (the installed one, as its library says) reads a braced value to the first "};" and keeps
// "}}" doubled: a value is braced only when it must be, written unchanged inside, and always followed by
// ';'; one that must be braced and holds "};" cannot be carried and is refused before connecting.
TEST(CadenaOdbc, ClavesEscritasComoLasLeeFreeTds13) {
  EXPECT_EQ(LlavesDelDriver("Driver=FreeTDS;Server=s"), Llaves::FreeTds13);
  EXPECT_EQ(LlavesDelDriver("Driver=SQLite3;Database=x"), Llaves::Estandar);
  const struct {
    const char* clave;
    std::optional<std::string> freetds, estandar;
  } casos[] = {
      {"a}b", "a}b", "a}b"},
      {"p} q", "p} q", "p} q"},
      {"a;b", "{a;b}", "{a;b}"},
      {"{ab}", "{{ab}}", "{{ab}}}"},
      {"llave}}doble;x", "{llave}}doble;x}", "{llave}}}}doble;x}"},
      {"Clave;De}Prueba 9", "{Clave;De}Prueba 9}", "{Clave;De}}Prueba 9}"},
      {" borde ", "{ borde }", "{ borde }"},
      {"x};y", std::nullopt, "{x}};y}"},
      {"};", std::nullopt, "{}};}"},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(Entrecomillar(c.clave, Llaves::FreeTds13), c.freetds) << c.clave;
    EXPECT_EQ(Entrecomillar(c.clave, Llaves::Estandar), c.estandar) << c.clave;
  }
  EXPECT_EQ(CadenaCompleta(LeerAjustes({{"cadena", "Driver=FreeTDS;ClientCharset=UTF-8"}, {"clave", "a;b"}},
                                       "f", nullptr)),
            "Driver=FreeTDS;ClientCharset=UTF-8;PWD={a;b};");
  try {
    CadenaCompleta(LeerAjustes({{"cadena", "Driver=FreeTDS"}, {"clave", "x};y"}}, "f", nullptr));
    ADD_FAILURE() << "x};y debía rechazarse";
  } catch (const ErrorBD& e) {
    EXPECT_NE(e.Descripcion.find("La clave no se puede pasar al driver FreeTDS"), std::string::npos)
        << e.Descripcion;
    EXPECT_EQ(e.Descripcion.find("x};y"), std::string::npos) << "la clave no se muestra";
  }
}

// FreeTDS (by name or by library path) is told that our text is UTF-8 unless the file says otherwise;
// other drivers get nothing added.
TEST(CadenaOdbc, FreeTdsRecibeUtf8SiLaCadenaNoDiceOtroJuego) {
  const std::map<std::string, std::string> casos = {
      {"Driver=FreeTDS;Server=s", "Driver=FreeTDS;Server=s;ClientCharset=UTF-8"},
      {"DRIVER={freetds};Server=s;", "DRIVER={freetds};Server=s;ClientCharset=UTF-8"},
      {"Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;Server=s",
       "Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;Server=s;ClientCharset=UTF-8"},
      {"Driver=FreeTDS;ClientCharset=ISO-8859-1", "Driver=FreeTDS;ClientCharset=ISO-8859-1"},
      {"Driver=SQLite3;Database=x.db", "Driver=SQLite3;Database=x.db"},
  };
  for (const auto& [cadena, completa] : casos)
    EXPECT_EQ(CadenaCompleta(LeerAjustes({{"cadena", cadena}}, "f", nullptr)), completa) << cadena;
}

// The example shipped for FreeTDS must read as a usable engine setting without a password in it.
TEST(CadenaOdbc, ElEjemploParaFreeTdsSeLeeSinClave) {
  const auto leidos = LeerConexion(std::string(DIR_FUENTES) + "/solvane/datos/ejemplo-freetds.conexion");
  EXPECT_EQ(leidos.ajustes.at("motor"), "odbc");
  EXPECT_FALSE(leidos.tieneClave);
  const auto a = LeerAjustes(leidos.ajustes, leidos.archivo, "desdeEntorno");
  EXPECT_EQ(ValorEnCadena(a.cadena, "driver"), "FreeTDS");
  EXPECT_EQ(CadenaCompleta(a).substr(a.cadena.size()), ";UID=pagora_admin;PWD=desdeEntorno");
}

}  // namespace
}  // namespace solvane::odbc
