#!/usr/bin/env python3
# DB-Library (pymssql) against solvane-servidor: its connect batch, reads, commit, rollback and refusals.
import sys
import pymssql

puerto, clave, archivo = int(sys.argv[1]), sys.argv[2], sys.argv[3]
servidor = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"


def conectar(**extra):
    datos = dict(server=servidor, port=puerto, user="pagora", password=clave, database="PagoraDemo",
                 login_timeout=10, timeout=20)
    datos.update(extra)
    return pymssql.connect(**datos)


def numero(error):
    a = error.args[0]
    return a[0] if isinstance(a, tuple) else a


def comprobar(condicion, que):
    if not condicion:
        print("pymssql: FALLA", que)
        sys.exit(1)


c = conectar()
cur = c.cursor()
cur.execute("SELECT PAR_LA, PAR_Frecuencia FROM Parametros")
comprobar(cur.fetchall() == [("LA-MVD-01", 15)], "lectura de Parametros")
cur.execute("SELECT @@TRANCOUNT")
comprobar(cur.fetchone()[0] == 1, "la conexión abre su transacción (autocommit apagado)")
cur.execute("CREATE TABLE DesdePy (n int, t varchar(10), d decimal(9,2))")
cur.execute("INSERT INTO DesdePy VALUES (7, 'siete', 7.25)")
c.commit()
comprobar(b"siete" in open(archivo, "rb").read(), "lo confirmado está en el archivo")
cur.execute("INSERT INTO DesdePy VALUES (8, 'ocho', NULL)")
c.rollback()
comprobar(b"ocho" not in open(archivo, "rb").read(), "lo deshecho no está en el archivo")
cur.execute("SELECT n, t, d FROM DesdePy")
filas = cur.fetchall()
comprobar(len(filas) == 1 and filas[0][0] == 7 and filas[0][1] == "siete" and str(filas[0][2]) == "7.25",
          "valores leídos: %r" % (filas,))
try:
    cur.execute("SELECT * FROM NoExiste")
    comprobar(False, "una tabla que no existe es rechazada")
except pymssql.Error as e:
    comprobar(numero(e) == 208, "número 208: %r" % (e.args,))
c.close()
try:
    conectar(password="mala")
    comprobar(False, "una clave mala es rechazada")
except pymssql.OperationalError as e:
    comprobar(numero(e) == 18456, "número 18456: %r" % (e.args,))
print("pymssql: bien")
