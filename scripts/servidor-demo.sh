# Sourced by the demo scripts: builds solvane and solvane-servidor in $build, serves "$demo/PagoraDemo.sql"
# on a free port of 127.0.0.1 with a throwaway password, and writes the connection file $conexion for it.
# Sets servidor (pid), puerto, clave, conexion; stops the server on exit.
scripts/install-deps
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGORA_TESTS=OFF \
  -DPAGORA_TECLON=OFF -DPAGORA_PRUEBA=OFF >/dev/null
echo "== Compilando solvane y solvane-servidor en $build"
cmake --build "$build" --target solvane solvane-servidor -j"$(nproc)" | grep -E '^\[[0-9]+/[0-9]+\] Linking' || true

if ! odbcinst -q -d | grep -qx '\[FreeTDS\]'; then
  echo "$(basename "$0"): el driver ODBC FreeTDS no está registrado (paquete tdsodbc)" >&2
  exit 1
fi

clave="demo-$RANDOM$RANDOM"
PAGORA_SERVIDOR_CLAVE="$clave" "$build/simulado/solvane-servidor" --archivo "$demo/PagoraDemo.sql" \
  --puerto 0 >"$demo/servidor.txt" 2>&1 &
servidor=$!
trap 'kill "$servidor" 2>/dev/null || true; wait "$servidor" 2>/dev/null || true' EXIT
puerto=
for _ in $(seq 1 200); do
  puerto=$(sed -n 's/^Escuchando en 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/servidor.txt")
  [ -n "$puerto" ] && break
  kill -0 "$servidor" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$puerto" ]; then
  echo "$(basename "$0"): solvane-servidor no arrancó:" >&2
  cat "$demo/servidor.txt" >&2
  exit 1
fi

conexion="$demo/PagoraCliente.conexion"
(
  umask 077
  cat >"$conexion" <<FIN
# Solvane contra solvane-servidor por FreeTDS
Motor=odbc
Cadena=Driver=FreeTDS;Server=127.0.0.1;Port=$puerto;Database=PagoraDemo;UID=pagora;TDS_Version=7.4;Encryption=off;ClientCharset=UTF-8
Clave=$clave
TiempoConexion=15
TiempoSentencia=600
FIN
)
