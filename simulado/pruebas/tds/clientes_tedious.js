// tedious against solvane-servidor: a row read by RPC and by batch, a transaction committed, on tedious's
// default encrypt: true (the server's certificate checked against the CA file given), or with the
// options given as JSON. Prints "tedious: bien", or "tedious: FALLA" and why.
// Uso: node clientes_tedious.js PUERTO CLAVE CA.pem SERVIDOR [OPCIONES-JSON]
'use strict';
const { Connection, Request } = require('tedious');
const fs = require('fs');

const [puerto, clave, ca, servidor, extra] = process.argv.slice(2);
const opciones = Object.assign(
  { port: Number(puerto), database: 'PagoraDemo', trustServerCertificate: false, connectTimeout: 10000,
    cryptoCredentialsDetails: { ca: fs.readFileSync(ca) } },
  extra ? JSON.parse(extra) : {});
const conexion = new Connection({
  server: servidor,
  authentication: { type: 'default', options: { userName: 'pagora', password: clave } },
  options: opciones,
});

function fallar(que) {
  console.log('tedious: FALLA ' + que);
  process.exit(1);
}
setTimeout(() => fallar('sin terminar a tiempo'), 20000).unref();

// Runs `sql` (by RPC, or as a batch) and hands the rows' first values to `luego`.
function correr(sql, lote, luego) {
  const filas = [];
  const r = new Request(sql, (err) => (err ? fallar(sql + ': ' + err.message) : luego(filas)));
  r.on('row', (columnas) => filas.push(columnas[0].value));
  lote ? conexion.execSqlBatch(r) : conexion.execSql(r);
}

conexion.on('connect', (err) => {
  if (err) fallar('conexión: ' + err.message);
  correr('SELECT PAR_LA FROM Parametros', false, (a) => {
    if (a[0] !== 'LA-MVD-01') fallar('lectura por RPC: ' + a);
    correr('SELECT PAR_LA FROM Parametros', true, (b) => {
      if (b[0] !== 'LA-MVD-01') fallar('lectura por lote: ' + b);
      conexion.beginTransaction((e1) => {
        if (e1) fallar('begin: ' + e1.message);
        correr("CREATE TABLE DesdeNode (t varchar(20)); INSERT INTO DesdeNode VALUES ('node-cifrado')", true, () => {
          conexion.commitTransaction((e2) => {
            if (e2) fallar('commit: ' + e2.message);
            console.log('tedious: bien');
            conexion.close();
          });
        });
      });
    });
  });
});
conexion.connect();
