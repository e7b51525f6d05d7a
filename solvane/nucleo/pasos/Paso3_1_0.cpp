// Migration step to 3.1.0: concentrators, payment plans, TarjetaCaja re-keyed, terminal columns.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

// Every new character column takes the collation of TarjetaCaja.TRC_Empresa (clause c, spliced
// with no blanks of its own: empty when that column is missing). The step has its own error
// message and no transaction calls: on failure ok stays False and the driver cancels the chain.
// The plan copy from TarjetaCaja must run before TarjetaCaja gets its concentrator column, and the
// old key must go before the new one on that column is made.
void cActualiza::ActualizarA3_1_0(bool& ok) {
  ok = false;
  try {
    const std::string c = ObtenerCollation("TarjetaCaja", "TRC_Empresa", true);
    bombeo_();
    // The new columns of TransOFF and Transaccion have no pump after them (the fills that follow do).
    auto agregarSinBombeo = [this](const char* tabla, const char* campo, const std::string& sentencia) {
      if (!ExisteCampo(tabla, campo)) EjecutarSinBombeo(sentencia);
    };

    Ejecutar("UpDate Seguridad Set Seg_Descri='     Tarjeta Plan Venta' Where Seg_Codigo = '10010900'");
    Ejecutar("UpDate Seguridad Set Seg_Descri='     Tarjeta Comision' Where Seg_Codigo = '10010800'");
    if (!ExisteTabla("Concentrador")) {
      Ejecutar(std::string("CREATE TABLE [Concentrador] ( ") + "[CON_IDConcentrador] [smallint] NOT NULL ," +
               "[CON_Concentrador] [varchar] (30) " + c + " NOT NULL ," +
               "CONSTRAINT [PK_Concentrador] PRIMARY KEY  CLUSTERED " +
               "([CON_IdConcentrador]) WITH  FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]");
      Ejecutar(
          "Insert Into Concentrador (CON_IDConcentrador, CON_Concentrador ) "
          "Select TAR_Cod, TAR_Desc from Tarjeta");
    }
    if (!ExisteCampo("Tarjeta", "TAR_IDConcentrador")) {
      EjecutarSinBombeo(
          "ALTER TABLE Tarjeta ADD TAR_IDConcentrador int NOT NULL "
          "CONSTRAINT DF_Tarjeta_TAR_IDConcentrador DEFAULT (0)");
      Ejecutar("UPDATE Tarjeta SET TAR_IDConcentrador = TAR_Cod");
    }
    if (!ExisteTabla("TarjetaPlan"))
      Ejecutar("CREATE TABLE [TarjetaPlan] (" + std::string("[TAP_Empresa] [varchar] (6) ") + c +
               " NOT NULL ," + "[TAP_CodTarjeta] [smallint] NOT NULL ," +
               "[TAP_CodTarjetaPlan] [int] NOT NULL ," + "[TAP_Descripcion] [varchar] (30) " + c +
               " NOT NULL ," + "[TAP_Cuotas] [varchar] (50) " + c + " NOT NULL ," +
               "[TAP_Plan] [varchar] (2) " + c + " NOT NULL ," + "[TAP_TipoPlan] [varchar] (2) " + c +
               " NOT NULL ," + "[TAP_Debito] [tinyint] NOT NULL ," + "[TAP_OFF] [bit] NOT NULL ," +
               "[TAP_Activo] [bit] NOT NULL ," + "CONSTRAINT [PK_TarjetaPlan] PRIMARY KEY  CLUSTERED " +
               "([TAP_Empresa], [TAP_CodTarjeta], [TAP_CodTarjetaPlan]) "
               "WITH  FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]");
    if (!ExisteTabla("TarjetaCajaPlan")) {
      Ejecutar("CREATE TABLE [TarjetaCajaPlan] (" + std::string("[TCP_Empresa] [varchar] (6) ") + c +
               " NOT NULL ," + "[TCP_Caja] [char] (3)  " + c + " NOT NULL ," +
               "[TCP_IDConcentrador] [smallint] NOT NULL ," + "[TCP_IDTerminal] [varchar] (8) " + c +
               " NOT NULL ," + "[TCP_CodTarjeta] [smallint] NOT NULL ," +
               "[TCP_CodTarjetaPlan] [int] NOT NULL ," + "[TCP_CodComercio] [varchar] (15) " + c +
               " NOT NULL ," + "[TCP_CodComDolar] [varchar] (15) " + c + " NOT NULL ," +
               "CONSTRAINT [PK_TarjetaCajaPlan] PRIMARY KEY  CLUSTERED " +
               "([TCP_Empresa],[TCP_IDConcentrador],[TCP_Caja],[TCP_IDTerminal],[TCP_CodTarjeta],"
               "[TCP_CodTarjetaPlan]) WITH  FILLFACTOR = 90  ON [PRIMARY]) ON [PRIMARY]");
      Ejecutar(
          "INSERT INTO TarjetaCajaPlan (TCP_Empresa,TCP_IDConcentrador,TCP_Caja,TCP_IDTerminal,"
          "TCP_CodTarjeta,TCP_CodTarjetaPlan,TCP_CodComercio,TCP_CodComDolar) "
          "SELECT TRC_Empresa,TRC_CodTarjeta,TRC_Caja,TRC_IDTerminal,TRC_CodTarjeta,0,TRC_CodComercio,"
          "TRC_CodComDolar FROM TarjetaCaja ");
    }
    if (!ExisteCampo("TarjetaCaja", "TRC_IDConcentrador")) {
      EjecutarSinBombeo("ALTER TABLE TarjetaCaja ADD TRC_IDConcentrador int NULL");
      EjecutarSinBombeo("UPDATE TarjetaCaja SET TRC_IDConcentrador = TRC_CodTarjeta");
      Ejecutar("ALTER TABLE TarjetaCaja ALTER COLUMN TRC_IDConcentrador int NOT NULL");
      Ejecutar("ALTER TABLE TarjetaCaja DROP PK_TarjetaCaja");
      Ejecutar(
          "ALTER TABLE TarjetaCaja ADD CONSTRAINT [PK_TarjetaCaja] PRIMARY KEY CLUSTERED "
          "([TRC_Empresa],[TRC_IDConcentrador],[TRC_Caja],[TRC_IDTerminal]) "
          "WITH  FILLFACTOR = 90  ON [PRIMARY]");
      EjecutarSinBombeo("ALTER TABLE TarjetaCaja ADD TRC_CodComCierre [varchar] (15) " + c +
                        " NOT NULL CONSTRAINT DF_TarjetaCaja_TRC_CodComCierre DEFAULT ('')");
      Ejecutar(
          "ALTER TABLE TarjetaCaja ADD "
          "CONSTRAINT DF_TarjetaCaja_TRC_CodComercio DEFAULT ('') FOR [TRC_CodComercio]");
      Ejecutar(
          "ALTER TABLE TarjetaCaja ADD "
          "CONSTRAINT DF_TarjetaCaja_TRC_CodComDolar DEFAULT ('') FOR [TRC_CodComDolar]");
      Ejecutar(
          "ALTER TABLE TarjetaCaja ADD "
          "CONSTRAINT DF_TarjetaCaja_TRC_CodTarjeta DEFAULT (0) FOR [TRC_CodTarjeta]");
    }
    if (!ExisteCampo("TransOFF", "OFF_IDConcentrador")) {
      EjecutarSinBombeo(
          "ALTER TABLE TransOFF ADD OFF_IDConcentrador int NOT NULL "
          "CONSTRAINT DF_TransOFF_OFF_IDConcentrador DEFAULT (0)");
      Ejecutar("UPDATE TransOFF SET OFF_IDConcentrador = OFF_CodTarjeta");
    }
    agregarSinBombeo("TransOFF", "OFF_CodTarjetaPlan",
                     "ALTER TABLE TransOFF ADD OFF_CodTarjetaPlan int NOT NULL "
                     "CONSTRAINT DF_TransOFF_OFF_CodTarjetaPlan DEFAULT (0)");
    agregarSinBombeo("TransOFF", "OFF_IDTerminal",
                     "ALTER TABLE TransOFF ADD OFF_IDTerminal Varchar(8) " + c +
                         " NOT NULL CONSTRAINT DF_TransOFF_OFF_IDTerminal DEFAULT ('')");
    agregarSinBombeo("TransOFF", "OFF_CodComercio",
                     "ALTER TABLE TransOFF ADD OFF_CodComercio Varchar(15) " + c +
                         " NOT NULL CONSTRAINT DF_TransOFF_OFF_CodComercio DEFAULT ('')");
    if (!ExisteCampo("Transaccion", "TRA_IDConcentrador")) {
      EjecutarSinBombeo(
          "ALTER TABLE Transaccion ADD TRA_IDConcentrador int NOT NULL "
          "CONSTRAINT DF_Transaccion_TRA_IDConcentrador DEFAULT (0)");
      Ejecutar("UPDATE Transaccion SET TRA_IDConcentrador = TRA_CodTarjeta");
    }
    agregarSinBombeo("Transaccion", "TRA_CodTarjetaPlan",
                     "ALTER TABLE Transaccion ADD TRA_CodTarjetaPlan int NOT NULL "
                     "CONSTRAINT DF_Transaccion_TRA_CodTarjetaPlan DEFAULT (0)");
    agregarSinBombeo("Transaccion", "TRA_IDTerminal",
                     "ALTER TABLE Transaccion ADD TRA_IDTerminal Varchar(8) " + c +
                         " NOT NULL CONSTRAINT DF_Transaccion_TRA_IDTerminal DEFAULT ('')");
    agregarSinBombeo("Transaccion", "TRA_CodComercio",
                     "ALTER TABLE Transaccion ADD TRA_CodComercio Varchar(15) " + c +
                         " NOT NULL CONSTRAINT DF_Transaccion_TRA_CodComercio DEFAULT ('')");
    if (!ExisteIndice("Transaccion", "IX_Transaccion_ECC"))
      Ejecutar(
          "CREATE  INDEX [IX_Transaccion_ECC] "
          "ON [Transaccion]([TRA_Empresa],[TRA_Caja],[TRA_IDConcentrador],[TRA_Lote]) "
          "WITH  FILLFACTOR = 90 ON [PRIMARY]");
    if (!HayFila(bd_, "SELECT * FROM Tarjeta WHERE TAR_Cod = 15"))
      Ejecutar(
          "Insert Into Tarjeta (TAR_Cod,TAR_IDConcentrador,TAR_Desc,TAR_Orden,TAR_Control,TAR_CI,TAR_CVC,"
          "TAR_Dias,TAR_CantOFFM1,TAR_MontOFFM1,TAR_CantOFFM2,TAR_MontOFFM2,"
          "TAR_OFF,TAR_DEVIVA,TAR_IngManual,TAR_IngPlan,TAR_Tipo,TAR_MontMIN,TAR_MontMAX) "
          "Values(15,1,'Lider','Tra_FechaCierre,',0,0,1,0,0,.00,0,.00,1,1,1,0,1,0,0)");
    if (!HayFila(bd_,
                 "SELECT * FROM Rangos WHERE RAN_CodTarjeta = 15 And RAN_Desde =50109 "
                 "And RAN_Hasta =50110 And RAN_Largo=16"))
      Ejecutar(
          "Insert Into Rangos (RAN_CodTarjeta,RAN_Desde,RAN_Hasta,RAN_Largo,RAN_Debito) "
          "Values(15,50109,50110,16,0)");
    ok = true;
  } catch (const ErrorBD& e) {
    // A refused statement, a failed probe or a failed pump ends the step, as in the 2.5 steps.
    mensajes_.Mostrar(
        "ERROR de Actualización a Version 3.1.0 \r\n" + std::to_string(e.Numero) + " " + e.Descripcion,
        kEstiloStop, e.Numero);
  }
}

}  // namespace solvane
