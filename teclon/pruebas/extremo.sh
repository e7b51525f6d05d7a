#!/usr/bin/env bash
# End to end: install Teclon into a temporary prefix, build a C program through pkg-config, and run
# it and the teclon tool against teclon-simulador.
set -euo pipefail
build=$1 fuentes=$2 compilador=$3 banderas=$4 simulador=$5 herramienta=$6

tmp=$(mktemp -d)
pids=()
limpiar() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap limpiar EXIT
falla() { echo "FALLA: $*" >&2; exit 1; }

cmake --install "$build" --component teclon --prefix "$tmp/prefijo" >/dev/null
pc=$(find "$tmp/prefijo" -name teclon.pc)
[ -n "$pc" ] || falla "no se instaló teclon.pc"
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir teclon)
# shellcheck disable=SC2086
"$compilador" -std=c11 -Wall -Wextra -Werror $banderas "$fuentes/c_abi_prueba.c" -o "$tmp/c_abi_prueba" \
  $(pkg-config --cflags --libs teclon) -Wl,-rpath,"$libdir"
[ -e "$tmp/prefijo/lib/cmake/Teclon/TeclonConfig.cmake" ] || [ -n "$(find "$tmp/prefijo" -name TeclonConfig.cmake)" ] ||
  falla "no se instaló el paquete CMake"

# Starts a simulator with the given options; its device path goes to the named variable.
arrancar() {
  local var=$1; shift
  "$simulador" --sin-ritmo "$@" >"$tmp/$var.salida" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$tmp/$var.salida" ] && break
    sleep 0.05
  done
  printf -v "$var" '%s' "$(head -n1 "$tmp/$var.salida")"
  [ -e "${!var}" ] || falla "el simulador no dio un dispositivo"
}

arrancar normal --demora-pasada 300 --demora-pin 100
TECLON_PUERTO_5=$normal "$tmp/c_abi_prueba" || falla "c_abi_prueba"

salida=$("$herramienta" --dispositivo "$normal" banda) || falla "banda: salida $?"
grep -q '^Resultado: Verdadero$' <<<"$salida" || falla "banda: $salida"
grep -q '^  B4000123412341234^PRUEBA/TARJETA' <<<"$salida" || falla "banda sin pista 1: $salida"
grep -q '^  4000123412341234=2912' <<<"$salida" || falla "banda sin pista 2: $salida"

salida=$("$herramienta" --dispositivo "$normal" pin 4000123412341234 CLAVE "INGRESE PIN") || falla "pin: salida $?"
grep -q '^Bloque de PIN: 16 caracteres$' <<<"$salida" || falla "pin: $salida"
grep -q '8F3A5C21D0E4B796' <<<"$salida" && falla "pin: el bloque se mostró"

set +e
salida=$("$herramienta" --dispositivo "$normal" verificar-clave 7); estado=$?
set -e
[ "$estado" -eq 1 ] || falla "verificar-clave: salida $estado"
grep -q '^CodError: 2 (tcNOAprobado)$' <<<"$salida" || falla "verificar-clave: $salida"
grep -q '^MsgError: Falta Cargar Clave Maestra$' <<<"$salida" || falla "verificar-clave: $salida"

arrancar nak --responder nak
set +e
salida=$(TECLON_PUERTO_3=$nak "$herramienta" --puerto 3 prompt); estado=$?
set -e
[ "$estado" -eq 1 ] || falla "prompt con NAK: salida $estado"
grep -q '^MsgError: Comando Cargar PROMPT No Procesado$' <<<"$salida" || falla "prompt con NAK: $salida"

# Ctrl-C while the card is awaited cancels the read.
arrancar lento --demora-pasada 60000
"$herramienta" --dispositivo "$lento" banda >"$tmp/cancelada" &
cli=$!
sleep 0.5
kill -INT "$cli"
set +e
wait "$cli"; estado=$?
set -e
[ "$estado" -eq 1 ] || falla "banda cancelada: salida $estado"
grep -q '^CodError: 3 (tcCancel)$' "$tmp/cancelada" || falla "$(cat "$tmp/cancelada")"
grep -q '^MsgError: Operacion Leer BANDA Cancelada$' "$tmp/cancelada" || falla "$(cat "$tmp/cancelada")"

"$herramienta" --help | grep -q '^Uso: teclon' || falla "--help"
set +e
"$herramienta" --dispositivo "$normal" volar >/dev/null 2>&1; estado=$?
set -e
[ "$estado" -eq 1 ] || falla "orden desconocida: salida $estado"
echo "extremo a extremo: todo bien"
