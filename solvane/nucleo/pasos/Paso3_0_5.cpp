// Migration step to 3.0.5: PIN pad settings per cash desk, debit marks, card 1 and 51 ranges, permissions.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

namespace {

const char* const kInsertRangos =
    "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo,RAN_Debito) ";

// The probe of one range of card 1 from 50 to 69 with the given length.
std::string SondeoRango1(const char* largo) {
  return std::string(
             "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Hasta =69 "
             "And RAN_Largo=") +
         largo;
}

}  // namespace

// No error path of its own (see the 3.0 steps). The pump is not run after the unguarded change of
// UTA_TipoProducto, and in the permission block only after every few updates.
void cActualiza::ActualizarA3_0_5(bool& ok) {
  AgregarCampo(
      "Locales", "Loc_TipoIMP",
      "ALTER TABLE Locales ADD Loc_TipoIMP TINYINT NOT NULL CONSTRAINT DF_Local_Loc_TipoIMP DEFAULT 1");
  AgregarCampo(
      "Cajas", "Caj_TCPuerto",
      "ALTER TABLE Cajas ADD Caj_TCPuerto TINYINT NOT NULL CONSTRAINT DF_Cajas_Caj_TCPuerto DEFAULT (0)");
  AgregarCampo(
      "Cajas", "Caj_TCModelo",
      "ALTER TABLE Cajas ADD Caj_TCModelo TINYINT NOT NULL CONSTRAINT DF_Cajas_Caj_TCModelo DEFAULT (0)");
  AgregarCampo("Rangos", "RAN_Debito",
               "ALTER TABLE Rangos ADD RAN_Debito TINYINT NOT NULL CONSTRAINT DF_Rango_RAN_Debito DEFAULT 0");
  AgregarCampo("TarjetaCaja", "TRC_WKey",
               "ALTER TABLE TarjetaCaja ADD TRC_WKey VARCHAR(50) NOT NULL "
               "CONSTRAINT DF_TarjetaCaja_TRC_WKey DEFAULT ('')");
  AgregarCampo("Transaccion", "TRA_TipoCuenta",
               "ALTER TABLE Transaccion ADD TRA_TipoCuenta VARCHAR(2) NOT NULL "
               "CONSTRAINT DF_Transaccion_TRA_TipoCuenta DEFAULT ('')");
  AgregarCampo("TransOFF", "OFF_TipoCuenta",
               "ALTER TABLE TransOFF ADD OFF_TipoCuenta VARCHAR(2) NOT NULL "
               "CONSTRAINT DF_TransOFF_OFF_TipoCuenta DEFAULT ('')");
  AgregarCampo("Transaccion", "TRA_NumeroCuenta",
               "ALTER TABLE Transaccion ADD TRA_NumeroCuenta VARCHAR(64) NOT NULL "
               "CONSTRAINT DF_Transaccion_TRA_NumeroCuenta DEFAULT ('')");
  AgregarCampo("TransOFF", "OFF_NumeroCuenta",
               "ALTER TABLE TransOFF ADD OFF_NumeroCuenta VARCHAR(64) NOT NULL "
               "CONSTRAINT DF_TransOFF_OFF_NumeroCuenta DEFAULT ('')");
  AgregarCampo("Transaccion", "TRA_Debito",
               "ALTER TABLE Transaccion ADD TRA_Debito TINYINT NOT NULL "
               "CONSTRAINT DF_Transaccion_TRA_Debito DEFAULT (0)");
  AgregarCampo(
      "TransOFF", "OFF_Debito",
      "ALTER TABLE TransOFF ADD OFF_Debito TINYINT NOT NULL CONSTRAINT DF_TransOFF_OFF_Debito DEFAULT (0)");

  if (!ExisteIndice("Transaccion", "IX_Transaccion_ECT"))
    Ejecutar(
        "CREATE  INDEX [IX_Transaccion_ECT] "
        "ON [Transaccion]([TRA_Empresa],[TRA_Caja],[TRA_CodTarjeta],[TRA_Lote]) "
        "WITH  FILLFACTOR = 90 ON [PRIMARY]");
  if (!ExisteIndice("TransOFF", "IX_TransOFF_ECT"))
    Ejecutar(
        "CREATE  INDEX [IX_TransOFF_ECT] "
        "ON [TransOFF]([OFF_Empresa],[OFF_Caja],[OFF_CodTarjeta]) "
        "WITH  FILLFACTOR = 90 ON [PRIMARY]");

  const std::string r = kInsertRangos;
  if (!HayFila(bd_, "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 51")) Ejecutar(r + "Values(51,94,95,8,0)");
  if (!HayFila(bd_, SondeoRango1("12"))) Ejecutar(r + "Values(1,50,69,12,1)");
  if (!HayFila(bd_, SondeoRango1("13"))) Ejecutar(r + "Values(1,50,69,13,1)");
  if (!HayFila(bd_, SondeoRango1("14"))) Ejecutar(r + "Values(1,50,69,14,1)");
  if (!HayFila(bd_, SondeoRango1("15"))) Ejecutar(r + "Values(1,50,69,15,1)");
  if (!HayFila(bd_, SondeoRango1("17"))) Ejecutar(r + "Values(1,50,69,17,1)");
  if (!HayFila(bd_, SondeoRango1("18"))) Ejecutar(r + "Values(1,50,69,18,1)");
  if (!HayFila(bd_, SondeoRango1("19"))) Ejecutar(r + "Values(1,50,69,19,1)");

  // Card 1, length 16: the old non-debit range starting at 50 becomes 51..56 (or goes away when
  // 51..56 is already there). This runs before the new debit range 50..50 exists, and both the
  // delete and the update select non-debit rows only.
  const char* const viejo =
      "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Debito=0 And RAN_Largo=16";
  const char* const nuevo =
      "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =51 And RAN_Hasta =56 "
      "And RAN_Debito=0 And RAN_Largo=16";
  if (HayFila(bd_, viejo)) {
    if (HayFila(bd_, nuevo))
      Ejecutar(
          "DELETE FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Debito=0 And RAN_Largo=16");
    else
      Ejecutar(
          "UpDate Rangos Set RAN_Desde = 51, RAN_Hasta = 56 WHERE RAN_CodTarjeta = 1 "
          "And RAN_Desde =50 And RAN_Debito=0 And RAN_Largo=16");
  } else if (!HayFila(bd_, nuevo)) {
    Ejecutar(r + "Values(1,51,56,16,0)");
  }
  if (!HayFila(bd_,
               "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =50 And RAN_Hasta =50 "
               "And RAN_Largo=16"))
    Ejecutar(r + "Values(1,50,50,16,1)");
  if (!HayFila(bd_,
               "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 1 And RAN_Desde =57 And RAN_Hasta =69 "
               "And RAN_Largo=16"))
    Ejecutar(r + "Values(1,57,69,16,1)");

  if (!HayFila(bd_, "SELECT * FROM uTarjeta WHERE UTA_Cod = 3"))
    Ejecutar("Insert Into uTarjeta (UTA_Cod,UTA_Desc) Values(3,'PRONTO')");
  EjecutarSinBombeo("ALTER TABLE uTransaccion ALTER COLUMN UTA_TipoProducto int NOT NULL");
  AgregarCampo("uTransaccion", "UTA_TransUN",
               "ALTER TABLE uTransaccion ADD UTA_TransUN int NOT NULL "
               "CONSTRAINT DF_uTransaccion_UTA_TransUN DEFAULT (0)");
  AgregarCampo("uTransaccion", "UTA_CodAutorizacion",
               "ALTER TABLE uTransaccion ADD UTA_CodAutorizacion varchar(10) NOT NULL "
               "CONSTRAINT DF_uTransaccion_UTA_CodAutorizacion DEFAULT ('')");
  AgregarCampo("uTransaccion", "UTA_NroVale",
               "ALTER TABLE uTransaccion ADD UTA_NroVale varchar(10) NOT NULL "
               "CONSTRAINT DF_uTransaccion_UTA_NroVale DEFAULT ('')");

  // Permissions renumbered; no new code is an old code of a later update, so the order is free
  // of chains. A database holding both an old and its new code fails here if the code is unique.
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='20110000' Where Seg_Codigo='20010000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='20110500' Where Seg_Codigo='20010500'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='20111000' Where Seg_Codigo='20011000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='20111500' Where Seg_Codigo='20011500'");
  Ejecutar("UpDate Seguridad Set Seg_Codigo='20112000' Where Seg_Codigo='20012000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='10010100' Where Seg_Codigo='10020000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='10010200' Where Seg_Codigo='10011500'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='10010700' Where Seg_Codigo='10012000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='10010800' Where Seg_Codigo='10030000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='10010900' Where Seg_Codigo='10030001'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Descri='     Tarjetas Servicios' Where Seg_Codigo='10011100'");
  Ejecutar("UpDate Seguridad Set Seg_Descri='     Tarjetas Consulta' Where Seg_Codigo='10011200'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='30110000' Where Seg_Codigo='30010000'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='30110500' Where Seg_Codigo='30010500'");
  EjecutarSinBombeo("UpDate Seguridad Set Seg_Codigo='30120000' Where Seg_Codigo='30020000'");
  Ejecutar("UpDate Seguridad Set Seg_Codigo='30120500' Where Seg_Codigo='30020500'");
  ok = true;
}

}  // namespace solvane
