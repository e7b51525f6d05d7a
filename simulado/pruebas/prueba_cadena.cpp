// Every schema statement the updater sends, in chain order, over the demo database.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "motor/Servidor.h"

using simulado::ErrorSql;
using simulado::Servidor;

namespace {

std::string Demo() {
  std::ifstream f(std::string(DIR_FUENTES) + "/solvane/datos/PagoraDemo.sql");
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

const std::string kC = "COLLATE Modern_Spanish_CI_AS";
const std::string kR = "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo,RAN_Debito) ";
const std::string kT =
    "Insert Into Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,TAR_Dias,TAR_CantOFFM1,"
    "TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan) ";

// The chain's statements for a database that has none of the objects yet.
std::vector<std::string> Sentencias() {
  std::vector<std::string> v = {
      // 2.5.1 to 2.5.5
      "CREATE TABLE Locales( Loc_Empresa Varchar (6) NOT NULL,Loc_Codigo Varchar (6) NOT NULL,Loc_Descri "
      "Varchar "
      "(30) NOT NULL,Loc_Tipo Char (1) NOT NULL)",
      "ALTER TABLE Locales WITH CHECK ADD CONSTRAINT PK_Locales PRIMARY KEY CLUSTERED(Loc_Empresa, "
      "Loc_Codigo) "
      "WITH  FILLFACTOR = 90  ON [PRIMARY] ",
      "ALTER TABLE Parametros DROP Column PAR_LA", "ALTER TABLE Parametros DROP Column PAR_Admin",
      "ALTER TABLE Transaccion ADD TRA_Enviado BIT NOT NULL DEFAULT 0",
      "ALTER TABLE Parametros DROP Column PAR_Frecuencia",
      "UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' ",
      "CREATE TABLE UltConciliacion ( Ult_Empresa Varchar (6) NOT NULL,Ult_CodTarjeta SmallInt NOT "
      "NULL,Ult_Moneda Char (1) NOT NULL,Ult_Fecha SmallDateTime NOT NULL)",
      "ALTER TABLE Tarjeta ADD TAR_Dias Smallint NOT NULL DEFAULT 0",
      "ALTER TABLE Tarjeta ADD TAR_CantOFFM1 Smallint NOT NULL DEFAULT 0",
      "ALTER TABLE Tarjeta ADD TAR_MontOFFM1 Decimal(8,2) NOT NULL DEFAULT 0",
      "ALTER TABLE Tarjeta ADD TAR_CantOFFM2 Smallint NOT NULL DEFAULT 0",
      "ALTER TABLE Tarjeta ADD TAR_MontOFFM2 Decimal(8,2) NOT NULL DEFAULT 0",
      "ALTER TABLE TransOFF ADD OFF_TrackI VarChar(80) NOT NULL DEFAULT ('')",
      "CREATE TABLE [Usuario] ([Usu_Codigo] [smallint] NOT NULL ,[Usu_NomAbr] [char] (8) NOT NULL "
      ",[Usu_Nombre] "
      "[varchar] (30) NOT NULL ,[Usu_Contra] [char] (8) NOT NULL ,[Usu_Nivel] [tinyint]) ON [PRIMARY]",
      "ALTER TABLE [Usuario] WITH NOCHECK ADD CONSTRAINT [PK_Usuario] PRIMARY KEY  NONCLUSTERED ( "
      "[Usu_Codigo]) "
      "WITH  FILLFACTOR = 90  ON [PRIMARY] ,CONSTRAINT [IX_Usuario] UNIQUE  NONCLUSTERED ( [Usu_NomAbr] ) "
      "WITH  "
      "FILLFACTOR = 90  ON [PRIMARY]",
      "CREATE TABLE [Seguridad] ([Seg_Codigo] [char] (8) NOT NULL ,[Seg_Descri] [varchar] (50) NOT NULL , "
      "[Seg_Nivel] [tinyint] NOT NULL , [Seg_Edita] [Bit] ) ON [PRIMARY]",
      "ALTER TABLE [Seguridad] WITH NOCHECK ADD CONSTRAINT [DF_Seguridad_Seg_Edita] DEFAULT (1) FOR "
      "[Seg_Edita], "
      "CONSTRAINT [PK_Seguridad] PRIMARY KEY  NONCLUSTERED ([Seg_Codigo]) WITH  FILLFACTOR = 90  ON "
      "[PRIMARY]",
      "Insert Into Usuario (Usu_Codigo,Usu_NomAbr,Usu_Nombre,Usu_Contra,Usu_Nivel) Values "
      "(1,'Admin','Administrador','QJ',9)",
      "Insert Into Usuario (Usu_Codigo,Usu_NomAbr,Usu_Nombre,Usu_Contra,Usu_Nivel) Values "
      "(2,'User','Usuario','ZQ',3)",
      // 2.5.6 to 2.5.10
      "ALTER TABLE Usuario ALTER COLUMN Usu_Contra Char(16)",
      "ALTER TABLE Cajas ADD Caj_Timer Smallint NOT NULL DEFAULT 0",
      "ALTER TABLE Tarjeta ADD TAR_OFF BIT NOT NULL CONSTRAINT DF_Tarjeta_OFF DEFAULT 1",
      "CREATE TABLE [uTarjeta] ([Uta_Cod] [smallint] NOT NULL ,[Uta_Desc] [varchar] (20) NOT NULL) ON "
      "[PRIMARY]",
      "ALTER TABLE [uTarjeta] WITH NOCHECK ADD CONSTRAINT [PK_uTarjeta] PRIMARY KEY  NONCLUSTERED ( "
      "[Uta_Cod]) "
      "WITH  FILLFACTOR = 90  ON [PRIMARY] ",
      "CREATE TABLE [uAcreditada] ([UAC_Empresa] [varchar] (6) NOT NULL ,[UAC_CodTarjeta] [smallint] NOT "
      "NULL "
      ",[UAC_IDAcredita] [int] NOT NULL ,[UAC_Puntos] [int] NOT NULL ,[UAC_Factura] [varchar] (9) NOT NULL "
      ",[UAC_Fecha] [smalldatetime] NOT NULL ,[UAC_Hora] [Char](8) NOT NULL) ON [PRIMARY]",
      "ALTER TABLE [uAcreditada] WITH NOCHECK ADD CONSTRAINT [PK_uAcredita] PRIMARY KEY  NONCLUSTERED "
      "([UAC_Empresa],[UAC_CodTarjeta],[UAC_IDAcredita]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
      "CREATE TABLE [uTransOFF] ( [UOF_Empresa] [varchar] (6) NOT NULL ,[UOF_Transaccion] [int] NOT NULL "
      ",[UOF_Local] [char] (6) NOT NULL ,[UOF_Caja] [char] (3) NOT NULL ,[UOF_Operacion] [char] (1) NOT NULL "
      ",[UOF_Monto] [numeric](9, 2) NOT NULL ,[UOF_Moneda] [char] (1) NOT NULL ,[UOF_Puntos] [int] NOT NULL "
      ",[UOF_TipoProducto] [tinyint] NOT NULL ,[UOF_CodTarjeta] [smallint] NOT NULL ,[UOF_NroTarjeta] "
      "[varchar] "
      "(20) NOT NULL ,[UOF_Fecha] [smalldatetime] NOT NULL ,[UOF_Hora] [char] (8) NOT NULL "
      ",[UOF_NroDocumento] "
      "[varchar] (9) NOT NULL ,[UOF_Ticket] [int] NOT NULL ,[UOF_Terminal] [varchar] (16) NOT NULL "
      ",[UOF_SaldoTarjeta] [int] NOT NULL ,[UOF_TransPuntos] [int] NOT NULL ,[UOF_NroDocOriginal] "
      "[VarChar](9) "
      "NOT NULL ) ON [PRIMARY]",
      "ALTER TABLE [uTransOFF] WITH NOCHECK ADD CONSTRAINT [PK_uTransOFF] PRIMARY KEY  NONCLUSTERED "
      "([UOF_Empresa],[UOF_Transaccion]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
      "CREATE TABLE [uTransaccion] ([UTA_Empresa] [varchar] (6) NOT NULL ,[UTA_Transaccion] [int] NOT NULL "
      ",[UTA_Referencia] [int] NOT NULL ,[UTA_Local] [char] (6) NOT NULL ,[UTA_Caja] [char] (3) NOT NULL "
      ",[UTA_Operacion] [char] (1) NOT NULL ,[UTA_Monto] [numeric](9, 2) NOT NULL ,[UTA_Moneda] [char] (1) "
      "NOT "
      "NULL ,[UTA_Puntos] [int] NOT NULL ,[UTA_TipoProducto] [tinyint] NOT NULL ,[UTA_CodTarjeta] [smallint] "
      "NOT "
      "NULL ,[UTA_NroTarjeta] [varchar] (20) NOT NULL ,[UTA_Fecha] [smalldatetime] NOT NULL ,[UTA_Hora] "
      "[char] "
      "(8) NOT NULL ,[UTA_NroDocumento] [varchar] (9) NOT NULL ,[UTA_Ticket] [int] NOT NULL ,[UTA_Terminal] "
      "[varchar] (16) NOT NULL ,[UTA_SaldoTarjeta] [int] NOT NULL ,[UTA_TransPuntos] [int] NOT NULL "
      ",[UTA_NroDocOriginal] [varchar] (9) NOT NULL ,[UTA_IDAcredita] [int] NOT NULL ,[UTA_Enviado] [bit] "
      "NOT "
      "NULL ,[UTA_Estado] [Char](1) NOT NULL ) ON [PRIMARY]",
      "ALTER TABLE [uTransaccion] WITH NOCHECK ADD CONSTRAINT [DF_uTransaccion_UTA_Referencia] DEFAULT (0) "
      "FOR "
      "[UTA_Referencia],CONSTRAINT [DF_uTransaccion_UTA_IDAcredita] DEFAULT (0) FOR "
      "[UTA_IDAcredita],CONSTRAINT [DF_uTransaccion_UTA_Enviada] DEFAULT (0) FOR [UTA_Enviado],CONSTRAINT "
      "[DF_uTransaccion_UTA_Estado] DEFAULT ('N') FOR [UTA_Estado],CONSTRAINT [PK_uTransaccion] PRIMARY KEY  "
      "NONCLUSTERED ([UTA_Empresa],[UTA_Transaccion],[UTA_Referencia]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
      "CREATE TABLE [vTarjeta] ( [VTA_Cod] [smallint] NOT NULL ,[VTA_Desc] [VarChar](30) NOT NULL) ON "
      "[PRIMARY]",
      "ALTER TABLE [vTarjeta] WITH NOCHECK ADD CONSTRAINT [PK_vTarjeta] PRIMARY KEY  CLUSTERED ([VTA_Cod])  "
      "ON "
      "[PRIMARY]",
      "CREATE TABLE [dbo].[vFreePass] ([VFP_Empresa] [varchar] (6) NOT NULL ,[VFP_Local] [varchar] (6) NOT "
      "NULL "
      ",[VFP_Caja] [char] (3) NOT NULL ,[VFP_CodTarjeta] [smallint] NOT NULL ,[VFP_NroTarjeta] [varchar] "
      "(30) "
      "NOT NULL ,[VFP_Operacion] [char] (1) NOT NULL ,[VFP_Manual] [bit] NOT NULL ,[VFP_Fecha] "
      "[smalldatetime] "
      "NOT NULL ,[VFP_Hora] [char] (8) NOT NULL ,[VFP_Aprobado] [bit] NOT NULL ,[VFP_Transaccion] [int] NOT "
      "NULL "
      ",[VFP_CodRespuesta] [char] (2) NOT NULL ,[VFP_Respuesta] [VarChar](100) NOT NULL) ON [PRIMARY]",
      "ALTER TABLE [vFreePass] WITH NOCHECK ADD CONSTRAINT [PK_vFreePass] PRIMARY KEY  CLUSTERED "
      "([VFP_Empresa],[VFP_Transaccion])  ON [PRIMARY]",
      // 2.5.11 to 2.5.16
      "CREATE VIEW TransTransOFF AS (SELECT Transaccion.TRA_Empresa AS Empresa, Transaccion.TRA_Caja AS "
      "Caja, "
      "Transaccion.TRA_Moneda AS Moneda, Transaccion.TRA_Monto AS Monto,Transaccion.TRA_Operacion AS "
      "Operacion, "
      "Transaccion.TRA_Lote AS Lote, Transaccion.TRA_Fecha AS Fecha From Transaccion  Union All (SELECT "
      "TransOFF.OFF_Empresa AS Empresa, TransOFF.OFF_Caja AS Caja, TransOFF.OFF_Moneda AS Moneda, "
      "TransOFF.OFF_Monto  AS Monto,TransOFF.OFF_Operacion AS Operacion, Lote = 0, TransOFF.OFF_Fecha AS "
      "Fecha "
      "FROM TransOFF))",
      "CREATE TABLE [dbo].[TarjetaTipo] ( [TAT_IdTarjetaTipo] [smallint] IDENTITY (1, 1) NOT NULL, "
      "[TAT_Empresa] [varchar] (6) NOT NULL, [TAT_CodTarjeta] [smallint] NOT NULL, [TAT_Desc] [varchar] (50) "
      "NOT "
      "NULL, [TAT_TipoPlan] [smallint] NOT NULL, [TAT_OFF] [Bit]) ON [PRIMARY]",
      "ALTER TABLE [dbo].[TarjetaTipo] WITH NOCHECK ADD CONSTRAINT [PK_TarjetaTipo] PRIMARY KEY  CLUSTERED "
      "([TAT_IdTarjetaTipo]) WITH  FILLFACTOR = 90  ON [PRIMARY] ",
      "ALTER TABLE [dbo].[TarjetaTipo] ADD CONSTRAINT [DF_TarjetaTipo_TAT_OFF] DEFAULT (0) FOR [TAT_OFF]",
      "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values ( 10030001, '     Tarjeta "
      "Tipo',1,1)",
      "ALTER TABLE Tarjeta ADD TAR_DevIVA BIT NOT NULL DEFAULT 1",
      "ALTER TABLE Locales ADD Loc_DevIVA TINYINT NOT NULL DEFAULT 0",
      "ALTER TABLE Transaccion ADD TRA_DevIVA TINYINT NOT NULL DEFAULT 0",
      "ALTER TABLE TransOFF ADD OFF_DevIVA TINYINT NOT NULL DEFAULT 0",
      "ALTER TABLE Cajas ADD Caj_TipDocDGI TINYINT NOT NULL DEFAULT 0",
      "ALTER TABLE Locales ADD Loc_NroDocumento INT NOT NULL DEFAULT 1",
      "ALTER TABLE TransOFF ADD OFF_NroDGI INT NOT NULL DEFAULT 0",
      "ALTER TABLE Transaccion ADD TRA_NroDGI INT NOT NULL DEFAULT 0",
      // 3.0.0 to 3.0.4
      "ALTER TABLE TransOFF ADD OFF_NroTarEnc VarChar(50) NOT NULL CONSTRAINT DF_TransOFF_NroTarEnc DEFAULT "
      "('')",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_TrackI VarChar(180)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_TrackII VarChar(100)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_CVC VarChar(16)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_Venc VarChar(16)",
      "ALTER TABLE TransOFF ALTER COLUMN OFF_Titular VarChar(100)",
      "ALTER TABLE Transaccion ALTER COLUMN TRA_Titular VarChar(100)",
      "ALTER TABLE Transaccion ADD TRA_NroTarEnc VarChar(50) NOT NULL CONSTRAINT DF_Transaccion_NroTarEnc "
      "DEFAULT "
      "('')",
      "ALTER TABLE Transaccion ALTER COLUMN TRA_Venc VarChar(16)",
      "ALTER TABLE Parametros ADD PAR_DiaSinCierre tinyint NOT NULL CONSTRAINT DF_Parametros_DiaSinCierre "
      "DEFAULT "
      "(3)",
      "ALTER TABLE Tarjeta ADD TAR_IngManual bit NOT NULL CONSTRAINT DF_Tarjeta_IngManual DEFAULT (1)",
      "ALTER TABLE Tarjeta ADD TAR_IngPlan bit NOT NULL CONSTRAINT DF_Tarjeta_IngPlan DEFAULT (1)",
      "ALTER TABLE Tarjeta ADD TAR_Devolucion Bit NOT NULL CONSTRAINT DF_Tarjeta_Devolucion DEFAULT (1)",
      "ALTER TABLE Tarjeta ADD TAR_Anulacion Bit NOT NULL CONSTRAINT DF_Tarjeta_Anulacion DEFAULT (1)",
      "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) Values(7,504338,504338,16)",
      "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) Values(12,601933,601933,16)",
      "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) Values(14,628026,628026,16)",
      kT + "Values(7,'ITalcred','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,1,1,1,0)",
      kT + "Values(12,'Creditel','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,0,1,1,0)",
      kT + "Values(14,'PassCard','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,1,1,1,0)",
      "CREATE TABLE [TarjetaCaja] ([TRC_Empresa] [varchar] (6)  NOT NULL ,[TRC_Caja] [char] (3) NOT NULL "
      ",[TRC_CodTarjeta] [smallint] NOT NULL ,[TRC_CodComercio] [varchar] (15) NOT NULL ,[TRC_CodComDolar] "
      "[varchar] (15) NOT NULL ,[TRC_IdTerminal] [varchar] (8) NOT NULL ,CONSTRAINT [PK_TarjetaCaja] PRIMARY "
      "KEY "
      " CLUSTERED ([TRC_Empresa],[TRC_Caja],[TRC_CodTarjeta])  ON [PRIMARY] ) ON [PRIMARY]",
      "ALTER TABLE TransOFF DROP Column OFF_CVC",
      "ALTER TABLE Tarjeta ADD TAR_CodAutorizNro bit NOT NULL CONSTRAINT DF_Tarjeta_TAR_CodAutorizNro "
      "DEFAULT (1)",
      "ALTER TABLE Tarjeta ADD TAR_Propina bit NOT NULL CONSTRAINT DF_Tarjeta_TAR_Propina DEFAULT (0)",
      "UPDATE Tarjeta SET TAR_Propina = 1 WHERE TAR_Cod In (1,2,4) ",
      "ALTER TABLE Transaccion ADD TRA_MontoAdicional Decimal(8,2) NOT NULL CONSTRAINT "
      "DF_Transaccion_TRA_MontoAdicional DEFAULT (0)",
      "ALTER TABLE TransOFF ADD OFF_MontoAdicional Decimal(8,2) NOT NULL CONSTRAINT "
      "DF_TransOFF_OFF_MontoAdicional "
      "DEFAULT (0)",
      "ALTER TABLE Locales ADD Loc_Propina bit NOT NULL CONSTRAINT DF_Local_Loc_Propina DEFAULT (0)",
      "ALTER TABLE TransOff ADD OFF_TransOff [int] IDENTITY (1, 1)",
      "ALTER TABLE Parametros ADD PAR_PorRetIVA Decimal(5,2) NOT NULL CONSTRAINT DF_Parametros_PAR_PorRetIVA "
      "DEFAULT (0.00)",
      "ALTER TABLE Acreditada ADD ACR_RetIva Decimal(8,2) NOT NULL CONSTRAINT DF_Acreditada_ACR_RetIva "
      "DEFAULT "
      "(0.00)",
      "ALTER TABLE Transaccion ADD TRA_Banco VarChar(50) NOT NULL CONSTRAINT DF_Transaccion_TRA_Banco "
      "DEFAULT ('')",
      "CREATE TABLE [TarjetaBanco] ([BAN_Codigo] [smallint] NOT NULL ,[BAN_CodTarjeta] [smallint] NOT NULL "
      ",[BAN_Banco] [varchar] (50) NOT NULL ,[BAN_Desde] [int] NOT NULL ,[BAN_Hasta] [int] NOT NULL "
      ",[BAN_Largo] "
      "[smallint] NOT NULL ,CONSTRAINT [PK_TarjetaBanco] PRIMARY KEY  CLUSTERED ([BAN_Codigo])  ON "
      "[PRIMARY]) ON "
      "[PRIMARY]",
      "CREATE INDEX [IX_Transaccion_Caja] ON [Transaccion]([TRA_Empresa],[TRA_Caja]) WITH  FILLFACTOR = 90 "
      "ON "
      "[PRIMARY]",
      "ALTER TABLE Tarjeta ADD TAR_Tipo smallint NOT NULL CONSTRAINT DF_Tarjeta_TAR_Tipo DEFAULT (1)",
      "ALTER TABLE Tarjeta ADD TAR_MontMIN [decimal](8, 2) NOT NULL CONSTRAINT DF_Tarjeta_TAR_MontMIN "
      "DEFAULT (0)",
      "ALTER TABLE Tarjeta ADD TAR_MontMAX [decimal](8, 2) NOT NULL CONSTRAINT DF_Tarjeta_TAR_MontMAX "
      "DEFAULT (0)",
      "Insert Into Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,TAR_Dias,TAR_CantOFFM1,"
      "TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan,TAR_Tipo,"
      "TAR_MontMIN,TAR_MontMAX) "
      "Values(51,'Movistar','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,0,0,1,0,3,100,1000)",
      // 3.0.5
      "ALTER TABLE Locales ADD Loc_TipoIMP TINYINT NOT NULL CONSTRAINT DF_Local_Loc_TipoIMP DEFAULT 1",
      "ALTER TABLE Cajas ADD Caj_TCPuerto TINYINT NOT NULL CONSTRAINT DF_Cajas_Caj_TCPuerto DEFAULT (0)",
      "ALTER TABLE Cajas ADD Caj_TCModelo TINYINT NOT NULL CONSTRAINT DF_Cajas_Caj_TCModelo DEFAULT (0)",
      "ALTER TABLE Rangos ADD RAN_Debito TINYINT NOT NULL CONSTRAINT DF_Rango_RAN_Debito DEFAULT 0",
      "ALTER TABLE TarjetaCaja ADD TRC_WKey VARCHAR(50) NOT NULL CONSTRAINT DF_TarjetaCaja_TRC_WKey DEFAULT "
      "('')",
      "ALTER TABLE Transaccion ADD TRA_TipoCuenta VARCHAR(2) NOT NULL CONSTRAINT "
      "DF_Transaccion_TRA_TipoCuenta "
      "DEFAULT ('')",
      "ALTER TABLE TransOFF ADD OFF_TipoCuenta VARCHAR(2) NOT NULL CONSTRAINT DF_TransOFF_OFF_TipoCuenta "
      "DEFAULT "
      "('')",
      "ALTER TABLE Transaccion ADD TRA_NumeroCuenta VARCHAR(64) NOT NULL CONSTRAINT "
      "DF_Transaccion_TRA_NumeroCuenta DEFAULT ('')",
      "ALTER TABLE TransOFF ADD OFF_NumeroCuenta VARCHAR(64) NOT NULL CONSTRAINT "
      "DF_TransOFF_OFF_NumeroCuenta "
      "DEFAULT ('')",
      "ALTER TABLE Transaccion ADD TRA_Debito TINYINT NOT NULL CONSTRAINT DF_Transaccion_TRA_Debito DEFAULT "
      "(0)",
      "ALTER TABLE TransOFF ADD OFF_Debito TINYINT NOT NULL CONSTRAINT DF_TransOFF_OFF_Debito DEFAULT (0)",
      "CREATE  INDEX [IX_Transaccion_ECT] ON "
      "[Transaccion]([TRA_Empresa],[TRA_Caja],[TRA_CodTarjeta],[TRA_Lote]) "
      "WITH  FILLFACTOR = 90 ON [PRIMARY]",
      "CREATE  INDEX [IX_TransOFF_ECT] ON [TransOFF]([OFF_Empresa],[OFF_Caja],[OFF_CodTarjeta]) WITH  "
      "FILLFACTOR "
      "= 90 ON [PRIMARY]",
      kR + "Values(51,94,95,8,0)", kR + "Values(1,50,69,12,1)", kR + "Values(1,51,56,16,0)",
      "UpDate Rangos Set RAN_Desde = 51, RAN_Hasta = 56 WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And "
      "RAN_Debito=0 And RAN_Largo=16",
      "DELETE FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Debito=0 And RAN_Largo=16",
      kR + "Values(1,50,50,16,1)", kR + "Values(1,57,69,16,1)",
      "Insert Into uTarjeta (UTA_Cod,UTA_Desc) Values(3,'PRONTO')",
      "ALTER TABLE uTransaccion ALTER COLUMN UTA_TipoProducto int NOT NULL",
      "ALTER TABLE uTransaccion ADD UTA_TransUN int NOT NULL CONSTRAINT DF_uTransaccion_UTA_TransUN DEFAULT "
      "(0)",
      "ALTER TABLE uTransaccion ADD UTA_CodAutorizacion varchar(10) NOT NULL CONSTRAINT "
      "DF_uTransaccion_UTA_CodAutorizacion DEFAULT ('')",
      "ALTER TABLE uTransaccion ADD UTA_NroVale varchar(10) NOT NULL CONSTRAINT DF_uTransaccion_UTA_NroVale "
      "DEFAULT ('')",
      "UpDate Seguridad Set Seg_Codigo='10010900' Where Seg_Codigo='10030001'",
      "UpDate Seguridad Set Seg_Descri='     Tarjetas Servicios' Where Seg_Codigo='10011100'",
      // 3.0.6 to 3.0.9
      "ALTER TABLE Parametros ADD PAR_ICGImp bit NOT NULL CONSTRAINT DF_Paramtros_PAR_ICGImp DEFAULT (0)",
      "ALTER TABLE Parametros ADD PAR_ICGServidor VARCHAR(50) NOT NULL CONSTRAINT "
      "DF_Paramtros_PAR_ICGServidor "
      "DEFAULT ('')",
      "ALTER TABLE Parametros ADD PAR_ICGTipoImp smallint NOT NULL CONSTRAINT DF_Paramtros_PAR_ICGTipoImp "
      "DEFAULT "
      "(1)",
      "ALTER TABLE uTransOFF ADD UOF_TransOff [int] IDENTITY (1, 1)",
      "ALTER TABLE uTransOFF ADD UOF_Estado Char(1) NOT NULL CONSTRAINT DF_uTransOFF_UOF_Estado DEFAULT ('')",
      "ALTER TABLE uTransOFF ADD UOF_MontoTotal Decimal(9,2) NOT NULL CONSTRAINT DF_uTransOFF_UOF_MontoTotal "
      "DEFAULT (0)",
      "CREATE TABLE [TipoCambio] ([TCA_Moneda] [tinyint] NOT NULL ,[TCA_Fecha] [smalldatetime] NOT NULL "
      ",[TCA_TipCam] [decimal](9, 4) NOT NULL ,[TCA_Arbitraje] [decimal](9, 4) NOT NULL ,CONSTRAINT "
      "[PK_TipoCambio] PRIMARY KEY  NONCLUSTERED([TCA_Moneda],[TCA_Fecha]) WITH FILLFACTOR = 90 ON "
      "[PRIMARY]) ON "
      "[PRIMARY]",
      "CREATE TABLE [TarjetaRubro] ([TRU_Empresa] [varchar] (6)  NOT NULL ,[TRU_CodTarjeta] [smallint] NOT "
      "NULL "
      ",[TRU_CodContable] [varchar] (12)  NOT NULL ,[TRU_CierreD0] [varchar] (25)  NOT NULL ,[TRU_AuxPago] "
      "[varchar] (25)  NOT NULL ,CONSTRAINT [PK_TarjetaRubro] PRIMARY KEY  CLUSTERED "
      "([TRU_Empresa],[TRU_CodTarjeta])  ON [PRIMARY]) ON [PRIMARY]",
      "ALTER TABLE Acreditada ADD ACR_Enviado bit NOT NULL CONSTRAINT DF_Acreditada_ACR_Enviado DEFAULT (0)",
      "ALTER TABLE Acreditada ADD ACR_FecFactura SmallDateTime NOT NULL CONSTRAINT "
      "DF_Acreditada_ACR_FecFactura "
      "DEFAULT (GETDATE())",
      "UPDATE Acreditada SET ACR_FecFactura = ACR_FecCobro",
      "ALTER TABLE uTarjeta ADD UTA_Activa bit NOT NULL CONSTRAINT DF_uTarjta_UTA_Activa DEFAULT (0)",
      // 3.1.0
      "UpDate Seguridad Set Seg_Descri='     Tarjeta Plan Venta' Where Seg_Codigo = '10010900'",
      "CREATE TABLE [Concentrador] ( [CON_IDConcentrador] [smallint] NOT NULL ,[CON_Concentrador] [varchar] "
      "(30) " +
          kC +
          " NOT NULL ,CONSTRAINT [PK_Concentrador] PRIMARY KEY  CLUSTERED ([CON_IdConcentrador]) WITH  "
          "FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]",
      "Insert Into Concentrador (CON_IDConcentrador, CON_Concentrador ) Select TAR_Cod, TAR_Desc from "
      "Tarjeta",
      "ALTER TABLE Tarjeta ADD TAR_IDConcentrador int NOT NULL CONSTRAINT DF_Tarjeta_TAR_IDConcentrador "
      "DEFAULT (0)",
      "UPDATE Tarjeta SET TAR_IDConcentrador = TAR_Cod",
      "CREATE TABLE [TarjetaCajaPlan] ([TCP_Empresa] [varchar] (6) " + kC +
          " NOT NULL ,[TCP_Caja] [char] (3)  " + kC +
          " NOT NULL ,[TCP_IDConcentrador] [smallint] NOT NULL ,[TCP_IDTerminal] [varchar] (8) " + kC +
          " NOT NULL ,[TCP_CodTarjeta] [smallint] NOT NULL ,[TCP_CodTarjetaPlan] [int] NOT NULL "
          ",[TCP_CodComercio] "
          "[varchar] (15) " +
          kC + " NOT NULL ,[TCP_CodComDolar] [varchar] (15) " + kC +
          " NOT NULL ,CONSTRAINT [PK_TarjetaCajaPlan] PRIMARY KEY  CLUSTERED "
          "([TCP_Empresa],[TCP_IDConcentrador],[TCP_Caja],[TCP_IDTerminal],[TCP_CodTarjeta],[TCP_"
          "CodTarjetaPlan]) "
          "WITH  FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]",
      "INSERT INTO TarjetaCajaPlan (TCP_Empresa,TCP_IDConcentrador,TCP_Caja,TCP_IDTerminal,TCP_CodTarjeta,"
      "TCP_CodTarjetaPlan,TCP_CodComercio,TCP_CodComDolar) SELECT "
      "TRC_Empresa,TRC_CodTarjeta,TRC_Caja,TRC_IDTerminal,TRC_CodTarjeta,0,TRC_CodComercio,TRC_CodComDolar "
      "FROM "
      "TarjetaCaja ",
      "ALTER TABLE TarjetaCaja ADD TRC_IDConcentrador int NULL",
      "UPDATE TarjetaCaja SET TRC_IDConcentrador = TRC_CodTarjeta",
      "ALTER TABLE TarjetaCaja ALTER COLUMN TRC_IDConcentrador int NOT NULL",
      "ALTER TABLE TarjetaCaja DROP PK_TarjetaCaja",
      "ALTER TABLE TarjetaCaja ADD CONSTRAINT [PK_TarjetaCaja] PRIMARY KEY CLUSTERED "
      "([TRC_Empresa],[TRC_IDConcentrador],[TRC_Caja],[TRC_IDTerminal]) WITH  FILLFACTOR = 90  ON [PRIMARY]",
      "ALTER TABLE TarjetaCaja ADD TRC_CodComCierre [varchar] (15) " + kC +
          " NOT NULL CONSTRAINT DF_TarjetaCaja_TRC_CodComCierre DEFAULT ('')",
      "ALTER TABLE TarjetaCaja ADD CONSTRAINT DF_TarjetaCaja_TRC_CodComercio DEFAULT ('') FOR "
      "[TRC_CodComercio]",
      "ALTER TABLE TarjetaCaja ADD CONSTRAINT DF_TarjetaCaja_TRC_CodTarjeta DEFAULT (0) FOR [TRC_CodTarjeta]",
      "ALTER TABLE TransOFF ADD OFF_IDConcentrador int NOT NULL CONSTRAINT DF_TransOFF_OFF_IDConcentrador "
      "DEFAULT "
      "(0)",
      "UPDATE TransOFF SET OFF_IDConcentrador = OFF_CodTarjeta",
      "ALTER TABLE TransOFF ADD OFF_IDTerminal Varchar(8) " + kC +
          " NOT NULL CONSTRAINT DF_TransOFF_OFF_IDTerminal DEFAULT ('')",
      "ALTER TABLE Transaccion ADD TRA_IDConcentrador int NOT NULL CONSTRAINT "
      "DF_Transaccion_TRA_IDConcentrador "
      "DEFAULT (0)",
      "UPDATE Transaccion SET TRA_IDConcentrador = TRA_CodTarjeta",
      "CREATE  INDEX [IX_Transaccion_ECC] ON "
      "[Transaccion]([TRA_Empresa],[TRA_Caja],[TRA_IDConcentrador],[TRA_Lote]) WITH  FILLFACTOR = 90 ON "
      "[PRIMARY]",
      "Insert Into Tarjeta "
      "(TAR_Cod,TAR_IDConcentrador,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,TAR_Dias,"
      "TAR_CantOFFM1,TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan,"
      "TAR_Tipo,TAR_MontMIN,TAR_MontMAX) "
      "Values(15,1,'Lider','Tra_FechaCierre,',0,0,1,0,0,.00,0,.00,1,1,1,0,1,0,0)",
      "UpDate Parametros Set PAR_Version = 30100"};
  return v;
}

class Cadena : public ::testing::Test {
 protected:
  Servidor s{"PagoraDemo"};
  void SetUp() override {
    s.EjecutarScript(Demo());
    s.Reloj([] { return std::int64_t{1764931200000}; });  // 2025-12-05 10:40:00 UTC
  }
  std::string Uno(const std::string& sql) {
    auto r = s.Ejecutar(sql);
    if (r.filas.empty()) return "<sin filas>";
    return r.filas[0][0].value_or("<NULL>");
  }
};

TEST_F(Cadena, TodasLasSentenciasSeAceptanYElVolcadoSeRecarga) {
  s.Ejecutar("BEGIN TRANSACTION");
  for (const auto& sql : Sentencias()) {
    try {
      s.Ejecutar(sql);
    } catch (const ErrorSql& e) {
      ADD_FAILURE() << sql << "\n -> " << e.numero << " " << e.descripcion;
    }
  }
  s.Ejecutar("COMMIT TRANSACTION");
  const std::string volcado = s.Script();
  Servidor otro{"PagoraDemo"};
  otro.EjecutarScript(volcado);
  EXPECT_EQ(otro.Script(), volcado);
}

// Every statement run a second time: when the server refuses it, nothing of it may stay behind
// (a refused ALTER may already have added a column before its constraint failed). At the end one
// rollback must give back the database exactly as it was loaded.
TEST_F(Cadena, CadaSentenciaRepetidaYRechazadaNoDejaRastroYElRollbackDevuelveLaBase) {
  const std::string original = s.Script();
  s.Ejecutar("BEGIN TRANSACTION");
  int rechazadas = 0;
  for (const auto& sql : Sentencias()) {
    s.Ejecutar(sql);
    const std::string despues = s.Script();
    try {
      s.Ejecutar(sql);
    } catch (const ErrorSql& e) {
      ++rechazadas;
      ASSERT_EQ(s.NivelTransaccion(), 1) << sql << " -> " << e.numero;
      ASSERT_EQ(s.Script(), despues) << sql << " -> " << e.numero;
    }
  }
  EXPECT_GT(rechazadas, 100);
  s.Ejecutar("ROLLBACK TRANSACTION");
  EXPECT_EQ(s.Script(), original);
}

TEST_F(Cadena, LoQueLaCadenaDejaEnLaBase) {
  const std::size_t filasOff = std::stoul(Uno("SELECT COUNT(*) FROM TransOFF"));
  for (const auto& sql : Sentencias()) s.Ejecutar(sql);
  // Defaults without a name get the server's name.
  auto r = s.Ejecutar(
      "Select name From sysobjects Where parent_obj = (Select id From sysobjects Where name = 'Tarjeta') And "
      "xtype "
      "= 'D' And name <> 'DF_Tarjeta_OFF'");
  bool hallado = false;
  for (const auto& f : r.filas) hallado = hallado || f[0].value().rfind("DF__Tarjeta__TAR_Dia__", 0) == 0;
  EXPECT_TRUE(hallado);
  // Identity numbers the rows already there, in stored order.
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM TransOFF WHERE OFF_TransOff > 0"), std::to_string(filasOff));
  EXPECT_EQ(Uno("SELECT OFF_TransOff FROM TransOFF"), "1");
  // Columns added NOT NULL with a default are filled; GETDATE's fill was replaced by the update.
  EXPECT_EQ(
      Uno("SELECT COUNT(*) FROM Transaccion WHERE TRA_Banco = '' And TRA_Debito = 0 And TRA_NroDGI = 0"),
      Uno("SELECT COUNT(*) FROM Transaccion"));
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM Acreditada WHERE ACR_FecFactura <> ACR_FecCobro"), "0");
  // Renumbered permission, seed rows, concentrators from the card code.
  EXPECT_EQ(Uno("Select Seg_Descri From Seguridad Where Seg_Codigo = '10010900'"), "     Tarjeta Plan Venta");
  EXPECT_EQ(Uno("SELECT TAR_IDConcentrador FROM Tarjeta WHERE TAR_Cod = 51"), "51");
  EXPECT_EQ(Uno("SELECT TAR_IDConcentrador FROM Tarjeta WHERE TAR_Cod = 15"), "1");
  EXPECT_EQ(Uno("SELECT TAR_MontOFFM1 FROM Tarjeta WHERE TAR_Cod = 15"), "0.00");
  EXPECT_EQ(Uno("SELECT CON_Concentrador FROM Concentrador WHERE CON_IDConcentrador = 14"), "PassCard");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde = 50 And RAN_Debito = 0"),
            "0");
  // The re-keyed TarjetaCaja, the indexes and the view.
  EXPECT_EQ(
      Uno("SELECT indid FROM Sysindexes Where name = 'PK_TarjetaCaja' And Id=(Select id From Sysobjects "
          "Where name='TarjetaCaja')"),
      "1");
  EXPECT_EQ(
      Uno("SELECT * FROM Sysindexes Where name = 'IX_Transaccion_ECC' And Id=(Select id From Sysobjects "
          "Where name='Transaccion')"),
      Uno("Select id From Sysobjects Where name='Transaccion'"));
  EXPECT_EQ(
      Uno("Select Collation_name from information_schema.columns where table_name = 'TarjetaCajaPlan' And "
          "Column_name = 'TCP_Caja'"),
      "Modern_Spanish_CI_AS");
  EXPECT_EQ(Uno("SELECT COUNT(*) FROM TransTransOFF"),
            std::to_string(std::stoul(Uno("SELECT COUNT(*) FROM Transaccion")) + filasOff));
  EXPECT_EQ(Uno("SELECT Lote FROM TransTransOFF WHERE Lote = 0"), "0");
}

}  // namespace
