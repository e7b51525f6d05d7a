// The 2.5 steps on databases that are not what they expect: refusals undo everything, guards skip.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ArnesPasos25.h"

namespace pasos25 {
namespace {

using V = std::vector<std::string>;

// A failed run: the step's message between the question and the driver's, the file untouched.
void EsFallo(const BaseDemo& b, const Corrida& c, const std::string& antes, const std::string& mensaje) {
  EXPECT_FALSE(c.ok);
  ASSERT_EQ(c.mensajes.size(), 3u);
  EXPECT_EQ(c.mensajes[0].texto, kPregunta);
  EXPECT_EQ(c.mensajes[1].texto.substr(0, mensaje.size()), mensaje);
  EXPECT_EQ(c.mensajes[1].estilo, solvane::kEstiloStop);
  EXPECT_EQ(c.mensajes[2].texto, kFracaso);
  EXPECT_TRUE(b.Contenido() == antes) << "the database file changed";
}

// A database brought to `version` by the updater itself.
void Llevar(BaseDemo& b, std::int16_t version) {
  ASSERT_TRUE(b.Actualizar(version).ok) << version;
}

// A database at `desde` without `tabla`, which a step alters without testing for it: the run to
// `hasta` fails in step `paso` (the server cannot find the object) and leaves the file as it was.
Corrida SinTabla(BaseDemo& b, std::int16_t desde, const std::string& tabla, std::int16_t hasta,
                 const std::string& paso) {
  Llevar(b, desde);
  b.Modificar({"DROP TABLE " + tabla});
  const std::string antes = b.Contenido();
  Corrida c = b.Actualizar(hasta);
  EsFallo(b, c, antes,
          "ERROR de Actualización a Version " + paso + " \r\n4902 Cannot find the object \"" + tabla +
              "\" because it does not exist or you do not have permissions.");
  return c;
}

// Whichever statement the server refuses, the run stops there, the step that sent it says so, and
// the database file stays byte for byte as it was.
TEST(Fallos25, SentenciaRechazadaEnCualquierPuntoDeLaCadena) {
  BaseDemo referencia;
  const Corrida completa = referencia.Actualizar(20516);
  ASSERT_TRUE(completa.ok);
  const int total = static_cast<int>(completa.Ejecutadas().size());
  ASSERT_EQ(total, 49);
  BaseDemo b;
  const std::string antes = b.Contenido();
  const std::string prefijo = "Actualizando Version a ";
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE("sentencia " + std::to_string(n));
    const Corrida c = b.Actualizar(20516, n);
    EXPECT_EQ(c.Ejecutadas().size(), static_cast<std::size_t>(n));
    const std::string version = c.etiquetas.back().substr(prefijo.size());
    EsFallo(b, c, antes,
            n == total ? "ERROR de Actualización : 1222 Lock request time out period exceeded."
                       : "ERROR de Actualización a Version " + version +
                             " \r\n1222 Lock request time out period exceeded.");
    // The step cancels its own work, then the driver the chain's; nothing is confirmed afterwards.
    std::size_t error = 0;
    while (error < c.registro.size() && c.registro[error].rfind("-- ERROR 1222", 0) != 0) ++error;
    ASSERT_LT(error + 1, c.registro.size());
    const V resto(c.registro.begin() + static_cast<long>(error) + 1, c.registro.end());
    EXPECT_EQ(resto,
              n == total ? V{"ROLLBACK TRANSACTION"} : (V{"ROLLBACK TRANSACTION", "ROLLBACK TRANSACTION"}));
  }
}

TEST(Paso2_5_1, LocalesYaExistenteSoloQuitaParametrosYAgregaEnviado) {
  BaseDemo b;
  Llevar(b, 20500);
  b.Modificar({"CREATE TABLE Locales (Loc_Empresa varchar(6) NOT NULL, Loc_Codigo varchar(6) NOT NULL)",
               "INSERT INTO Locales (Loc_Empresa, Loc_Codigo) VALUES ('000001','000009')"});
  const Corrida c = b.Actualizar(20501);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.Ejecutadas(),
            (V{"ALTER TABLE Parametros DROP Column PAR_LA", "ALTER TABLE Parametros DROP Column PAR_Admin",
               "ALTER TABLE Transaccion ADD TRA_Enviado BIT NOT NULL DEFAULT 0",
               "UpDate Parametros Set PAR_Version = 20501"}));
  EXPECT_EQ(b.Columna("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'Locales'"),
            (V{"Loc_Codigo", "Loc_Empresa"}));
  EXPECT_EQ(b.Columna("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'Parametros'"),
            (V{"PAR_Frecuencia", "PAR_Version"}));
}

// The drops carry no column test: a parameter column already gone fails the step, and the work done
// before the refusal (the new table, the other drop) is undone with it.
TEST(Paso2_5_1, ParametroYaQuitadoHaceFallarElPaso) {
  for (const char* columna : {"PAR_LA", "PAR_Admin"}) {
    SCOPED_TRACE(columna);
    BaseDemo b;
    Llevar(b, 20500);
    b.Modificar({std::string("ALTER TABLE Parametros DROP COLUMN ") + columna});
    const std::string antes = b.Contenido();
    EsFallo(b, b.Actualizar(20501), antes,
            std::string("ERROR de Actualización a Version 2.5.1 \r\n4924 ALTER TABLE DROP COLUMN failed "
                        "because column '") +
                columna + "' does not exist in table 'Parametros'.");
    EXPECT_EQ(b.Valor("Select PAR_Version From Parametros"), "20500");
  }
}

TEST(Paso2_5_2, SinTransaccionFallaYConFrecuenciaYaQuitadaSoloActualiza) {
  BaseDemo b;
  Llevar(b, 20501);
  const std::string enVersion = b.Contenido();
  b.Modificar({"DROP TABLE Transaccion"});
  const std::string antes = b.Contenido();
  EsFallo(b, b.Actualizar(20502), antes,
          "ERROR de Actualización a Version 2.5.2 \r\n208 Invalid object name 'Transaccion'.");
  EXPECT_EQ(b.Columna("Select COLUMN_NAME From information_schema.columns Where TABLE_NAME = 'Parametros'"),
            (V{"PAR_Frecuencia", "PAR_Version"}));

  b.Reponer(enVersion);
  b.Modificar({"ALTER TABLE Parametros DROP COLUMN PAR_Frecuencia"});
  const Corrida c = b.Actualizar(20502);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.Ejecutadas(),
            (V{"UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' ",
               "UpDate Parametros Set PAR_Version = 20502"}));
}

// Without Tarjeta, 2.5.3 skips its column but 2.5.4 has no table test and fails on the first alter;
// the reconciliation table 2.5.3 created goes with the cancelled chain.
TEST(Paso2_5_4, SinTarjetaFallaYDeshaceTambienElPasoAnterior) {
  BaseDemo b;
  const Corrida c = SinTabla(b, 20502, "Tarjeta", 20504, "2.5.4");
  EXPECT_EQ(c.Ejecutadas().front(),
            "CREATE TABLE UltConciliacion ( Ult_Empresa Varchar (6) NOT NULL,Ult_CodTarjeta "
            "SmallInt NOT NULL,Ult_Moneda Char (1) NOT NULL,Ult_Fecha SmallDateTime NOT NULL)");
  EXPECT_TRUE(b.Consultar("Select Name From sysobjects Where Name = 'UltConciliacion'").empty());
}

TEST(Paso2_5_5, UsuariosSembradosSoloEnTablaVacia) {
  const std::string crear =
      "CREATE TABLE Usuario (Usu_Codigo smallint NOT NULL, Usu_NomAbr char(8) NOT NULL, Usu_Nombre "
      "varchar(30) NOT "
      "NULL, Usu_Contra char(8) NOT NULL, Usu_Nivel tinyint NULL)";
  {
    BaseDemo b;
    Llevar(b, 20504);
    b.Modificar({crear, "INSERT INTO Usuario VALUES (7,'jperez','Juan Perez','X1',5)"});
    const Corrida c = b.Actualizar(20505);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(b.Columna("Select Usu_Codigo From Usuario"), V{"7"});
    EXPECT_EQ(c.Ejecutadas().size(), 3u);  // Seguridad, its key and the version
  }
  {
    BaseDemo b;
    Llevar(b, 20504);
    b.Modificar({crear});
    ASSERT_TRUE(b.Actualizar(20505).ok);
    EXPECT_EQ(b.Columna("Select Usu_NomAbr From Usuario"), (V{"Admin   ", "User    "}));
  }
}

// Without the password column the step fails by itself, without any refused statement, and takes the
// permission column it had just added with it.
TEST(Paso2_5_6, SinUsuarioFallaConSuMensajeYDeshaceSegEdita) {
  BaseDemo b;
  Llevar(b, 20505);
  b.Modificar(
      {"DROP TABLE Usuario", "DROP TABLE Seguridad",
       "CREATE TABLE Seguridad (Seg_Codigo char(8) NOT NULL, Seg_Descri varchar(50) NOT NULL, Seg_Nivel "
       "tinyint NOT NULL)",
       "INSERT INTO Seguridad VALUES ('10010001','Ventas',1)"});
  const std::string antes = b.Contenido();
  const Corrida c = b.Actualizar(20506);
  EsFallo(b, c, antes, "ERROR de Actualización : Campo Usu_Contra no Existe");
  EXPECT_EQ(c.mensajes[1].texto, "ERROR de Actualización : Campo Usu_Contra no Existe");
  EXPECT_EQ(c.Ejecutadas(), V{"ALTER TABLE Seguridad ADD Seg_Edita Bit NOT NULL DEFAULT 1"});
  // The step cancels its own transaction rather than leaving that to the driver.
  ASSERT_GE(c.registro.size(), 4u);
  EXPECT_EQ(V(c.registro.end() - 4, c.registro.end()),
            (V{"Select Usu_Contra From Usuario", "-- ERROR 208 Invalid object name 'Usuario'.",
               "ROLLBACK TRANSACTION", "ROLLBACK TRANSACTION"}));
  EXPECT_EQ(b.Valor("Select PAR_Version From Parametros"), "20505");
}

TEST(Paso2_5_6, SegEditaFaltanteSeAgregaConUnoEnLasFilasExistentes) {
  BaseDemo b;
  Llevar(b, 20505);
  b.Modificar(
      {"DROP TABLE Seguridad",
       "CREATE TABLE Seguridad (Seg_Codigo char(8) NOT NULL, Seg_Descri varchar(50) NOT NULL, Seg_Nivel "
       "tinyint NOT NULL)",
       "INSERT INTO Seguridad VALUES ('10010001','Ventas',1)"});
  ASSERT_TRUE(b.Actualizar(20506).ok);
  EXPECT_EQ(b.Columna("Select Seg_Edita From Seguridad"), V{"1"});
  EXPECT_EQ(b.Columna("Select IS_NULLABLE From information_schema.columns Where TABLE_NAME = 'Seguridad' And "
                      "COLUMN_NAME = 'Seg_Edita'"),
            V{"NO"});
  EXPECT_EQ(b.Columna("Select CHARACTER_MAXIMUM_LENGTH From information_schema.columns Where TABLE_NAME = "
                      "'Usuario' And COLUMN_NAME = 'Usu_Contra'"),
            V{"16"});
}

// A database left at 2.5.8 by an older program goes straight to the off-line card column.
TEST(Paso2_5_9, DesdeDosCincoOcho) {
  BaseDemo b;
  Llevar(b, 20507);
  b.Modificar({"UPDATE Parametros SET PAR_Version = 20508"});
  const Corrida c = b.Actualizar(20509);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.etiquetas, V{"Actualizando Version a 2.5.9"});
  EXPECT_EQ(c.Ejecutadas(),
            (V{"ALTER TABLE Tarjeta ADD TAR_OFF BIT NOT NULL CONSTRAINT DF_Tarjeta_OFF DEFAULT 1",
               "UpDate Parametros Set PAR_Version = 20509"}));
}

// Tables already there are left exactly as they are, even without their keys.
TEST(Paso2_5_10, TablasExistentesSeRespetan) {
  BaseDemo b;
  Llevar(b, 20509);
  b.Modificar({"CREATE TABLE uTarjeta (Uta_Cod smallint NOT NULL, Uta_Desc varchar(20) NOT NULL)",
               "CREATE TABLE vTarjeta (VTA_Cod smallint NOT NULL, VTA_Desc varchar(30) NOT NULL)"});
  const Corrida c = b.Actualizar(20510);
  ASSERT_TRUE(c.ok);
  const V ejecutadas = c.Ejecutadas();
  ASSERT_EQ(ejecutadas.size(), 9u);
  for (std::size_t i = 0; i < 8; i += 2) {
    EXPECT_EQ(ejecutadas[i].rfind("CREATE TABLE", 0), 0u) << ejecutadas[i];
    EXPECT_EQ(ejecutadas[i + 1].rfind("ALTER TABLE", 0), 0u) << ejecutadas[i + 1];
  }
  for (const char* t : {"uAcreditada", "uTransOFF", "uTransaccion", "vFreePass"})
    EXPECT_EQ(b.Columna(std::string("Select Name From sysobjects Where Xtype = 'U' And Name = '") + t + "'"),
              V{t});
  for (const char* clave : {"PK_uTarjeta", "PK_vTarjeta"})
    EXPECT_TRUE(b.Consultar(std::string("Select name From sysobjects Where name = '") + clave + "'").empty())
        << clave;
}

// A key name taken by another object makes the server refuse the key: the tables created before it
// in the same step disappear with the cancelled transaction.
TEST(Paso2_5_10, NombreDeClaveOcupadoFallaSinDejarTablas) {
  BaseDemo b;
  Llevar(b, 20509);
  b.Modificar({"CREATE TABLE Auditoria (AUD_Id int NOT NULL)",
               "ALTER TABLE Auditoria ADD CONSTRAINT PK_uTransOFF PRIMARY KEY (AUD_Id)"});
  const std::string antes = b.Contenido();
  EsFallo(b, b.Actualizar(20510), antes,
          "ERROR de Actualización a Version 2.5.10 \r\n2714 There is already an object named 'PK_uTransOFF' "
          "in the "
          "database.");
  EXPECT_TRUE(b.Consultar("Select Name From sysobjects Where Name = 'uTarjeta'").empty());
}

TEST(Paso2_5_11, VistaConColumnaFaltanteFalla) {
  BaseDemo b;
  Llevar(b, 20510);
  b.Modificar({"ALTER TABLE TransOFF DROP COLUMN OFF_Moneda"});
  const std::string antes = b.Contenido();
  EsFallo(b, b.Actualizar(20511), antes,
          "ERROR de Actualización a Version 2.5.11 \r\n207 Invalid column name 'OFF_Moneda'.");
}

// A probe the server refuses is not a "not there": the step fails with that refusal and does not try
// to create the existing view again.
TEST(Paso2_5_11, SondaFallidaHaceFallarElPasoSinRecrearLaVista) {
  BaseDemo b;
  Llevar(b, 20511);
  b.Modificar({"UPDATE Parametros SET PAR_Version = 20510"});
  const std::string antes = b.Contenido();
  const Corrida c = b.Actualizar(20511, 0, Vista("TransTransOFF"));
  EsFallo(b, c, antes,
          "ERROR de Actualización a Version 2.5.11 \r\n1222 Lock request time out period exceeded.");
  for (const auto& s : c.Ejecutadas()) EXPECT_EQ(s.find("CREATE VIEW"), std::string::npos) << s;
}

// An existing TarjetaTipo is taken as complete: no key, no default is added to it. The permission row
// is added once; one already there keeps its own description.
TEST(Paso2_5_14, TarjetaTipoSinClaveYPermisoExistente) {
  BaseDemo b;
  Llevar(b, 20511);
  b.Modificar(
      {"UPDATE Parametros SET PAR_Version = 20512",
       "CREATE TABLE TarjetaTipo (TAT_IdTarjetaTipo smallint NOT NULL, TAT_Desc varchar(50) NOT NULL)"});
  const std::string conTabla = b.Contenido();
  const Corrida c = b.Actualizar(20514);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.etiquetas, V{"Actualizando Version a 2.5.14"});
  EXPECT_EQ(c.Ejecutadas(),
            (V{"Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( 10030001, "
               "'     Tarjeta Tipo',1,1)",
               "UpDate Parametros Set PAR_Version = 20514"}));
  EXPECT_TRUE(
      b.Consultar("Select name From sysobjects Where parent_obj = (Select id From sysobjects Where name = "
                  "'TarjetaTipo')")
          .empty());

  b.Reponer(conTabla);
  b.Modificar(
      {"INSERT INTO Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) VALUES ('10030001','Tipos',2,0)"});
  ASSERT_TRUE(b.Actualizar(20514).ok);
  EXPECT_EQ(b.Columna("Select Seg_Descri From Seguridad Where Seg_Codigo = '10030001'"), V{"Tipos"});
}

// New columns fill the rows already there with their defaults: 1 for the document number, 0 otherwise.
TEST(Paso2_5_15y16, FilasExistentesTomanElValorPorDefecto) {
  BaseDemo b;
  Llevar(b, 20514);
  b.Modificar(
      {"INSERT INTO Locales (Loc_Empresa,Loc_Codigo,Loc_Descri,Loc_Tipo) VALUES "
       "('000001','000001','Centro','P')"});
  ASSERT_TRUE(b.Actualizar(20516).ok);
  EXPECT_EQ(b.Columna("Select Loc_DevIVA From Locales"), V{"0"});
  EXPECT_EQ(b.Columna("Select Loc_NroDocumento From Locales"), V{"1"});
}

TEST(Paso2_5_15y16, SinLocalesFallaTrasAgregarLaColumnaDeTarjeta) {
  BaseDemo b;
  const Corrida c = SinTabla(b, 20514, "Locales", 20516, "2.5.15");
  EXPECT_EQ(c.Ejecutadas().front(), "ALTER TABLE Tarjeta ADD TAR_DevIVA BIT NOT NULL DEFAULT 1");
}

}  // namespace
}  // namespace pasos25
