-- Base de datos simulada PagoraDemo: tablas, vistas y filas.
CREATE TABLE [Parametros] (
	[PAR_Version] smallint NULL,
	[PAR_LA] varchar(20) NULL,
	[PAR_Admin] varchar(8) NULL,
	[PAR_Frecuencia] smallint NULL
)
GO
CREATE TABLE [Transaccion] (
	[TRA_Empresa] varchar(6) NOT NULL,
	[TRA_Transaccion] int NOT NULL,
	[TRA_Local] char(6) NOT NULL,
	[TRA_Caja] char(3) NOT NULL,
	[TRA_Operacion] char(1) NOT NULL,
	[TRA_Monto] numeric(9,2) NOT NULL,
	[TRA_Moneda] char(1) NOT NULL,
	[TRA_Puntos] int NOT NULL,
	[TRA_CodTarjeta] smallint NOT NULL,
	[TRA_NroTarjeta] varchar(20) NOT NULL,
	[TRA_Venc] varchar(4) NULL,
	[TRA_Titular] varchar(30) NULL,
	[TRA_Fecha] smalldatetime NOT NULL,
	[TRA_Hora] char(8) NOT NULL,
	[TRA_Lote] int NOT NULL,
	[TRA_Ticket] int NOT NULL,
	CONSTRAINT [PK_Transaccion] PRIMARY KEY CLUSTERED ([TRA_Empresa], [TRA_Transaccion])
)
GO
CREATE TABLE [TransOFF] (
	[OFF_Empresa] varchar(6) NOT NULL,
	[OFF_Transaccion] int NOT NULL,
	[OFF_Local] char(6) NOT NULL,
	[OFF_Caja] char(3) NOT NULL,
	[OFF_Operacion] char(1) NOT NULL,
	[OFF_Monto] numeric(9,2) NOT NULL,
	[OFF_Moneda] char(1) NOT NULL,
	[OFF_CodTarjeta] smallint NOT NULL,
	[OFF_NroTarjeta] varchar(20) NOT NULL,
	[OFF_TrackII] varchar(40) NULL,
	[OFF_Venc] varchar(4) NULL,
	[OFF_Titular] varchar(30) NULL,
	[OFF_CVC] varchar(4) NULL,
	[OFF_Fecha] smalldatetime NOT NULL,
	[OFF_Hora] char(8) NOT NULL,
	[OFF_Ticket] int NOT NULL,
	CONSTRAINT [PK_TransOFF] PRIMARY KEY CLUSTERED ([OFF_Empresa], [OFF_Transaccion])
)
GO
CREATE TABLE [Tarjeta] (
	[TAR_Cod] smallint NOT NULL,
	[TAR_Desc] varchar(30) NOT NULL,
	[TAR_Orden] varchar(100) NOT NULL,
	[TAR_Control] bit NOT NULL,
	[TAR_CI] bit NOT NULL,
	[TAR_CVC] bit NOT NULL,
	CONSTRAINT [PK_Tarjeta] PRIMARY KEY CLUSTERED ([TAR_Cod])
)
GO
CREATE TABLE [Rangos] (
	[RAN_CodTarjeta] smallint NOT NULL,
	[RAN_Desde] int NOT NULL,
	[RAN_Hasta] int NOT NULL,
	[RAN_Largo] smallint NOT NULL
)
GO
CREATE TABLE [Cajas] (
	[Caj_Empresa] varchar(6) NOT NULL,
	[Caj_Local] varchar(6) NOT NULL,
	[Caj_Codigo] char(3) NOT NULL,
	[Caj_Descri] varchar(30) NOT NULL,
	CONSTRAINT [PK_Cajas] PRIMARY KEY CLUSTERED ([Caj_Empresa], [Caj_Local], [Caj_Codigo])
)
GO
CREATE TABLE [Acreditada] (
	[ACR_Empresa] varchar(6) NOT NULL,
	[ACR_CodTarjeta] smallint NOT NULL,
	[ACR_IDAcredita] int NOT NULL,
	[ACR_Puntos] int NOT NULL,
	[ACR_Factura] varchar(9) NOT NULL,
	[ACR_FecCobro] smalldatetime NOT NULL,
	[ACR_Hora] char(8) NOT NULL,
	CONSTRAINT [PK_Acreditada] PRIMARY KEY CLUSTERED ([ACR_Empresa], [ACR_CodTarjeta], [ACR_IDAcredita])
)
GO
INSERT INTO [Parametros] ([PAR_Version], [PAR_LA], [PAR_Admin], [PAR_Frecuencia]) VALUES
(0, 'LA-MVD-01', 'admin', 15)
GO
INSERT INTO [Transaccion] ([TRA_Empresa], [TRA_Transaccion], [TRA_Local], [TRA_Caja], [TRA_Operacion], [TRA_Monto], [TRA_Moneda], [TRA_Puntos], [TRA_CodTarjeta], [TRA_NroTarjeta], [TRA_Venc], [TRA_Titular], [TRA_Fecha], [TRA_Hora], [TRA_Lote], [TRA_Ticket]) VALUES
('000001', 1, '000001', '001', 'C', 1250.50, 'P', 12, 1, '4509790112684851', '2811', 'MARTINEZ LUCIA', '2026-11-02 10:15:00', '10:15:32', 31, 1045),
('000001', 2, '000001', '001', 'A', 1250.50, 'P', 12, 1, '4509790112684851', '2811', 'MARTINEZ LUCIA', '2026-11-02 10:17:00', '10:17:05', 31, 1046),
('000001', 3, '000002', '002', 'C', 89.90, 'D', 0, 2, '5399830012345678', '2705', 'PEREIRA JUAN', '2026-11-02 16:40:00', '16:40:11', 12, 2210),
('000001', 4, '000002', '002', 'D', 430.00, 'P', 4, 4, '5898830098761234', '2903', 'RODRIGUEZ ANA', '2026-11-03 09:05:00', '09:05:48', 12, 2231),
('000001', 5, '000001', '001', 'C', 3120.00, 'P', 31, 4, '5898830011112222', '3001', 'SILVA MARIO', '2026-11-03 12:22:00', '12:22:40', 32, 1101)
GO
INSERT INTO [TransOFF] ([OFF_Empresa], [OFF_Transaccion], [OFF_Local], [OFF_Caja], [OFF_Operacion], [OFF_Monto], [OFF_Moneda], [OFF_CodTarjeta], [OFF_NroTarjeta], [OFF_TrackII], [OFF_Venc], [OFF_Titular], [OFF_CVC], [OFF_Fecha], [OFF_Hora], [OFF_Ticket]) VALUES
('000001', 1, '000001', '001', 'C', 540.00, 'P', 1, '4509790155550001', '4509790155550001=2811101', '2811', 'GOMEZ PABLO', NULL, '2026-11-02 21:10:00', '21:10:02', 1090),
('000001', 2, '000002', '002', 'A', 75.25, 'D', 2, '5399830076543210', NULL, '2612', 'FERREIRA ROSA', '123', '2026-11-03 20:45:00', '20:45:19', 2250)
GO
INSERT INTO [Tarjeta] ([TAR_Cod], [TAR_Desc], [TAR_Orden], [TAR_Control], [TAR_CI], [TAR_CVC]) VALUES
(1, 'VISA', 'Tra_FechaCierre,', 1, 0, 1),
(2, 'MasterCard', 'Tra_FechaCierre,', 1, 0, 1),
(4, 'OCA', 'Tra_FechaCierre,', 0, 1, 0)
GO
INSERT INTO [Rangos] ([RAN_CodTarjeta], [RAN_Desde], [RAN_Hasta], [RAN_Largo]) VALUES
(1, 4, 4, 16),
(2, 51, 55, 16),
(4, 589883, 589883, 16),
(1, 50, 69, 16)
GO
INSERT INTO [Cajas] ([Caj_Empresa], [Caj_Local], [Caj_Codigo], [Caj_Descri]) VALUES
('000001', '000001', '001', 'Caja 1 Centro'),
('000001', '000002', '002', 'Caja 2 Pocitos')
GO
INSERT INTO [Acreditada] ([ACR_Empresa], [ACR_CodTarjeta], [ACR_IDAcredita], [ACR_Puntos], [ACR_Factura], [ACR_FecCobro], [ACR_Hora]) VALUES
('000001', 4, 1, 120, 'A0012345', '2026-10-30 00:00:00', '18:00:00')
GO
-- Fin de la base simulada: 14 lotes, suma 5a065d3b6b9deadd.
