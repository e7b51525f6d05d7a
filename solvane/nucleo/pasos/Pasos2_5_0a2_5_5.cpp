// Migration steps to 2.5.0 through 2.5.5: shops, reconciliation, users and permissions.
#include "nucleo/cActualiza.h"

namespace solvane {

// A database without a recorded version passes straight on to 2.5.1: nothing to change here.
void cActualiza::ActualizarA2_5_0(bool& ok) {
  ok = true;
}

// Creates Locales, drops two parameter columns and adds the sent mark of transactions. The drops
// carry no column test on purpose: a database that lost them already is not one this step expects.
void cActualiza::ActualizarA2_5_1(bool& ok) {
  EnTransaccion("2.5.1", ok, [this] {
    if (!ExisteTabla("Locales")) {
      Ejecutar(
          "CREATE TABLE Locales( "
          "Loc_Empresa Varchar (6) NOT NULL,"
          "Loc_Codigo Varchar (6) NOT NULL,"
          "Loc_Descri Varchar (30) NOT NULL,"
          "Loc_Tipo Char (1) NOT NULL)");
      Ejecutar(
          "ALTER TABLE Locales WITH CHECK ADD "
          "CONSTRAINT PK_Locales PRIMARY KEY CLUSTERED"
          "(Loc_Empresa, Loc_Codigo) WITH  FILLFACTOR = 90  ON [PRIMARY] ");
    }
    if (ExisteTabla("Parametros")) {
      Ejecutar("ALTER TABLE Parametros DROP Column PAR_LA");
      Ejecutar("ALTER TABLE Parametros DROP Column PAR_Admin");
    }
    if (ExisteTabla("Transaccion"))
      Ejecutar("ALTER TABLE Transaccion ADD TRA_Enviado BIT NOT NULL DEFAULT 0");
  });
}

// Drops the polling frequency and turns the amounts of every operation but a purchase ('C') into
// negative figures. The update has no guard: the chain reaches this step once per database, and
// the version recorded with the same transaction keeps it from running again.
void cActualiza::ActualizarA2_5_2(bool& ok) {
  EnTransaccion("2.5.2", ok, [this] {
    // Both probes run whatever the first one answers, so that every database is asked the same two
    // queries and the statement record of a run does not hinge on the table probe.
    const bool tabla = ExisteTabla("Parametros");
    const bool campo = ExisteCampo("Parametros", "PAR_Frecuencia");
    if (tabla && campo) Ejecutar("ALTER TABLE Parametros DROP Column PAR_Frecuencia");
    Ejecutar("UPDATE Transaccion Set TRA_Monto = TRA_Monto * -1 Where TRA_Operacion <> 'C' ");
  });
}

// Creates the reconciliation table and the card's days column.
void cActualiza::ActualizarA2_5_3(bool& ok) {
  EnTransaccion("2.5.3", ok, [this] {
    if (!ExisteTabla("UltConciliacion")) {
      Ejecutar(
          "CREATE TABLE UltConciliacion ( "
          "Ult_Empresa Varchar (6) NOT NULL,"
          "Ult_CodTarjeta SmallInt NOT NULL,"
          "Ult_Moneda Char (1) NOT NULL,"
          "Ult_Fecha SmallDateTime NOT NULL)");
    }
    const bool tabla = ExisteTabla("Tarjeta");
    const bool campo = ExisteCampo("Tarjeta", "TAR_Dias");
    if (tabla && !campo) Ejecutar("ALTER TABLE Tarjeta ADD TAR_Dias Smallint NOT NULL DEFAULT 0");
  });
}

// Off-line limits per card (two currencies) and the first track of off-line transactions.
void cActualiza::ActualizarA2_5_4(bool& ok) {
  EnTransaccion("2.5.4", ok, [this] {
    AgregarCampo("Tarjeta", "TAR_CantOFFM1",
                 "ALTER TABLE Tarjeta ADD TAR_CantOFFM1 Smallint NOT NULL DEFAULT 0");
    AgregarCampo("Tarjeta", "TAR_MontOFFM1",
                 "ALTER TABLE Tarjeta ADD TAR_MontOFFM1 Decimal(8,2) NOT NULL DEFAULT 0");
    AgregarCampo("Tarjeta", "TAR_CantOFFM2",
                 "ALTER TABLE Tarjeta ADD TAR_CantOFFM2 Smallint NOT NULL DEFAULT 0");
    AgregarCampo("Tarjeta", "TAR_MontOFFM2",
                 "ALTER TABLE Tarjeta ADD TAR_MontOFFM2 Decimal(8,2) NOT NULL DEFAULT 0");
    AgregarCampo("TransOFF", "OFF_TrackI",
                 "ALTER TABLE TransOFF ADD OFF_TrackI VarChar(80) NOT NULL DEFAULT ('')");
  });
}

// Users and permissions, and the two first users when the user table is empty.
void cActualiza::ActualizarA2_5_5(bool& ok) {
  Recordset usuarios;
  EnTransaccion("2.5.5", ok, [this, &usuarios] {
    if (!ExisteTabla("Usuario")) {
      Ejecutar(
          "CREATE TABLE [Usuario] ("
          "[Usu_Codigo] [smallint] NOT NULL ,"
          "[Usu_NomAbr] [char] (8) NOT NULL ,"
          "[Usu_Nombre] [varchar] (30) NOT NULL ,"
          "[Usu_Contra] [char] (8) NOT NULL ,"
          "[Usu_Nivel] [tinyint]"
          ") ON [PRIMARY]");
      Ejecutar(
          "ALTER TABLE [Usuario] WITH NOCHECK ADD "
          "CONSTRAINT [PK_Usuario] PRIMARY KEY  NONCLUSTERED "
          "( [Usu_Codigo]) WITH  FILLFACTOR = 90  ON [PRIMARY] ,"
          "CONSTRAINT [IX_Usuario] UNIQUE  NONCLUSTERED "
          "( [Usu_NomAbr] ) WITH  FILLFACTOR = 90  ON [PRIMARY]");
    }
    if (!ExisteTabla("Seguridad")) {
      Ejecutar(
          "CREATE TABLE [Seguridad] ("
          "[Seg_Codigo] [char] (8) NOT NULL ,"
          "[Seg_Descri] [varchar] (50) NOT NULL , "
          "[Seg_Nivel] [tinyint] NOT NULL , "
          "[Seg_Edita] [Bit] "
          ") ON [PRIMARY]");
      Ejecutar(
          "ALTER TABLE [Seguridad] WITH NOCHECK ADD "
          "CONSTRAINT [DF_Seguridad_Seg_Edita] DEFAULT (1) FOR [Seg_Edita], "
          "CONSTRAINT [PK_Seguridad] PRIMARY KEY  NONCLUSTERED "
          "([Seg_Codigo]) WITH  FILLFACTOR = 90  ON [PRIMARY]");
    }
    // Seed users only into an empty table: any existing user means the site manages its own.
    usuarios = bd_.Consultar("Select * From Usuario");
    if (!usuarios.HayFila()) {
      const std::string insertar =
          "Insert Into Usuario (Usu_Codigo,Usu_NomAbr,Usu_Nombre,Usu_Contra,Usu_Nivel) Values ";
      Ejecutar(insertar + "(1,'Admin','Administrador','QJ',9)");
      Ejecutar(insertar + "(2,'User','Usuario','ZQ',3)");
    }
  });
  usuarios.Liberar();
}

}  // namespace solvane
