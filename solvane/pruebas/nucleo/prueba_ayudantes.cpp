// The schema inspection helpers against real tables, views and indexes of the simulated engine.
#include "Apoyo.h"

namespace solvane::pruebas {
namespace {

const char* const kEsquema =
    "CREATE TABLE Parametros (PAR_Version smallint NULL, PAR_LA varchar (20) NULL)\nGO\n"
    "INSERT INTO Parametros (PAR_Version, PAR_LA) VALUES (20500, NULL)\nGO\n"
    "CREATE TABLE Vacia (VAC_Codigo int NOT NULL)\nGO\n"
    "CREATE TABLE TarjetaCaja (TRC_Empresa varchar (6) NOT NULL, TRC_Caja char (3) NOT NULL, TRC_Numero int "
    "NULL)\n"
    "GO\n"
    "CREATE INDEX IX_TarjetaCaja_Caja ON TarjetaCaja (TRC_Caja)\nGO\n"
    "CREATE VIEW vTarjeta AS SELECT TRC_Empresa FROM TarjetaCaja\nGO\n"
    "CREATE TABLE Seguridad (Seg_Codigo int NOT NULL, Seg_Descri varchar (50) NULL, Seg_Nivel smallint NULL, "
    "Seg_Edita bit NULL)\nGO\n";

struct Ayudantes : ::testing::Test {
  Ayudantes() {
    EXPECT_TRUE(bd.Conectar()) << operador.Ultimo();
    bd.Registro(base.Registro());
  }
  std::string UltimaSentencia() {
    auto l = Lineas(base.Registro());
    for (auto i = l.rbegin(); i != l.rend(); ++i)
      if (i->rfind("--", 0) != 0) return *i;
    return "";
  }
  BaseSimulada base{kEsquema};
  Operador operador{base.Conexion()};
  std::shared_ptr<Grabador> grabador = operador.grabador;
  cMensajes& m = operador.mensajes;
  cBaseDatos& bd = operador.bd;
  ProgresoGrabado progreso;
  cActualiza act{bd, m, progreso, [] {}, 30100};
};

TEST_F(Ayudantes, ExisteCampo) {
  std::string valor = "sin tocar";
  EXPECT_TRUE(AccesoPrueba::ExisteCampo(act, "Vacia", "VAC_Codigo", valor));
  EXPECT_EQ(valor, "sin tocar") << "an empty table must leave the value alone";
  EXPECT_TRUE(AccesoPrueba::ExisteCampo(act, "Parametros", "par_la", valor));
  EXPECT_EQ(valor, "") << "Null reads as empty text";
  EXPECT_TRUE(AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_Version", valor));
  EXPECT_EQ(valor, "20500");
  valor = "sin tocar";
  EXPECT_FALSE(AccesoPrueba::ExisteCampo(act, "Parametros", "PAR_NoHay", valor));
  EXPECT_FALSE(AccesoPrueba::ExisteCampo(act, "NoHay", "PAR_Version", valor));
  EXPECT_EQ(valor, "sin tocar");
  EXPECT_EQ(UltimaSentencia(), "Select PAR_Version From NoHay");
}

TEST_F(Ayudantes, TablasYVistasNoSeConfunden) {
  EXPECT_TRUE(AccesoPrueba::ExisteTabla(act, "TarjetaCaja"));
  EXPECT_EQ(UltimaSentencia(), "Select Name From sysobjects  Where Xtype = 'U' And Name = 'TarjetaCaja'");
  EXPECT_TRUE(AccesoPrueba::ExisteTabla(act, "tarjetacaja"));
  EXPECT_FALSE(AccesoPrueba::ExisteTabla(act, "vTarjeta"));
  EXPECT_TRUE(AccesoPrueba::ExisteVista(act, "vTarjeta"));
  EXPECT_EQ(UltimaSentencia(), "Select Name From sysobjects  Where Xtype = 'V' And Name = 'vTarjeta'");
  EXPECT_FALSE(AccesoPrueba::ExisteVista(act, "TarjetaCaja"));
  EXPECT_THROW(AccesoPrueba::ExisteTabla(act, "O'Brien"), ErrorBD)
      << "a stray apostrophe breaks the query: that says nothing about the table";
}

TEST_F(Ayudantes, IndicePorNombreYTabla) {
  EXPECT_TRUE(AccesoPrueba::ExisteIndice(act, "TarjetaCaja", "IX_TarjetaCaja_Caja"));
  EXPECT_EQ(
      UltimaSentencia(),
      "SELECT * FROM Sysindexes Where name = 'IX_TarjetaCaja_Caja' And Id=(Select id From Sysobjects Where "
      "name='TarjetaCaja')");
  EXPECT_FALSE(AccesoPrueba::ExisteIndice(act, "Parametros", "IX_TarjetaCaja_Caja"));
  EXPECT_FALSE(AccesoPrueba::ExisteIndice(act, "TarjetaCaja", "IX_Otro"));
}

TEST_F(Ayudantes, Collation) {
  const std::string c = AccesoPrueba::ObtenerCollation(act, "TarjetaCaja", "TRC_Empresa", true);
  EXPECT_EQ(c.rfind("COLLATE ", 0), 0u);
  EXPECT_GT(c.size(), 8u);
  EXPECT_EQ(AccesoPrueba::ObtenerCollation(act, "TarjetaCaja", "TRC_Empresa", false), c.substr(8));
  EXPECT_EQ(AccesoPrueba::ObtenerCollation(act, "TarjetaCaja", "TRC_Numero", true), "COLLATE ");
  EXPECT_THROW(AccesoPrueba::ObtenerCollation(act, "TarjetaCaja", "TRC_Numero", false), ErrorBD);
  EXPECT_EQ(AccesoPrueba::ObtenerCollation(act, "TarjetaCaja", "NoHay", false), "");
}

TEST_F(Ayudantes, AgregarSeguridadUnaSolaVez) {
  AgregarSeguridad(bd, "1201", "Consulta de Tarjetas", 3, true);
  AgregarSeguridad(bd, "1201", "Otra descripcion", 1, false);
  AgregarSeguridad(bd, "1202", "Planes", 2, false);
  const auto reg = Lineas(base.Registro());
  EXPECT_EQ(
      std::count(
          reg.begin(), reg.end(),
          "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( 1201, 'Consulta de "
          "Tarjetas',3,1)"),
      1);
  EXPECT_EQ(reg.back(),
            "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( 1202, 'Planes',2,0)");
  Recordset rs;
  long cero = 0;
  bd.CargarSQL("Select Seg_Descri From Seguridad Where Seg_Codigo ='1201'");
  ASSERT_TRUE(bd.AbrirConsulta(rs, cero));
  EXPECT_EQ(rs.Campo("Seg_Descri"), ValorCampo("Consulta de Tarjetas"));
}

TEST_F(Ayudantes, EliminarTablaAvisaLosErrores) {
  EXPECT_TRUE(AccesoPrueba::EliminarTabla(act, "Vacia"));
  EXPECT_FALSE(AccesoPrueba::ExisteTabla(act, "Vacia"));
  EXPECT_FALSE(AccesoPrueba::EliminarTabla(act, "Vacia"));
  ASSERT_EQ(grabador->mensajes.size(), 1u);
  EXPECT_EQ(grabador->mensajes[0].texto.rfind(" ERROR : 3701  ", 0), 0u) << grabador->mensajes[0].texto;
  EXPECT_EQ(grabador->mensajes[0].estilo, kEstiloStop);
}

}  // namespace
}  // namespace solvane::pruebas
