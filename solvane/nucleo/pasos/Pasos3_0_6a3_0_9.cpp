// Migration steps to 3.0.6 through 3.0.9: ICG settings, uTransOFF extensions, TipoCambio, TarjetaRubro.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

// The 3.0 steps have no error path of their own (see 3.0.0). The default constraints of
// Parametros are named DF_Paramtros_..., as installed databases already carry them.
void cActualiza::ActualizarA3_0_6(bool& ok) {
  AgregarCampo(
      "Parametros", "PAR_ICGImp",
      "ALTER TABLE Parametros ADD PAR_ICGImp bit NOT NULL CONSTRAINT DF_Paramtros_PAR_ICGImp DEFAULT (0)");
  AgregarCampo("Parametros", "PAR_ICGServidor",
               "ALTER TABLE Parametros ADD PAR_ICGServidor VARCHAR(50) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_ICGServidor DEFAULT ('')");
  AgregarCampo("Parametros", "PAR_ICGBase",
               "ALTER TABLE Parametros ADD PAR_ICGBase VARCHAR(50) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_ICGBase DEFAULT ('')");
  AgregarCampo("Parametros", "PAR_ICGUsuario",
               "ALTER TABLE Parametros ADD PAR_ICGUsuario VARCHAR(50) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_ICGUsuario DEFAULT ('')");
  AgregarCampo("Parametros", "PAR_ICGClave",
               "ALTER TABLE Parametros ADD PAR_ICGClave VARCHAR(50) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_ICGClave DEFAULT ('')");
  ok = true;
}

void cActualiza::ActualizarA3_0_7(bool& ok) {
  AgregarCampo("Parametros", "PAR_ICGTipoImp",
               "ALTER TABLE Parametros ADD PAR_ICGTipoImp smallint NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_ICGTipoImp DEFAULT (1)");
  ok = true;
}

void cActualiza::ActualizarA3_0_8(bool& ok) {
  AgregarCampo("uTransOFF", "UOF_TransOff", "ALTER TABLE uTransOFF ADD UOF_TransOff [int] IDENTITY (1, 1)");
  AgregarCampo("uTransOFF", "UOF_Estado",
               "ALTER TABLE uTransOFF ADD UOF_Estado Char(1) NOT NULL "
               "CONSTRAINT DF_uTransOFF_UOF_Estado DEFAULT ('')");
  AgregarCampo(
      "uTransOFF", "UOF_TransUN",
      "ALTER TABLE uTransOFF ADD UOF_TransUN int NOT NULL CONSTRAINT DF_uTransOFF_UOF_TransUN DEFAULT (0)");
  AgregarCampo("uTransOFF", "UOF_CodAutorizacion",
               "ALTER TABLE uTransOFF ADD UOF_CodAutorizacion VarChar(10) NOT NULL "
               "CONSTRAINT DF_uTransOFF_UOF_CodAutorizacion DEFAULT ('')");
  AgregarCampo("uTransOFF", "UOF_NroVale",
               "ALTER TABLE uTransOFF ADD UOF_NroVale VarChar(10) NOT NULL "
               "CONSTRAINT DF_uTransOFF_UOF_NroVale DEFAULT ('')");
  AgregarCampo("uTransOFF", "UOF_MontoTotal",
               "ALTER TABLE uTransOFF ADD UOF_MontoTotal Decimal(9,2) NOT NULL "
               "CONSTRAINT DF_uTransOFF_UOF_MontoTotal DEFAULT (0)");
  AgregarCampo("uTransOFF", "UOF_MontoEntregar",
               "ALTER TABLE uTransOFF ADD UOF_MontoEntregar Decimal(9,2) NOT NULL "
               "CONSTRAINT DF_uTransOFF_UOF_MontoEntregar DEFAULT (0)");
  AgregarCampo("uTransaccion", "UTA_MontoTotal",
               "ALTER TABLE uTransaccion ADD UTA_MontoTotal Decimal(9,2) NOT NULL "
               "CONSTRAINT DF_uTransaccion_UTA_MontoTotal DEFAULT (0)");
  AgregarCampo("uTransaccion", "UTA_MontoEntregar",
               "ALTER TABLE uTransaccion ADD UTA_MontoEntregar Decimal(9,2) NOT NULL "
               "CONSTRAINT DF_uTransaccion_UTA_MontoEntregar DEFAULT (0)");
  ok = true;
}

// ACR_FecFactura first takes the current date (the default) and then the collection date row by
// row; a row without a collection date makes the copy fail, and with it the whole run.
void cActualiza::ActualizarA3_0_9(bool& ok) {
  if (!ExisteTabla("TipoCambio"))
    Ejecutar(
        "CREATE TABLE [TipoCambio] ("
        "[TCA_Moneda] [tinyint] NOT NULL ,"
        "[TCA_Fecha] [smalldatetime] NOT NULL ,"
        "[TCA_TipCam] [decimal](9, 4) NOT NULL ,"
        "[TCA_Arbitraje] [decimal](9, 4) NOT NULL ,"
        "CONSTRAINT [PK_TipoCambio] PRIMARY KEY  NONCLUSTERED"
        "([TCA_Moneda],[TCA_Fecha]) WITH FILLFACTOR = 90 ON [PRIMARY]) ON [PRIMARY]");
  if (!ExisteTabla("TarjetaRubro"))
    Ejecutar(
        "CREATE TABLE [TarjetaRubro] ("
        "[TRU_Empresa] [varchar] (6)  NOT NULL ,"
        "[TRU_CodTarjeta] [smallint] NOT NULL ,"
        "[TRU_CodContable] [varchar] (12)  NOT NULL ,"
        "[TRU_CierreD0] [varchar] (25)  NOT NULL ,"
        "[TRU_CierreH0] [varchar] (25)  NOT NULL ,"
        "[TRU_CierreD1] [varchar] (25)  NOT NULL ,"
        "[TRU_CierreH1] [varchar] (25)  NOT NULL ,"
        "[TRU_AcredD0] [varchar] (25)  NOT NULL ,"
        "[TRU_AcredH0] [varchar] (25)  NOT NULL ,"
        "[TRU_AcredD1] [varchar] (25)  NOT NULL ,"
        "[TRU_AcredH1] [varchar] (25)  NOT NULL ,"
        "[TRU_RetIVA] [varchar] (25)  NOT NULL ,"
        "[TRU_Comision] [varchar] (25)  NOT NULL ,"
        "[TRU_ComIVA] [varchar] (25)  NOT NULL ,"
        "[TRU_Ajuste] [varchar] (25)  NOT NULL ,"
        "[TRU_AuxPago] [varchar] (25)  NOT NULL ,"
        "CONSTRAINT [PK_TarjetaRubro] PRIMARY KEY  CLUSTERED "
        "([TRU_Empresa],[TRU_CodTarjeta])  ON [PRIMARY]) ON [PRIMARY]");
  AgregarCampo("Acreditada", "ACR_Enviado",
               "ALTER TABLE Acreditada ADD ACR_Enviado bit NOT NULL "
               "CONSTRAINT DF_Acreditada_ACR_Enviado DEFAULT (0)");
  if (!ExisteCampo("Acreditada", "ACR_FecFactura")) {
    EjecutarSinBombeo(
        "ALTER TABLE Acreditada ADD ACR_FecFactura SmallDateTime NOT NULL "
        "CONSTRAINT DF_Acreditada_ACR_FecFactura DEFAULT (GETDATE())");
    Ejecutar("UPDATE Acreditada SET ACR_FecFactura = ACR_FecCobro");
  }
  AgregarCampo("Parametros", "PAR_CONExp",
               "ALTER TABLE Parametros ADD PAR_CONExp smallint NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_CONExp DEFAULT (0)");
  AgregarCampo("Parametros", "PAR_CONApRE",
               "ALTER TABLE Parametros ADD PAR_CONApRE VARCHAR(150) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_CONApRE DEFAULT ('')");
  AgregarCampo("Parametros", "PAR_CONServRE",
               "ALTER TABLE Parametros ADD PAR_CONServRE VARCHAR(150) NOT NULL "
               "CONSTRAINT DF_Paramtros_PAR_CONServRE DEFAULT ('')");
  AgregarCampo(
      "uTarjeta", "UTA_Activa",
      "ALTER TABLE uTarjeta ADD UTA_Activa bit NOT NULL CONSTRAINT DF_uTarjta_UTA_Activa DEFAULT (0)");
  ok = true;
}

}  // namespace solvane
