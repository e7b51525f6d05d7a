// Migration steps to 2.5.11 through 2.5.16: on- and off-line view, card types, VAT refund, DGI numbers.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

// The view that reads on-line and off-line transactions as one list (off-line ones have no batch).
void cActualiza::ActualizarA2_5_11(bool& ok) {
  EnTransaccion("2.5.11", ok, [this] {
    if (!ExisteVista("TransTransOFF")) {
      Ejecutar(
          "CREATE VIEW TransTransOFF AS "
          "(SELECT Transaccion.TRA_Empresa AS Empresa, Transaccion.TRA_Caja AS Caja, "
          "Transaccion.TRA_Moneda AS Moneda, Transaccion.TRA_Monto AS Monto,"
          "Transaccion.TRA_Operacion AS Operacion, Transaccion.TRA_Lote AS Lote, "
          "Transaccion.TRA_Fecha AS Fecha "
          "From Transaccion  Union All "
          "(SELECT TransOFF.OFF_Empresa AS Empresa, TransOFF.OFF_Caja AS Caja, TransOFF.OFF_Moneda AS "
          "Moneda, TransOFF.OFF_Monto  AS Monto,"
          "TransOFF.OFF_Operacion AS Operacion, Lote = 0, TransOFF.OFF_Fecha AS Fecha FROM TransOFF))");
    }
  });
}

// Card types per company, and the permission to edit them. A TarjetaTipo that is already there is
// taken as complete: its key and default are not looked at.
void cActualiza::ActualizarA2_5_14(bool& ok) {
  EnTransaccion("2.5.14", ok, [this] {
    if (!ExisteTabla("TarjetaTipo")) {
      Ejecutar(
          "CREATE TABLE [dbo].[TarjetaTipo] ( "
          "[TAT_IdTarjetaTipo] [smallint] IDENTITY (1, 1) NOT NULL, "
          "[TAT_Empresa] [varchar] (6) NOT NULL, "
          "[TAT_CodTarjeta] [smallint] NOT NULL, "
          "[TAT_Desc] [varchar] (50) NOT NULL, "
          "[TAT_TipoPlan] [smallint] NOT NULL, "
          "[TAT_OFF] [Bit]) ON [PRIMARY]");
      Ejecutar(
          "ALTER TABLE [dbo].[TarjetaTipo] WITH NOCHECK ADD "
          "CONSTRAINT [PK_TarjetaTipo] PRIMARY KEY  CLUSTERED "
          "([TAT_IdTarjetaTipo]) WITH  FILLFACTOR = 90  ON [PRIMARY] ");
      Ejecutar(
          "ALTER TABLE [dbo].[TarjetaTipo] ADD "
          "CONSTRAINT [DF_TarjetaTipo_TAT_OFF] DEFAULT (0) FOR [TAT_OFF]");
    }
    AgregarSeguridad(bd_, "10030001", "     Tarjeta Tipo", 1, true);
  });
}

// VAT refund marks of cards, shops and transactions.
void cActualiza::ActualizarA2_5_15(bool& ok) {
  EnTransaccion("2.5.15", ok, [this] {
    AgregarCampo("Tarjeta", "TAR_DevIVA", "ALTER TABLE Tarjeta ADD TAR_DevIVA BIT NOT NULL DEFAULT 1");
    AgregarCampo("Locales", "Loc_DevIVA", "ALTER TABLE Locales ADD Loc_DevIVA TINYINT NOT NULL DEFAULT 0");
    AgregarCampo("Transaccion", "TRA_DevIVA",
                 "ALTER TABLE Transaccion ADD TRA_DevIVA TINYINT NOT NULL DEFAULT 0");
    AgregarCampo("TransOFF", "OFF_DevIVA", "ALTER TABLE TransOFF ADD OFF_DevIVA TINYINT NOT NULL DEFAULT 0");
  });
}

// Tax office (DGI) document type of the cash desk and document numbers.
void cActualiza::ActualizarA2_5_16(bool& ok) {
  EnTransaccion("2.5.16", ok, [this] {
    AgregarCampo("Cajas", "Caj_TipDocDGI", "ALTER TABLE Cajas ADD Caj_TipDocDGI TINYINT NOT NULL DEFAULT 0");
    AgregarCampo("Locales", "Loc_NroDocumento",
                 "ALTER TABLE Locales ADD Loc_NroDocumento INT NOT NULL DEFAULT 1");
    AgregarCampo("TransOFF", "OFF_NroDGI", "ALTER TABLE TransOFF ADD OFF_NroDGI INT NOT NULL DEFAULT 0");
    AgregarCampo("Transaccion", "TRA_NroDGI",
                 "ALTER TABLE Transaccion ADD TRA_NroDGI INT NOT NULL DEFAULT 0");
  });
}

}  // namespace solvane
