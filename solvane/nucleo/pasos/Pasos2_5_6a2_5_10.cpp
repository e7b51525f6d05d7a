// Migration steps to 2.5.6 through 2.5.10: passwords, cash-desk timer, off-line cards, u and v tables.
#include <string>

#include "nucleo/cActualiza.h"

namespace solvane {

// Widens the password column. It cannot use the common step frame: a missing password column is a
// failure of its own, reported with its own text and without any error having been raised.
void cActualiza::ActualizarA2_5_6(bool& ok) {
  ok = false;
  try {
    bd_.IniciarTransaccion();
    AgregarCampo("Seguridad", "Seg_Edita", "ALTER TABLE Seguridad ADD Seg_Edita Bit NOT NULL DEFAULT 1");
    if (ExisteCampo("Usuario", "Usu_Contra")) {
      Ejecutar("ALTER TABLE Usuario ALTER COLUMN Usu_Contra Char(16)");
      bd_.ConfirmarTransaccion();
      ok = true;
    } else {
      mensajes_.Mostrar("ERROR de Actualización : Campo Usu_Contra no Existe", kEstiloStop);
      bd_.CancelarTransaccion();
    }
  } catch (const ErrorBD& e) {
    mensajes_.Mostrar(std::string("ERROR de Actualización a Version 2.5.6 ") + "\r\n" +
                          std::to_string(e.Numero) + " " + e.Descripcion,
                      kEstiloStop, e.Numero);
    bd_.CancelarTransaccion();
  }
}

// Inactivity timer of the cash desk.
void cActualiza::ActualizarA2_5_7(bool& ok) {
  EnTransaccion("2.5.7", ok, [this] {
    AgregarCampo("Cajas", "Caj_Timer", "ALTER TABLE Cajas ADD Caj_Timer Smallint NOT NULL DEFAULT 0");
  });
}

// Whether a card may be taken off-line (reached from 2.5.7 and 2.5.8 alike).
void cActualiza::ActualizarA2_5_9(bool& ok) {
  EnTransaccion("2.5.9", ok, [this] {
    AgregarCampo("Tarjeta", "TAR_OFF",
                 "ALTER TABLE Tarjeta ADD TAR_OFF BIT NOT NULL CONSTRAINT DF_Tarjeta_OFF DEFAULT 1");
  });
}

// The u tables (kept for upload) and the v tables (free pass). Each table is created with its key
// only when the table is missing; a table already there is left exactly as it is.
void cActualiza::ActualizarA2_5_10(bool& ok) {
  EnTransaccion("2.5.10", ok, [this] {
    struct TablaNueva {
      const char* nombre;
      const char* creacion;
      const char* clave;
    };
    static const TablaNueva tablas[] = {
        {"uTarjeta",
         "CREATE TABLE [uTarjeta] ("
         "[Uta_Cod] [smallint] NOT NULL ,"
         "[Uta_Desc] [varchar] (20) NOT NULL) ON [PRIMARY]",
         "ALTER TABLE [uTarjeta] WITH NOCHECK ADD "
         "CONSTRAINT [PK_uTarjeta] PRIMARY KEY  NONCLUSTERED "
         "( [Uta_Cod]) WITH  FILLFACTOR = 90  ON [PRIMARY] "},
        {"uAcreditada",
         "CREATE TABLE [uAcreditada] ("
         "[UAC_Empresa] [varchar] (6) NOT NULL ,"
         "[UAC_CodTarjeta] [smallint] NOT NULL ,"
         "[UAC_IDAcredita] [int] NOT NULL ,"
         "[UAC_Puntos] [int] NOT NULL ,"
         "[UAC_Factura] [varchar] (9) NOT NULL ,"
         "[UAC_Fecha] [smalldatetime] NOT NULL ,"
         "[UAC_Hora] [Char](8) NOT NULL"
         ") ON [PRIMARY]",
         "ALTER TABLE [uAcreditada] WITH NOCHECK ADD "
         "CONSTRAINT [PK_uAcredita] PRIMARY KEY  NONCLUSTERED "
         "([UAC_Empresa],[UAC_CodTarjeta],[UAC_IDAcredita]) "
         "WITH  FILLFACTOR = 90  ON [PRIMARY]"},
        {"uTransOFF",
         "CREATE TABLE [uTransOFF] ( "
         "[UOF_Empresa] [varchar] (6) NOT NULL ,"
         "[UOF_Transaccion] [int] NOT NULL ,"
         "[UOF_Local] [char] (6) NOT NULL ,"
         "[UOF_Caja] [char] (3) NOT NULL ,"
         "[UOF_Operacion] [char] (1) NOT NULL ,"
         "[UOF_Monto] [numeric](9, 2) NOT NULL ,"
         "[UOF_Moneda] [char] (1) NOT NULL ,"
         "[UOF_Puntos] [int] NOT NULL ,"
         "[UOF_TipoProducto] [tinyint] NOT NULL ,"
         "[UOF_CodTarjeta] [smallint] NOT NULL ,"
         "[UOF_NroTarjeta] [varchar] (20) NOT NULL ,"
         "[UOF_Fecha] [smalldatetime] NOT NULL ,"
         "[UOF_Hora] [char] (8) NOT NULL ,"
         "[UOF_NroDocumento] [varchar] (9) NOT NULL ,"
         "[UOF_Ticket] [int] NOT NULL ,"
         "[UOF_Terminal] [varchar] (16) NOT NULL ,"
         "[UOF_SaldoTarjeta] [int] NOT NULL ,"
         "[UOF_TransPuntos] [int] NOT NULL ,"
         "[UOF_NroDocOriginal] [VarChar](9) NOT NULL "
         ") ON [PRIMARY]",
         "ALTER TABLE [uTransOFF] WITH NOCHECK ADD "
         "CONSTRAINT [PK_uTransOFF] PRIMARY KEY  NONCLUSTERED "
         "([UOF_Empresa],[UOF_Transaccion]) WITH  FILLFACTOR = 90  ON [PRIMARY]"},
        {"uTransaccion",
         "CREATE TABLE [uTransaccion] ("
         "[UTA_Empresa] [varchar] (6) NOT NULL ,"
         "[UTA_Transaccion] [int] NOT NULL ,"
         "[UTA_Referencia] [int] NOT NULL ,"
         "[UTA_Local] [char] (6) NOT NULL ,"
         "[UTA_Caja] [char] (3) NOT NULL ,"
         "[UTA_Operacion] [char] (1) NOT NULL ,"
         "[UTA_Monto] [numeric](9, 2) NOT NULL ,"
         "[UTA_Moneda] [char] (1) NOT NULL ,"
         "[UTA_Puntos] [int] NOT NULL ,"
         "[UTA_TipoProducto] [tinyint] NOT NULL ,"
         "[UTA_CodTarjeta] [smallint] NOT NULL ,"
         "[UTA_NroTarjeta] [varchar] (20) NOT NULL ,"
         "[UTA_Fecha] [smalldatetime] NOT NULL ,"
         "[UTA_Hora] [char] (8) NOT NULL ,"
         "[UTA_NroDocumento] [varchar] (9) NOT NULL ,"
         "[UTA_Ticket] [int] NOT NULL ,"
         "[UTA_Terminal] [varchar] (16) NOT NULL ,"
         "[UTA_SaldoTarjeta] [int] NOT NULL ,"
         "[UTA_TransPuntos] [int] NOT NULL ,"
         "[UTA_NroDocOriginal] [varchar] (9) NOT NULL ,"
         "[UTA_IDAcredita] [int] NOT NULL ,"
         "[UTA_Enviado] [bit] NOT NULL ,"
         "[UTA_Estado] [Char](1) NOT NULL "
         ") ON [PRIMARY]",
         "ALTER TABLE [uTransaccion] WITH NOCHECK ADD "
         "CONSTRAINT [DF_uTransaccion_UTA_Referencia] DEFAULT (0) FOR [UTA_Referencia],"
         "CONSTRAINT [DF_uTransaccion_UTA_IDAcredita] DEFAULT (0) FOR [UTA_IDAcredita],"
         "CONSTRAINT [DF_uTransaccion_UTA_Enviada] DEFAULT (0) FOR [UTA_Enviado],"
         "CONSTRAINT [DF_uTransaccion_UTA_Estado] DEFAULT ('N') FOR [UTA_Estado],"
         "CONSTRAINT [PK_uTransaccion] PRIMARY KEY  NONCLUSTERED "
         "([UTA_Empresa],[UTA_Transaccion],[UTA_Referencia]) "
         "WITH  FILLFACTOR = 90  ON [PRIMARY]"},
        {"vTarjeta",
         "CREATE TABLE [vTarjeta] ( "
         "[VTA_Cod] [smallint] NOT NULL ,"
         "[VTA_Desc] [VarChar](30) NOT NULL) ON [PRIMARY]",
         "ALTER TABLE [vTarjeta] WITH NOCHECK ADD "
         "CONSTRAINT [PK_vTarjeta] PRIMARY KEY  CLUSTERED "
         "([VTA_Cod])  ON [PRIMARY]"},
        {"vFreePass",
         "CREATE TABLE [dbo].[vFreePass] ("
         "[VFP_Empresa] [varchar] (6) NOT NULL ,"
         "[VFP_Local] [varchar] (6) NOT NULL ,"
         "[VFP_Caja] [char] (3) NOT NULL ,"
         "[VFP_CodTarjeta] [smallint] NOT NULL ,"
         "[VFP_NroTarjeta] [varchar] (30) NOT NULL ,"
         "[VFP_Operacion] [char] (1) NOT NULL ,"
         "[VFP_Manual] [bit] NOT NULL ,"
         "[VFP_Fecha] [smalldatetime] NOT NULL ,"
         "[VFP_Hora] [char] (8) NOT NULL ,"
         "[VFP_Aprobado] [bit] NOT NULL ,"
         "[VFP_Transaccion] [int] NOT NULL ,"
         "[VFP_CodRespuesta] [char] (2) NOT NULL ,"
         "[VFP_Respuesta] [VarChar](100) NOT NULL"
         ") ON [PRIMARY]",
         "ALTER TABLE [vFreePass] WITH NOCHECK ADD "
         "CONSTRAINT [PK_vFreePass] PRIMARY KEY  CLUSTERED "
         "([VFP_Empresa],[VFP_Transaccion])  ON [PRIMARY]"},
    };
    for (const TablaNueva& t : tablas) {
      if (ExisteTabla(t.nombre)) continue;
      Ejecutar(t.creacion);
      Ejecutar(t.clave);
    }
  });
}

}  // namespace solvane
