// Migration steps to 3.0.0 through 3.0.4: encrypted card number, wider tracks, TarjetaCaja, TarjetaBanco.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

namespace {

// Column list shared by the card seed rows of 3.0.2.
const char* const kInsertTarjeta302 =
    "Insert Into Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,TAR_Dias,TAR_CantOFFM1,"
    "TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan) ";

const char* const kInsertRangos302 = "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo) ";

}  // namespace

// The 3.0 steps have no error path of their own: a refused statement leaves the step at once and
// reaches the operator's command, which closes the connection and so undoes the chain's
// transaction. The widenings run on every pass whatever the column's current width.
void cActualiza::ActualizarA3_0_0(bool& ok) {
  AgregarCampo("TransOFF", "OFF_NroTarEnc",
               "ALTER TABLE TransOFF ADD OFF_NroTarEnc VarChar(50) NOT NULL "
               "CONSTRAINT DF_TransOFF_NroTarEnc DEFAULT ('')");
  if (ExisteCampo("TransOFF", "OFF_TrackI"))
    Ejecutar("ALTER TABLE TransOFF ALTER COLUMN OFF_TrackI VarChar(180)");
  if (ExisteCampo("TransOFF", "OFF_TrackII"))
    Ejecutar("ALTER TABLE TransOFF ALTER COLUMN OFF_TrackII VarChar(100)");
  if (ExisteCampo("TransOFF", "OFF_CVC")) Ejecutar("ALTER TABLE TransOFF ALTER COLUMN OFF_CVC VarChar(16)");
  if (ExisteCampo("TransOFF", "OFF_Venc")) Ejecutar("ALTER TABLE TransOFF ALTER COLUMN OFF_Venc VarChar(16)");
  if (ExisteCampo("TransOFF", "OFF_Titular"))
    Ejecutar("ALTER TABLE TransOFF ALTER COLUMN OFF_Titular VarChar(100)");
  if (ExisteCampo("Transaccion", "TRA_Titular"))
    Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Titular VarChar(100)");
  AgregarCampo("Transaccion", "TRA_NroTarEnc",
               "ALTER TABLE Transaccion ADD TRA_NroTarEnc VarChar(50) NOT NULL "
               "CONSTRAINT DF_Transaccion_NroTarEnc DEFAULT ('')");
  if (ExisteCampo("Transaccion", "TRA_Venc"))
    Ejecutar("ALTER TABLE Transaccion ALTER COLUMN TRA_Venc VarChar(16)");
  AgregarCampo("Parametros", "PAR_DiaSinCierre",
               "ALTER TABLE Parametros ADD PAR_DiaSinCierre tinyint NOT NULL "
               "CONSTRAINT DF_Parametros_DiaSinCierre DEFAULT (3)");
  AgregarCampo(
      "Tarjeta", "TAR_IngManual",
      "ALTER TABLE Tarjeta ADD TAR_IngManual bit NOT NULL CONSTRAINT DF_Tarjeta_IngManual DEFAULT (1)");
  AgregarCampo("Tarjeta", "TAR_IngPlan",
               "ALTER TABLE Tarjeta ADD TAR_IngPlan bit NOT NULL CONSTRAINT DF_Tarjeta_IngPlan DEFAULT (1)");
  ok = true;
}

void cActualiza::ActualizarA3_0_1(bool& ok) {
  AgregarCampo(
      "Tarjeta", "TAR_Devolucion",
      "ALTER TABLE Tarjeta ADD TAR_Devolucion Bit NOT NULL CONSTRAINT DF_Tarjeta_Devolucion DEFAULT (1)");
  AgregarCampo(
      "Tarjeta", "TAR_Anulacion",
      "ALTER TABLE Tarjeta ADD TAR_Anulacion Bit NOT NULL CONSTRAINT DF_Tarjeta_Anulacion DEFAULT (1)");
  ok = true;
}

// Seed ranges and cards; a range probe looks at the card code only, so any range of the card
// already there keeps the seed out.
void cActualiza::ActualizarA3_0_2(bool& ok) {
  const std::string rangos = kInsertRangos302;
  const std::string tarjeta = kInsertTarjeta302;
  if (!HayFila(bd_, "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 7"))
    Ejecutar(rangos + "Values(7,504338,504338,16)");
  if (!HayFila(bd_, "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 12"))
    Ejecutar(rangos + "Values(12,601933,601933,16)");
  if (!HayFila(bd_, "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 14"))
    Ejecutar(rangos + "Values(14,628026,628026,16)");
  if (!HayFila(bd_, "SELECT * FROM Tarjeta WHERE TAR_Cod = 7"))
    Ejecutar(tarjeta + "Values(7,'ITalcred','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,1,1,1,0)");
  if (!HayFila(bd_, "SELECT * FROM Tarjeta WHERE TAR_Cod = 12"))
    Ejecutar(tarjeta + "Values(12,'Creditel','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,0,1,1,0)");
  if (!HayFila(bd_, "SELECT * FROM Tarjeta WHERE TAR_Cod = 14"))
    Ejecutar(tarjeta + "Values(14,'PassCard','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,1,1,1,0)");
  ok = true;
}

// TarjetaCaja appears; OFF_CVC (widened by 3.0.0) goes away; tips come in, set on cards 1, 2
// and 4 only when the column is new.
void cActualiza::ActualizarA3_0_3(bool& ok) {
  if (!ExisteTabla("TarjetaCaja"))
    Ejecutar(
        "CREATE TABLE [TarjetaCaja] ("
        "[TRC_Empresa] [varchar] (6)  NOT NULL ,"
        "[TRC_Caja] [char] (3) NOT NULL ,"
        "[TRC_CodTarjeta] [smallint] NOT NULL ,"
        "[TRC_CodComercio] [varchar] (15) NOT NULL ,"
        "[TRC_CodComDolar] [varchar] (15) NOT NULL ,"
        "[TRC_IdTerminal] [varchar] (8) NOT NULL ,"
        "CONSTRAINT [PK_TarjetaCaja] PRIMARY KEY  CLUSTERED "
        "([TRC_Empresa],[TRC_Caja],[TRC_CodTarjeta])  ON [PRIMARY] "
        ") ON [PRIMARY]");
  if (ExisteCampo("TransOFF", "OFF_CVC")) Ejecutar("ALTER TABLE TransOFF DROP Column OFF_CVC");
  AgregarCampo("Tarjeta", "TAR_CodAutorizNro",
               "ALTER TABLE Tarjeta ADD TAR_CodAutorizNro bit NOT NULL "
               "CONSTRAINT DF_Tarjeta_TAR_CodAutorizNro DEFAULT (1)");
  if (!ExisteCampo("Tarjeta", "TAR_Propina")) {
    Ejecutar(
        "ALTER TABLE Tarjeta ADD TAR_Propina bit NOT NULL CONSTRAINT DF_Tarjeta_TAR_Propina DEFAULT (0)");
    Ejecutar("UPDATE Tarjeta SET TAR_Propina = 1 WHERE TAR_Cod In (1,2,4) ");
  }
  AgregarCampo("Transaccion", "TRA_MontoAdicional",
               "ALTER TABLE Transaccion ADD TRA_MontoAdicional Decimal(8,2) NOT NULL "
               "CONSTRAINT DF_Transaccion_TRA_MontoAdicional DEFAULT (0)");
  AgregarCampo("TransOFF", "OFF_MontoAdicional",
               "ALTER TABLE TransOFF ADD OFF_MontoAdicional Decimal(8,2) NOT NULL "
               "CONSTRAINT DF_TransOFF_OFF_MontoAdicional DEFAULT (0)");
  AgregarCampo(
      "Locales", "Loc_Propina",
      "ALTER TABLE Locales ADD Loc_Propina bit NOT NULL CONSTRAINT DF_Local_Loc_Propina DEFAULT (0)");
  ok = true;
}

// The first statement names the table TransOff while its test says TransOFF, and the seed row
// says TAR_DEVIVA: the server compares names without regard to case.
void cActualiza::ActualizarA3_0_4(bool& ok) {
  AgregarCampo("TransOFF", "OFF_TransOff", "ALTER TABLE TransOff ADD OFF_TransOff [int] IDENTITY (1, 1)");
  AgregarCampo("Parametros", "PAR_PorRetIVA",
               "ALTER TABLE Parametros ADD PAR_PorRetIVA Decimal(5,2) NOT NULL "
               "CONSTRAINT DF_Parametros_PAR_PorRetIVA DEFAULT (0.00)");
  AgregarCampo("Acreditada", "ACR_RetIva",
               "ALTER TABLE Acreditada ADD ACR_RetIva Decimal(8,2) NOT NULL "
               "CONSTRAINT DF_Acreditada_ACR_RetIva DEFAULT (0.00)");
  AgregarCampo("Transaccion", "TRA_Banco",
               "ALTER TABLE Transaccion ADD TRA_Banco VarChar(50) NOT NULL "
               "CONSTRAINT DF_Transaccion_TRA_Banco DEFAULT ('')");
  if (!ExisteTabla("TarjetaBanco"))
    Ejecutar(
        "CREATE TABLE [TarjetaBanco] ("
        "[BAN_Codigo] [smallint] NOT NULL ,"
        "[BAN_CodTarjeta] [smallint] NOT NULL ,"
        "[BAN_Banco] [varchar] (50) NOT NULL ,"
        "[BAN_Desde] [int] NOT NULL ,"
        "[BAN_Hasta] [int] NOT NULL ,"
        "[BAN_Largo] [smallint] NOT NULL ,"
        "CONSTRAINT [PK_TarjetaBanco] PRIMARY KEY  CLUSTERED "
        "([BAN_Codigo])  ON [PRIMARY]) ON [PRIMARY]");
  if (!ExisteIndice("Transaccion", "IX_Transaccion_Caja"))
    Ejecutar(
        "CREATE INDEX [IX_Transaccion_Caja] ON [Transaccion]([TRA_Empresa],[TRA_Caja]) "
        "WITH  FILLFACTOR = 90 ON [PRIMARY]");
  AgregarCampo(
      "Tarjeta", "TAR_Tipo",
      "ALTER TABLE Tarjeta ADD TAR_Tipo smallint NOT NULL CONSTRAINT DF_Tarjeta_TAR_Tipo DEFAULT (1)");
  AgregarCampo("Tarjeta", "TAR_MontMIN",
               "ALTER TABLE Tarjeta ADD TAR_MontMIN [decimal](8, 2) NOT NULL "
               "CONSTRAINT DF_Tarjeta_TAR_MontMIN DEFAULT (0)");
  AgregarCampo("Tarjeta", "TAR_MontMAX",
               "ALTER TABLE Tarjeta ADD TAR_MontMAX [decimal](8, 2) NOT NULL "
               "CONSTRAINT DF_Tarjeta_TAR_MontMAX DEFAULT (0)");
  if (!HayFila(bd_, "SELECT * FROM Tarjeta WHERE TAR_Cod = 51"))
    Ejecutar(
        "Insert Into Tarjeta (TAR_Cod,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,TAR_Dias,"
        "TAR_CantOFFM1,TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,"
        "TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan,TAR_Tipo,TAR_MontMIN,TAR_MontMAX) "
        "Values(51,'Movistar','Tra_FechaCierre,',0,0,0,0,0,.00,0,.00,0,0,1,0,3,100,1000)");
  ok = true;
}

}  // namespace solvane
