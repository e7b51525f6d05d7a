// The chain from an unversioned demo database to 2.5.16: statements, schema, data, and re-runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "ArnesPasos25.h"

namespace pasos25 {
namespace {

const std::string kSemilla =
    "Insert Into Usuario (Usu_Codigo,Usu_NomAbr,Usu_Nombre,Usu_Contra,Usu_Nivel) Values ";

// What the statement record shows after probing a column that is not there yet.
std::string Falta(const std::string& columna) {
  return "-- ERROR 207 Invalid column name '" + columna + "'.";
}

// Everything the updater sends to take the demo database from no version to 2.5.16, written out
// statement by statement (no piece of it is built the way the steps build it).
std::vector<std::string> RegistroEsperado() {
  std::vector<std::string> r = {Campo("Parametros", "PAR_Version"), "BEGIN TRANSACTION"};
  auto paso = [&r](std::initializer_list<std::string> l) {
    r.push_back("BEGIN TRANSACTION");
    r.insert(r.end(), l);
    r.push_back("COMMIT TRANSACTION");
  };
  paso({Tabla("Locales"),
        "CREATE TABLE Locales( Loc_Empresa Varchar (6) NOT NULL,Loc_Codigo Varchar (6) NOT NULL,Loc_Descri "
        "Varchar (30) NOT NULL,Loc_Tipo Char (1) NOT NULL)",
        "ALTER TABLE Locales WITH CHECK ADD CONSTRAINT PK_Locales PRIMARY KEY CLUSTERED(Loc_Empresa, "
        "Loc_Codigo) WITH  FILLFACTOR = 90  ON [PRIMARY] ",
        Tabla("Parametros"), "ALTER TABLE Parametros DROP Column PAR_LA",
        "ALTER TABLE Parametros DROP Column PAR_Admin", Tabla("Transaccion"),
        "ALTER TABLE Transaccion ADD TRA_Enviado BIT NOT NULL DEFAULT 0"});
  paso({Tabla("Parametros"), Campo("Parametros", "PAR_Frecuencia"),
        "ALTER TABLE Parametros DROP Column PAR_Frecuencia",
        "UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' "});
  paso({Tabla("UltConciliacion"),
        "CREATE TABLE UltConciliacion ( Ult_Empresa Varchar (6) NOT NULL,Ult_CodTarjeta SmallInt NOT "
        "NULL,Ult_Moneda Char (1) NOT NULL,Ult_Fecha SmallDateTime NOT NULL)",
        Tabla("Tarjeta"), Campo("Tarjeta", "TAR_Dias"), Falta("TAR_Dias"),
        "ALTER TABLE Tarjeta ADD TAR_Dias Smallint NOT NULL DEFAULT 0"});
  paso(
      {Campo("Tarjeta", "TAR_CantOFFM1"), Falta("TAR_CantOFFM1"),
       "ALTER TABLE Tarjeta ADD TAR_CantOFFM1 Smallint NOT NULL DEFAULT 0", Campo("Tarjeta", "TAR_MontOFFM1"),
       Falta("TAR_MontOFFM1"), "ALTER TABLE Tarjeta ADD TAR_MontOFFM1 Decimal(8,2) NOT NULL DEFAULT 0",
       Campo("Tarjeta", "TAR_CantOFFM2"), Falta("TAR_CantOFFM2"),
       "ALTER TABLE Tarjeta ADD TAR_CantOFFM2 Smallint NOT NULL DEFAULT 0", Campo("Tarjeta", "TAR_MontOFFM2"),
       Falta("TAR_MontOFFM2"), "ALTER TABLE Tarjeta ADD TAR_MontOFFM2 Decimal(8,2) NOT NULL DEFAULT 0",
       Campo("TransOFF", "OFF_TrackI"), Falta("OFF_TrackI"),
       "ALTER TABLE TransOFF ADD OFF_TrackI VarChar(80) NOT NULL DEFAULT ('')"});
  paso({Tabla("Usuario"),
        "CREATE TABLE [Usuario] ([Usu_Codigo] [smallint] NOT NULL ,[Usu_NomAbr] [char] (8) NOT NULL "
        ",[Usu_Nombre] [varchar] (30) NOT NULL ,[Usu_Contra] [char] (8) NOT NULL ,[Usu_Nivel] [tinyint]) ON "
        "[PRIMARY]",
        "ALTER TABLE [Usuario] WITH NOCHECK ADD CONSTRAINT [PK_Usuario] PRIMARY KEY  NONCLUSTERED ( "
        "[Usu_Codigo]) WITH  FILLFACTOR = 90  ON [PRIMARY] ,CONSTRAINT [IX_Usuario] UNIQUE  NONCLUSTERED ( "
        "[Usu_NomAbr] ) WITH  FILLFACTOR = 90  ON [PRIMARY]",
        Tabla("Seguridad"),
        "CREATE TABLE [Seguridad] ([Seg_Codigo] [char] (8) NOT NULL ,[Seg_Descri] [varchar] (50) NOT NULL , "
        "[Seg_Nivel] [tinyint] NOT NULL , [Seg_Edita] [Bit] ) ON [PRIMARY]",
        "ALTER TABLE [Seguridad] WITH NOCHECK ADD CONSTRAINT [DF_Seguridad_Seg_Edita] DEFAULT (1) FOR "
        "[Seg_Edita], CONSTRAINT [PK_Seguridad] PRIMARY KEY  NONCLUSTERED ([Seg_Codigo]) WITH  FILLFACTOR = "
        "90  ON [PRIMARY]",
        "Select * From Usuario", kSemilla + "(1,'Admin','Administrador','QJ',9)",
        kSemilla + "(2,'User','Usuario','ZQ',3)"});
  paso({Campo("Seguridad", "Seg_Edita"), Campo("Usuario", "Usu_Contra"),
        "ALTER TABLE Usuario ALTER COLUMN Usu_Contra Char(16)"});
  paso({Campo("Cajas", "Caj_Timer"), Falta("Caj_Timer"),
        "ALTER TABLE Cajas ADD Caj_Timer Smallint NOT NULL DEFAULT 0"});
  paso({Campo("Tarjeta", "TAR_OFF"), Falta("TAR_OFF"),
        "ALTER TABLE Tarjeta ADD TAR_OFF BIT NOT NULL CONSTRAINT DF_Tarjeta_OFF DEFAULT 1"});
  paso(
      {Tabla("uTarjeta"),
       "CREATE TABLE [uTarjeta] ([Uta_Cod] [smallint] NOT NULL ,[Uta_Desc] [varchar] (20) NOT NULL) ON "
       "[PRIMARY]",
       "ALTER TABLE [uTarjeta] WITH NOCHECK ADD CONSTRAINT [PK_uTarjeta] PRIMARY KEY  NONCLUSTERED ( "
       "[Uta_Cod]) WITH  FILLFACTOR = 90  ON [PRIMARY] ",
       Tabla("uAcreditada"),
       "CREATE TABLE [uAcreditada] ([UAC_Empresa] [varchar] (6) NOT NULL ,[UAC_CodTarjeta] [smallint] NOT "
       "NULL ,[UAC_IDAcredita] [int] NOT NULL ,[UAC_Puntos] [int] NOT NULL ,[UAC_Factura] [varchar] (9) NOT "
       "NULL ,[UAC_Fecha] [smalldatetime] NOT NULL ,[UAC_Hora] [Char](8) NOT NULL) ON [PRIMARY]",
       "ALTER TABLE [uAcreditada] WITH NOCHECK ADD CONSTRAINT [PK_uAcredita] PRIMARY KEY  NONCLUSTERED "
       "([UAC_Empresa],[UAC_CodTarjeta],[UAC_IDAcredita]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
       Tabla("uTransOFF"),
       "CREATE TABLE [uTransOFF] ( [UOF_Empresa] [varchar] (6) NOT NULL ,[UOF_Transaccion] [int] NOT NULL "
       ",[UOF_Local] [char] (6) NOT NULL ,[UOF_Caja] [char] (3) NOT NULL ,[UOF_Operacion] [char] (1) NOT "
       "NULL ,[UOF_Monto] [numeric](9, 2) NOT NULL ,[UOF_Moneda] [char] (1) NOT NULL ,[UOF_Puntos] [int] NOT "
       "NULL ,[UOF_TipoProducto] [tinyint] NOT NULL ,[UOF_CodTarjeta] [smallint] NOT NULL ,[UOF_NroTarjeta] "
       "[varchar] (20) NOT NULL ,[UOF_Fecha] [smalldatetime] NOT NULL ,[UOF_Hora] [char] (8) NOT NULL "
       ",[UOF_NroDocumento] [varchar] (9) NOT NULL ,[UOF_Ticket] [int] NOT NULL ,[UOF_Terminal] [varchar] "
       "(16) NOT NULL ,[UOF_SaldoTarjeta] [int] NOT NULL ,[UOF_TransPuntos] [int] NOT NULL "
       ",[UOF_NroDocOriginal] [VarChar](9) NOT NULL ) ON [PRIMARY]",
       "ALTER TABLE [uTransOFF] WITH NOCHECK ADD CONSTRAINT [PK_uTransOFF] PRIMARY KEY  NONCLUSTERED "
       "([UOF_Empresa],[UOF_Transaccion]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
       Tabla("uTransaccion"),
       "CREATE TABLE [uTransaccion] ([UTA_Empresa] [varchar] (6) NOT NULL ,[UTA_Transaccion] [int] NOT NULL "
       ",[UTA_Referencia] [int] NOT NULL ,[UTA_Local] [char] (6) NOT NULL ,[UTA_Caja] [char] (3) NOT NULL "
       ",[UTA_Operacion] [char] (1) NOT NULL ,[UTA_Monto] [numeric](9, 2) NOT NULL ,[UTA_Moneda] [char] (1) "
       "NOT NULL ,[UTA_Puntos] [int] NOT NULL ,[UTA_TipoProducto] [tinyint] NOT NULL ,[UTA_CodTarjeta] "
       "[smallint] NOT NULL ,[UTA_NroTarjeta] [varchar] (20) NOT NULL ,[UTA_Fecha] [smalldatetime] NOT NULL "
       ",[UTA_Hora] [char] (8) NOT NULL ,[UTA_NroDocumento] [varchar] (9) NOT NULL ,[UTA_Ticket] [int] NOT "
       "NULL ,[UTA_Terminal] [varchar] (16) NOT NULL ,[UTA_SaldoTarjeta] [int] NOT NULL ,[UTA_TransPuntos] "
       "[int] NOT NULL ,[UTA_NroDocOriginal] [varchar] (9) NOT NULL ,[UTA_IDAcredita] [int] NOT NULL "
       ",[UTA_Enviado] [bit] NOT NULL ,[UTA_Estado] [Char](1) NOT NULL ) ON [PRIMARY]",
       "ALTER TABLE [uTransaccion] WITH NOCHECK ADD CONSTRAINT [DF_uTransaccion_UTA_Referencia] DEFAULT (0) "
       "FOR [UTA_Referencia],CONSTRAINT [DF_uTransaccion_UTA_IDAcredita] DEFAULT (0) FOR "
       "[UTA_IDAcredita],CONSTRAINT [DF_uTransaccion_UTA_Enviada] DEFAULT (0) FOR [UTA_Enviado],CONSTRAINT "
       "[DF_uTransaccion_UTA_Estado] DEFAULT ('N') FOR [UTA_Estado],CONSTRAINT [PK_uTransaccion] PRIMARY KEY "
       " NONCLUSTERED ([UTA_Empresa],[UTA_Transaccion],[UTA_Referencia]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
       Tabla("vTarjeta"),
       "CREATE TABLE [vTarjeta] ( [VTA_Cod] [smallint] NOT NULL ,[VTA_Desc] [VarChar](30) NOT NULL) ON "
       "[PRIMARY]",
       "ALTER TABLE [vTarjeta] WITH NOCHECK ADD CONSTRAINT [PK_vTarjeta] PRIMARY KEY  CLUSTERED ([VTA_Cod])  "
       "ON [PRIMARY]",
       Tabla("vFreePass"),
       "CREATE TABLE [dbo].[vFreePass] ([VFP_Empresa] [varchar] (6) NOT NULL ,[VFP_Local] [varchar] (6) NOT "
       "NULL ,[VFP_Caja] [char] (3) NOT NULL ,[VFP_CodTarjeta] [smallint] NOT NULL ,[VFP_NroTarjeta] "
       "[varchar] (30) NOT NULL ,[VFP_Operacion] [char] (1) NOT NULL ,[VFP_Manual] [bit] NOT NULL "
       ",[VFP_Fecha] [smalldatetime] NOT NULL ,[VFP_Hora] [char] (8) NOT NULL ,[VFP_Aprobado] [bit] NOT NULL "
       ",[VFP_Transaccion] [int] NOT NULL ,[VFP_CodRespuesta] [char] (2) NOT NULL ,[VFP_Respuesta] "
       "[VarChar](100) NOT NULL) ON [PRIMARY]",
       "ALTER TABLE [vFreePass] WITH NOCHECK ADD CONSTRAINT [PK_vFreePass] PRIMARY KEY  CLUSTERED "
       "([VFP_Empresa],[VFP_Transaccion])  ON [PRIMARY]"});
  paso({Vista("TransTransOFF"),
        "CREATE VIEW TransTransOFF AS (SELECT Transaccion.TRA_Empresa AS Empresa, Transaccion.TRA_Caja AS "
        "Caja, Transaccion.TRA_Moneda AS Moneda, Transaccion.TRA_Monto AS Monto,Transaccion.TRA_Operacion AS "
        "Operacion, Transaccion.TRA_Lote AS Lote, Transaccion.TRA_Fecha AS Fecha From Transaccion  Union All "
        "(SELECT TransOFF.OFF_Empresa AS Empresa, TransOFF.OFF_Caja AS Caja, TransOFF.OFF_Moneda AS Moneda, "
        "TransOFF.OFF_Monto  AS Monto,TransOFF.OFF_Operacion AS Operacion, Lote = 0, TransOFF.OFF_Fecha AS "
        "Fecha FROM TransOFF))"});
  paso({Tabla("TarjetaTipo"),
        "CREATE TABLE [dbo].[TarjetaTipo] ( [TAT_IdTarjetaTipo] [smallint] IDENTITY (1, 1) NOT NULL, "
        "[TAT_Empresa] [varchar] (6) NOT NULL, [TAT_CodTarjeta] [smallint] NOT NULL, [TAT_Desc] [varchar] "
        "(50) NOT NULL, [TAT_TipoPlan] [smallint] NOT NULL, [TAT_OFF] [Bit]) ON [PRIMARY]",
        "ALTER TABLE [dbo].[TarjetaTipo] WITH NOCHECK ADD CONSTRAINT [PK_TarjetaTipo] PRIMARY KEY  CLUSTERED "
        "([TAT_IdTarjetaTipo]) WITH  FILLFACTOR = 90  ON [PRIMARY] ",
        "ALTER TABLE [dbo].[TarjetaTipo] ADD CONSTRAINT [DF_TarjetaTipo_TAT_OFF] DEFAULT (0) FOR [TAT_OFF]",
        "Select * From Seguridad Where Seg_Codigo ='10030001'",
        "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( 10030001, '     Tarjeta "
        "Tipo',1,1)"});
  paso({Campo("Tarjeta", "TAR_DevIVA"), Falta("TAR_DevIVA"),
        "ALTER TABLE Tarjeta ADD TAR_DevIVA BIT NOT NULL DEFAULT 1", Campo("Locales", "Loc_DevIVA"),
        Falta("Loc_DevIVA"), "ALTER TABLE Locales ADD Loc_DevIVA TINYINT NOT NULL DEFAULT 0",
        Campo("Transaccion", "TRA_DevIVA"), Falta("TRA_DevIVA"),
        "ALTER TABLE Transaccion ADD TRA_DevIVA TINYINT NOT NULL DEFAULT 0", Campo("TransOFF", "OFF_DevIVA"),
        Falta("OFF_DevIVA"), "ALTER TABLE TransOFF ADD OFF_DevIVA TINYINT NOT NULL DEFAULT 0"});
  paso({Campo("Cajas", "Caj_TipDocDGI"), Falta("Caj_TipDocDGI"),
        "ALTER TABLE Cajas ADD Caj_TipDocDGI TINYINT NOT NULL DEFAULT 0",
        Campo("Locales", "Loc_NroDocumento"), Falta("Loc_NroDocumento"),
        "ALTER TABLE Locales ADD Loc_NroDocumento INT NOT NULL DEFAULT 1", Campo("TransOFF", "OFF_NroDGI"),
        Falta("OFF_NroDGI"), "ALTER TABLE TransOFF ADD OFF_NroDGI INT NOT NULL DEFAULT 0",
        Campo("Transaccion", "TRA_NroDGI"), Falta("TRA_NroDGI"),
        "ALTER TABLE Transaccion ADD TRA_NroDGI INT NOT NULL DEFAULT 0"});
  r.push_back("UpDate Parametros Set PAR_Version = 20516");
  r.push_back("COMMIT TRANSACTION");
  return r;
}

// Name SQL Server gives a default declared without one, up to its 8 hexadecimal digits.
std::string DefectoSinNombre(const std::string& tabla, const std::string& columna) {
  const std::size_t parteTabla = std::min(tabla.size(), 14 - std::min<std::size_t>(columna.size(), 5));
  const std::size_t parteColumna = std::min(columna.size(), 14 - parteTabla);
  return "DF__" + tabla.substr(0, parteTabla) + "__" + columna.substr(0, parteColumna) + "__########";
}

std::string Unir(const std::vector<std::optional<std::string>>& fila) {
  std::string s;
  for (const auto& v : fila) s += (s.empty() ? "" : "|") + v.value_or("NULL");
  return s;
}

// Each row as `texto` writes it (by default its values joined by "|"), sorted: the server gives no order.
template <class Texto = std::string (*)(const std::vector<std::optional<std::string>>&)>
std::vector<std::string> Ordenadas(const Filas& filas, Texto texto = Unir) {
  std::vector<std::string> r;
  for (const auto& f : filas) r.push_back(texto(f));
  std::sort(r.begin(), r.end());
  return r;
}

class Cadena25 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = new BaseDemo;
    corrida_ = new Corrida(base_->Actualizar(20516));
  }
  static void TearDownTestSuite() {
    delete corrida_;
    delete base_;
  }

  // Columns of a table in their order: "name type(length) NULL|NOT NULL".
  static std::vector<std::string> Columnas(const std::string& tabla) {
    Filas f = base_->Consultar(
        "Select ORDINAL_POSITION, COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From "
        "information_schema.columns Where TABLE_NAME = '" +
        tabla + "'");
    std::sort(f.begin(), f.end(),
              [](const auto& a, const auto& b) { return std::stoi(*a[0]) < std::stoi(*b[0]); });
    std::vector<std::string> r;
    for (const auto& c : f)
      r.push_back(*c[1] + " " + *c[2] + (c[3] ? "(" + *c[3] + ")" : "") +
                  (*c[4] == "YES" ? " NULL" : " NOT NULL"));
    return r;
  }
  // Constraints owned by a table, "name type", with generated default names masked.
  static std::vector<std::string> Restricciones(const std::string& tabla) {
    return Ordenadas(base_->Consultar("Select name, xtype From sysobjects Where parent_obj = (Select id From "
                                      "sysobjects Where name = '" +
                                      tabla + "')"),
                     [](const std::vector<std::optional<std::string>>& f) {
                       std::string nombre = *f[0], tipo = *f[1];
                       while (!tipo.empty() && tipo.back() == ' ') tipo.pop_back();
                       if (nombre.rfind("DF__", 0) == 0 && nombre.size() > 8) {
                         const std::string hex = nombre.substr(nombre.size() - 8);
                         EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEFabcdef"), std::string::npos)
                             << nombre;
                         nombre = nombre.substr(0, nombre.size() - 8) + "########";
                       }
                       return nombre + " " + tipo;
                     });
  }
  // Indexes of a table: "name C" (clustered) or "name N", and "(heap)" for a table without a clustered one.
  static std::vector<std::string> Indices(const std::string& tabla) {
    return Ordenadas(
        base_->Consultar("SELECT name, indid FROM Sysindexes Where id = (Select id From Sysobjects "
                         "Where name = '" +
                         tabla + "')"),
        [](const std::vector<std::optional<std::string>>& f) {
          const int indid = std::stoi(*f[1]);
          return indid == 0 ? std::string("(heap)") : *f[0] + (indid == 1 ? " C" : " N");
        });
  }

  static BaseDemo* base_;
  static Corrida* corrida_;
};

BaseDemo* Cadena25::base_ = nullptr;
Corrida* Cadena25::corrida_ = nullptr;

TEST_F(Cadena25, EnviaLasSentenciasEnOrdenConSusGuardasYTransacciones) {
  ASSERT_TRUE(corrida_->ok);
  ASSERT_EQ(corrida_->mensajes.size(), 1u);
  EXPECT_EQ(corrida_->mensajes[0].texto, kPregunta);
  const std::vector<std::string> esperado = RegistroEsperado();
  ASSERT_EQ(corrida_->registro.size(), esperado.size());
  for (std::size_t i = 0; i < esperado.size(); ++i)
    EXPECT_EQ(corrida_->registro[i], esperado[i]) << "linea " << i;
  const std::vector<std::string> etiquetas = {
      "Actualizando Version a 2.5.0",  "Actualizando Version a 2.5.1",  "Actualizando Version a 2.5.2",
      "Actualizando Version a 2.5.3",  "Actualizando Version a 2.5.4",  "Actualizando Version a 2.5.5",
      "Actualizando Version a 2.5.6",  "Actualizando Version a 2.5.7",  "Actualizando Version a 2.5.9",
      "Actualizando Version a 2.5.10", "Actualizando Version a 2.5.11", "Actualizando Version a 2.5.14",
      "Actualizando Version a 2.5.15", "Actualizando Version a 2.5.16"};
  EXPECT_EQ(corrida_->etiquetas, etiquetas);
}

// The progress window keeps moving: window events run after every statement of a step. The permission
// row is added by the general module's helper, which has no pump of its own.
TEST_F(Cadena25, DejaCorrerLosEventosTrasCadaSentencia) {
  const auto& t = corrida_->traza;
  // The driver lets events run once more when it unloads the progress window.
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), "~");
  std::vector<std::string> sinBombeo;
  std::size_t bombeos = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if (t[i] == "~") {
      ++bombeos;
      EXPECT_TRUE(i > 0 && t[i - 1].rfind("E ", 0) == 0) << "bombeo sin sentencia antes, linea " << i;
    } else if (t[i].rfind("E ", 0) == 0 && t[i + 1] != "~") {
      sinBombeo.push_back(t[i]);
    }
  }
  EXPECT_EQ(sinBombeo,
            std::vector<std::string>{"E Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) "
                                     "Values ( 10030001, '     Tarjeta Tipo',1,1)"});
  EXPECT_EQ(bombeos, corrida_->Ejecutadas().size() - 1);
}

TEST_F(Cadena25, TablasCreadasConSusColumnas) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Columnas("Locales"), (V{"Loc_Empresa varchar(6) NOT NULL", "Loc_Codigo varchar(6) NOT NULL",
                                    "Loc_Descri varchar(30) NOT NULL", "Loc_Tipo char(1) NOT NULL",
                                    "Loc_DevIVA tinyint NOT NULL", "Loc_NroDocumento int NOT NULL"}));
  EXPECT_EQ(Columnas("UltConciliacion"),
            (V{"Ult_Empresa varchar(6) NOT NULL", "Ult_CodTarjeta smallint NOT NULL",
               "Ult_Moneda char(1) NOT NULL", "Ult_Fecha smalldatetime NOT NULL"}));
  // The widened password loses NOT NULL: ALTER COLUMN without it always makes the column nullable.
  EXPECT_EQ(Columnas("Usuario"),
            (V{"Usu_Codigo smallint NOT NULL", "Usu_NomAbr char(8) NOT NULL",
               "Usu_Nombre varchar(30) NOT NULL", "Usu_Contra char(16) NULL", "Usu_Nivel tinyint NULL"}));
  EXPECT_EQ(Columnas("Seguridad"), (V{"Seg_Codigo char(8) NOT NULL", "Seg_Descri varchar(50) NOT NULL",
                                      "Seg_Nivel tinyint NOT NULL", "Seg_Edita bit NULL"}));
  EXPECT_EQ(Columnas("uTarjeta"), (V{"Uta_Cod smallint NOT NULL", "Uta_Desc varchar(20) NOT NULL"}));
  EXPECT_EQ(Columnas("uAcreditada"),
            (V{"UAC_Empresa varchar(6) NOT NULL", "UAC_CodTarjeta smallint NOT NULL",
               "UAC_IDAcredita int NOT NULL", "UAC_Puntos int NOT NULL", "UAC_Factura varchar(9) NOT NULL",
               "UAC_Fecha smalldatetime NOT NULL", "UAC_Hora char(8) NOT NULL"}));
  V comunes = {"Empresa varchar(6) NOT NULL",
               "Transaccion int NOT NULL",
               "Local char(6) NOT NULL",
               "Caja char(3) NOT NULL",
               "Operacion char(1) NOT NULL",
               "Monto numeric NOT NULL",
               "Moneda char(1) NOT NULL",
               "Puntos int NOT NULL",
               "TipoProducto tinyint NOT NULL",
               "CodTarjeta smallint NOT NULL",
               "NroTarjeta varchar(20) NOT NULL",
               "Fecha smalldatetime NOT NULL",
               "Hora char(8) NOT NULL",
               "NroDocumento varchar(9) NOT NULL",
               "Ticket int NOT NULL",
               "Terminal varchar(16) NOT NULL",
               "SaldoTarjeta int NOT NULL",
               "TransPuntos int NOT NULL",
               "NroDocOriginal varchar(9) NOT NULL"};
  V uof, uta;
  for (const auto& c : comunes) uof.push_back("UOF_" + c);
  for (const auto& c : comunes) uta.push_back("UTA_" + c);
  uta.insert(uta.begin() + 2, "UTA_Referencia int NOT NULL");
  uta.insert(uta.end(),
             {"UTA_IDAcredita int NOT NULL", "UTA_Enviado bit NOT NULL", "UTA_Estado char(1) NOT NULL"});
  EXPECT_EQ(Columnas("uTransOFF"), uof);
  EXPECT_EQ(Columnas("uTransaccion"), uta);
  EXPECT_EQ(Columnas("vTarjeta"), (V{"VTA_Cod smallint NOT NULL", "VTA_Desc varchar(30) NOT NULL"}));
  EXPECT_EQ(
      Columnas("vFreePass"),
      (V{"VFP_Empresa varchar(6) NOT NULL", "VFP_Local varchar(6) NOT NULL", "VFP_Caja char(3) NOT NULL",
         "VFP_CodTarjeta smallint NOT NULL", "VFP_NroTarjeta varchar(30) NOT NULL",
         "VFP_Operacion char(1) NOT NULL", "VFP_Manual bit NOT NULL", "VFP_Fecha smalldatetime NOT NULL",
         "VFP_Hora char(8) NOT NULL", "VFP_Aprobado bit NOT NULL", "VFP_Transaccion int NOT NULL",
         "VFP_CodRespuesta char(2) NOT NULL", "VFP_Respuesta varchar(100) NOT NULL"}));
  EXPECT_EQ(Columnas("TarjetaTipo"),
            (V{"TAT_IdTarjetaTipo smallint NOT NULL", "TAT_Empresa varchar(6) NOT NULL",
               "TAT_CodTarjeta smallint NOT NULL", "TAT_Desc varchar(50) NOT NULL",
               "TAT_TipoPlan smallint NOT NULL", "TAT_OFF bit NULL"}));
}

// Columns added to the base tables come last, in the order of the steps; three parameters are gone.
TEST_F(Cadena25, ColumnasAgregadasYQuitadasDeLasTablasBase) {
  using V = std::vector<std::string>;
  auto ultimas = [](const V& columnas, std::size_t n) {
    return V(columnas.end() - static_cast<long>(n), columnas.end());
  };
  EXPECT_EQ(Columnas("Parametros"), V{"PAR_Version smallint NULL"});
  EXPECT_EQ(ultimas(Columnas("Transaccion"), 3),
            (V{"TRA_Enviado bit NOT NULL", "TRA_DevIVA tinyint NOT NULL", "TRA_NroDGI int NOT NULL"}));
  EXPECT_EQ(ultimas(Columnas("Tarjeta"), 7),
            (V{"TAR_Dias smallint NOT NULL", "TAR_CantOFFM1 smallint NOT NULL",
               "TAR_MontOFFM1 decimal NOT NULL", "TAR_CantOFFM2 smallint NOT NULL",
               "TAR_MontOFFM2 decimal NOT NULL", "TAR_OFF bit NOT NULL", "TAR_DevIVA bit NOT NULL"}));
  EXPECT_EQ(ultimas(Columnas("TransOFF"), 3),
            (V{"OFF_TrackI varchar(80) NOT NULL", "OFF_DevIVA tinyint NOT NULL", "OFF_NroDGI int NOT NULL"}));
  EXPECT_EQ(ultimas(Columnas("Cajas"), 2),
            (V{"Caj_Timer smallint NOT NULL", "Caj_TipDocDGI tinyint NOT NULL"}));
}

TEST_F(Cadena25, RestriccionesConSusNombres) {
  using V = std::vector<std::string>;
  auto con = [](V v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(Restricciones("Locales"), con({"PK_Locales PK", DefectoSinNombre("Locales", "Loc_DevIVA") + " D",
                                           DefectoSinNombre("Locales", "Loc_NroDocumento") + " D"}));
  EXPECT_EQ(Restricciones("UltConciliacion"), V{});
  EXPECT_EQ(Restricciones("Usuario"), con({"PK_Usuario PK", "IX_Usuario UQ"}));
  EXPECT_EQ(Restricciones("Seguridad"), con({"PK_Seguridad PK", "DF_Seguridad_Seg_Edita D"}));
  EXPECT_EQ(Restricciones("Transaccion"),
            con({"PK_Transaccion PK", DefectoSinNombre("Transaccion", "TRA_Enviado") + " D",
                 DefectoSinNombre("Transaccion", "TRA_DevIVA") + " D",
                 DefectoSinNombre("Transaccion", "TRA_NroDGI") + " D"}));
  EXPECT_EQ(Restricciones("Tarjeta"),
            con({"PK_Tarjeta PK", DefectoSinNombre("Tarjeta", "TAR_Dias") + " D",
                 DefectoSinNombre("Tarjeta", "TAR_CantOFFM1") + " D",
                 DefectoSinNombre("Tarjeta", "TAR_MontOFFM1") + " D",
                 DefectoSinNombre("Tarjeta", "TAR_CantOFFM2") + " D",
                 DefectoSinNombre("Tarjeta", "TAR_MontOFFM2") + " D", "DF_Tarjeta_OFF D",
                 DefectoSinNombre("Tarjeta", "TAR_DevIVA") + " D"}));
  EXPECT_EQ(Restricciones("TransOFF"),
            con({"PK_TransOFF PK", DefectoSinNombre("TransOFF", "OFF_TrackI") + " D",
                 DefectoSinNombre("TransOFF", "OFF_DevIVA") + " D",
                 DefectoSinNombre("TransOFF", "OFF_NroDGI") + " D"}));
  EXPECT_EQ(Restricciones("Cajas"), con({"PK_Cajas PK", DefectoSinNombre("Cajas", "Caj_Timer") + " D",
                                         DefectoSinNombre("Cajas", "Caj_TipDocDGI") + " D"}));
  EXPECT_EQ(Restricciones("uTarjeta"), V{"PK_uTarjeta PK"});
  EXPECT_EQ(Restricciones("uAcreditada"), V{"PK_uAcredita PK"});
  EXPECT_EQ(Restricciones("uTransOFF"), V{"PK_uTransOFF PK"});
  EXPECT_EQ(Restricciones("uTransaccion"),
            con({"PK_uTransaccion PK", "DF_uTransaccion_UTA_Referencia D", "DF_uTransaccion_UTA_IDAcredita D",
                 "DF_uTransaccion_UTA_Enviada D", "DF_uTransaccion_UTA_Estado D"}));
  EXPECT_EQ(Restricciones("vTarjeta"), V{"PK_vTarjeta PK"});
  EXPECT_EQ(Restricciones("vFreePass"), V{"PK_vFreePass PK"});
  EXPECT_EQ(Restricciones("TarjetaTipo"), con({"PK_TarjetaTipo PK", "DF_TarjetaTipo_TAT_OFF D"}));
}

TEST_F(Cadena25, IndicesAgrupadosYNoAgrupados) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Indices("Locales"), V{"PK_Locales C"});
  EXPECT_EQ(Indices("UltConciliacion"), V{"(heap)"});
  EXPECT_EQ(Indices("Usuario"), (V{"(heap)", "IX_Usuario N", "PK_Usuario N"}));
  EXPECT_EQ(Indices("Seguridad"), (V{"(heap)", "PK_Seguridad N"}));
  EXPECT_EQ(Indices("uTarjeta"), (V{"(heap)", "PK_uTarjeta N"}));
  EXPECT_EQ(Indices("uAcreditada"), (V{"(heap)", "PK_uAcredita N"}));
  EXPECT_EQ(Indices("uTransOFF"), (V{"(heap)", "PK_uTransOFF N"}));
  EXPECT_EQ(Indices("uTransaccion"), (V{"(heap)", "PK_uTransaccion N"}));
  EXPECT_EQ(Indices("vTarjeta"), V{"PK_vTarjeta C"});
  EXPECT_EQ(Indices("vFreePass"), V{"PK_vFreePass C"});
  EXPECT_EQ(Indices("TarjetaTipo"), V{"PK_TarjetaTipo C"});
}

// The view lists on-line and off-line transactions together; off-line ones show batch 0.
TEST_F(Cadena25, VistaDeTransaccionesEnLineaYFueraDeLinea) {
  EXPECT_EQ(base_->Columna("Select Name From sysobjects Where Xtype = 'V'"),
            std::vector<std::string>{"TransTransOFF"});
  EXPECT_EQ(
      Ordenadas(
          base_->Consultar("Select Empresa, Caja, Moneda, Monto, Operacion, Lote, Fecha From TransTransOFF")),
      (std::vector<std::string>{
          "000001|001|P|-1250.50|A|31|2026-11-02 10:17:00", "000001|001|P|1250.50|C|31|2026-11-02 10:15:00",
          "000001|001|P|3120.00|C|32|2026-11-03 12:22:00", "000001|001|P|540.00|C|0|2026-11-02 21:10:00",
          "000001|002|D|75.25|A|0|2026-11-03 20:45:00", "000001|002|D|89.90|C|12|2026-11-02 16:40:00",
          "000001|002|P|-430.00|D|12|2026-11-03 09:05:00"}));
}

TEST_F(Cadena25, DatosSembradosYValoresPorDefecto) {
  using V = std::vector<std::string>;
  EXPECT_EQ(base_->Valor("Select PAR_Version From Parametros"), "20516");
  EXPECT_EQ(Ordenadas(base_->Consultar(
                "Select Usu_Codigo, Usu_NomAbr, Usu_Nombre, Usu_Contra, Usu_Nivel From Usuario")),
            (V{"1|Admin   |Administrador|QJ              |9", "2|User    |Usuario|ZQ              |3"}));
  EXPECT_EQ(Ordenadas(base_->Consultar("Select Seg_Codigo, Seg_Descri, Seg_Nivel, Seg_Edita From Seguridad")),
            V{"10030001|     Tarjeta Tipo|1|1"});
  // Only the amounts of operations other than a purchase change sign; off-line ones are left alone.
  EXPECT_EQ(Ordenadas(base_->Consultar("Select TRA_Transaccion, TRA_Operacion, TRA_Monto From Transaccion")),
            (V{"1|C|1250.50", "2|A|-1250.50", "3|C|89.90", "4|D|-430.00", "5|C|3120.00"}));
  EXPECT_EQ(Ordenadas(base_->Consultar(
                "Select OFF_Transaccion, OFF_Monto, OFF_TrackI, OFF_DevIVA, OFF_NroDGI From TransOFF")),
            (V{"1|540.00||0|0", "2|75.25||0|0"}));
  EXPECT_EQ(
      Ordenadas(base_->Consultar("Select TAR_Cod, TAR_Dias, TAR_CantOFFM1, TAR_MontOFFM1, TAR_CantOFFM2, "
                                 "TAR_MontOFFM2, TAR_OFF, TAR_DevIVA From Tarjeta")),
      (V{"1|0|0|0.00|0|0.00|1|1", "2|0|0|0.00|0|0.00|1|1", "4|0|0|0.00|0|0.00|1|1"}));
  EXPECT_EQ(Ordenadas(base_->Consultar(
                "Select TRA_Transaccion, TRA_Enviado, TRA_DevIVA, TRA_NroDGI From Transaccion")),
            (V{"1|0|0|0", "2|0|0|0", "3|0|0|0", "4|0|0|0", "5|0|0|0"}));
  EXPECT_EQ(Ordenadas(base_->Consultar("Select Caj_Codigo, Caj_Timer, Caj_TipDocDGI From Cajas")),
            (V{"001|0|0", "002|0|0"}));
  for (const char* vacia : {"Locales", "UltConciliacion", "uTarjeta", "uAcreditada", "uTransOFF",
                            "uTransaccion", "vTarjeta", "vFreePass", "TarjetaTipo"})
    EXPECT_TRUE(base_->Consultar(std::string("Select * From ") + vacia).empty()) << vacia;
}

// The demo database is kept in the shape the engine writes, so that a run that changes nothing leaves
// it byte for byte the same and a diff of two runs shows only what changed.
TEST(Demo25, GuardadaComoLaEscribeElMotor) {
  const std::string demo = Leer(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql");
  simulado::Servidor s("PagoraDemo");
  s.EjecutarScript(demo);
  EXPECT_EQ(s.Script(), demo);
  BaseDemo b;
  EXPECT_EQ(b.Valor("Select PAR_Version From Parametros"), "0");
  EXPECT_EQ(b.Columna("Select TAR_Cod From Tarjeta"), (std::vector<std::string>{"1", "2", "4"}));
}

// Each step run a second time on what it left: only the unguarded statements do anything: the amount
// update, the password widening, and the column drops of 2.5.1, which fail once the columns are gone.
TEST(SegundaPasada25, CadaPasoRepetidoSobreSuResultado) {
  struct Paso {
    std::int16_t desde, hasta;
  };
  const Paso pasos[] = {{0, 20500},     {20500, 20501}, {20501, 20502}, {20502, 20503}, {20503, 20504},
                        {20504, 20505}, {20505, 20506}, {20506, 20507}, {20507, 20509}, {20509, 20510},
                        {20510, 20511}, {20511, 20514}, {20514, 20515}, {20515, 20516}};
  BaseDemo b;
  for (const Paso& p : pasos) {
    SCOPED_TRACE("paso hasta " + std::to_string(p.hasta));
    ASSERT_TRUE(b.Actualizar(p.hasta).ok);
    const std::string hecho = b.Contenido();
    b.Modificar({"UPDATE Parametros SET PAR_Version = " + std::to_string(p.desde)});
    const std::string rebajado = b.Contenido();
    const Corrida otra = b.Actualizar(p.hasta);
    if (p.hasta == 20501) {
      EXPECT_FALSE(otra.ok);
      ASSERT_GE(otra.mensajes.size(), 2u);
      EXPECT_EQ(
          otra.mensajes[1].texto,
          "ERROR de Actualización a Version 2.5.1 \r\n4924 ALTER TABLE DROP COLUMN failed because column "
          "'PAR_LA' does not exist in table 'Parametros'.");
      EXPECT_EQ(b.Contenido(), rebajado);
    } else if (p.hasta == 20502) {
      // Run again, the update turns the refunds and voids positive again, and changes nothing else.
      ASSERT_TRUE(otra.ok);
      EXPECT_EQ(otra.Ejecutadas(),
                (std::vector<std::string>{
                    "UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' ",
                    "UpDate Parametros Set PAR_Version = 20502"}));
      EXPECT_EQ(b.Valor("Select TRA_Monto From Transaccion Where TRA_Transaccion = 2"), "1250.50");
      const std::string repetido = b.Contenido();
      b.Reponer(hecho);
      b.Modificar({"UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' "});
      EXPECT_EQ(repetido, b.Contenido());
    } else {
      ASSERT_TRUE(otra.ok);
      EXPECT_EQ(b.Contenido(), hecho);
      // Nothing but the version is written again, and the password column widened to the width it has.
      std::vector<std::string> esperadas = {"UpDate Parametros Set PAR_Version = " + std::to_string(p.hasta)};
      if (p.hasta == 20506)
        esperadas.insert(esperadas.begin(), "ALTER TABLE Usuario ALTER COLUMN Usu_Contra Char(16)");
      EXPECT_EQ(otra.Ejecutadas(), esperadas);
    }
    b.Reponer(hecho);
  }
}

}  // namespace
}  // namespace pasos25
