// The rehearsal the way a shop runs it, through FreeTDS against solvane-servidor: the copy is the served
// database byte for byte, and what it predicts is what the real run then does.
#include <gtest/gtest.h>

#include "Servido.h"
#include "pasos/ArnesCadena.h"

namespace solvane::pruebas {
namespace {

// A database with every column type the engine holds, identities in three states, collations of its own,
// defaults, a unique constraint, indexes with and without FILLFACTOR, and a view over it.
std::string ConDeTodo() {
  return Con(
      ScriptDemo(),
      {"CREATE TABLE Surtido (S_Id int IDENTITY (100, 5) NOT NULL, S_Bit bit NULL, S_Chico tinyint NULL, "
       "S_Medio smallint NOT NULL CONSTRAINT DF_Surtido_S_Medio DEFAULT (-3), S_Dec decimal(12,4) NULL, "
       "S_Num numeric(5,0) NULL, S_Letra char(3) COLLATE Latin1_General_CS_AS NULL, "
       "S_Texto varchar(40) COLLATE SQL_Latin1_General_CP1_CI_AS NOT NULL DEFAULT ('x'), "
       "S_Hora smalldatetime NULL, S_Momento datetime NULL DEFAULT (getdate()), "
       "CONSTRAINT PK_Surtido PRIMARY KEY NONCLUSTERED (S_Id) WITH FILLFACTOR = 80, "
       "CONSTRAINT UQ_Surtido UNIQUE CLUSTERED (S_Texto, S_Medio))",
       "CREATE INDEX IX_Surtido_Dec ON Surtido (S_Dec, S_Letra) WITH FILLFACTOR = 90",
       "CREATE UNIQUE INDEX IX_Surtido_Num ON Surtido (S_Num)",
       "INSERT INTO Surtido (S_Bit, S_Chico, S_Medio, S_Dec, S_Num, S_Letra, S_Texto, S_Hora, S_Momento) "
       "VALUES (1, 255, -32768, 12345678.1234, 99999, 'ñu ', 'con '' y espacios  ', "
       "'2023-03-17 13:30', '2023-03-17 13:30:15.997'), (0, 0, 0, -0.0001, NULL, NULL, '', NULL, NULL)",
       "DELETE FROM Surtido WHERE S_Chico = 0",
       "CREATE TABLE Sembrada (E_Id smallint IDENTITY (1, 1) NOT NULL, E_Nombre varchar(10) NULL)",
       "INSERT INTO Sembrada (E_Nombre) VALUES ('a')", "DELETE FROM Sembrada",
       "CREATE TABLE Virgen (V_Id int IDENTITY (7, -1) NOT NULL, V_Nombre varchar(10) NULL)",
       "CREATE VIEW vSurtido AS SELECT S_Id, Etiqueta = S_Texto FROM Surtido WHERE S_Bit = 1"});
}

struct Caso {
  std::string nombre, inicial;
  std::string resultado;               // what the report says of the outcome
  std::vector<std::string> culpables;  // lines the report must show (rows or keys at fault)
};

// The script as the served database's own dump: named after its file, as the server names it.
std::string Servida(const std::string& script) {
  simulado::Servidor s("PagoraDemo");
  s.EjecutarScript(script);
  return s.Script();
}

std::vector<Caso> Casos() {
  const std::string en30004 = DemoEn(30004);
  return {
      {"desde 0", ScriptDemo(), "TERMINARÍA BIEN", {}},
      {"desde 30004", en30004, "TERMINARÍA BIEN", {}},
      {"de todo un poco", ConDeTodo(), "TERMINARÍA BIEN", {}},
      {"clave repetida en 3.0.5",
       Con(en30004, {"Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values "
                     "('20010000','Viejo',1,1)",
                     "Insert Into Seguridad (Seg_Codigo,Seg_Descri,Seg_Nivel,Seg_Edita) Values "
                     "('20110000','Nuevo',1,1)"}),
       "FALLARÍA en el paso «Actualizando Version a 3.0.5»",
       {"Seg_Codigo = '20010000' (actualizada); Seg_Codigo = '20110000' (sin cambio)"}},
      {"valor demasiado largo en 3.0.0",
       Con(ScriptDemo(), {"ALTER TABLE Transaccion ALTER COLUMN TRA_Venc varchar(20) NULL",
                          "UPDATE Transaccion SET TRA_Venc = '01/2030-adicional'"}),
       "FALLARÍA en el paso «Actualizando Version a 3.0.0»",
       {"TRA_Venc = '01/2030-adicional' no cabe en varchar(16)"}},
      {"tabla borrada en 3.1.0", Con(DemoEn(30009), {"DROP TABLE TarjetaCaja"}), "FALLARÍA", {}},
  };
}

// Rehearsed with --copia and --registro, then the real run on the copy (Motor=simulado) and on the served
// database (FreeTDS): same files, same exit status, same record; the served file untouched by the rehearsal.
TEST(EnsayoSqlServer, LaCopiaEsExactaYPredicenLaCorridaReal) {
  for (auto c : Casos()) {
    SCOPED_TRACE(c.nombre);
    c.inicial = Servida(c.inicial);
    Temporal t;
    Servido s(t.Ruta(), c.inicial);
    const auto copia = t / "copia.sql", registro = t / "ensayo.sql";
    const Salida e = Solvane(t.Ruta(), {"--consola", "--ensayar", "--conexion", s.Conexion().string(),
                                        "--registro", registro.string(), "--copia", copia.string()});
    EXPECT_EQ(s.Detener(), 0);
    EXPECT_TRUE(Leer(s.archivo) == c.inicial) << "el ensayo cambió la base servida";
    EXPECT_TRUE(LeerSiHay(copia) == c.inicial) << "la copia no es la base servida";
    EXPECT_NE(e.salida.find(c.resultado), std::string::npos) << e.salida << e.errores;
    EXPECT_NE(e.salida.find("La base de datos real no se modificó."), std::string::npos);
    for (const auto& l : c.culpables) EXPECT_NE(e.salida.find(l), std::string::npos) << l << "\n" << e.salida;

    const Comparada enCopia = PorSimulado(LeerSiHay(copia)), real = PorServidor(c.inicial);
    EXPECT_EQ(e.estado, real.corrida.estado) << e.salida;
    EXPECT_EQ(enCopia.corrida.estado, real.corrida.estado);
    EXPECT_TRUE(enCopia.archivo == real.archivo) << "la cadena sobre la copia no deja lo que deja la real";
    EXPECT_EQ(LeerSiHay(registro), SinLineasDelMotor(real.registro));
  }
}

}  // namespace
}  // namespace solvane::pruebas
