#!/usr/bin/env bash
# End to end: install Teclon into a temporary prefix, build a C program through pkg-config and a C++
# one through the CMake package, and run them and the teclon tool against teclon-simulador.
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

for componente in libteclon libteclon-dev teclon; do
  cmake --install "$build" --component "$componente" --prefix "$tmp/prefijo" >/dev/null
done
pc=$(find "$tmp/prefijo" -name teclon.pc)
[ -n "$pc" ] || falla "no se instaló teclon.pc"
export PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir teclon)
# The installation's own prefix, not one worked out from where the .pc file sits.
[ "$(pkg-config --variable=prefix teclon)" = "$tmp/prefijo" ] ||
  falla "teclon.pc: prefix=$(pkg-config --variable=prefix teclon), instalado en $tmp/prefijo"
# shellcheck disable=SC2086
"$compilador" -std=c11 -Wall -Wextra -Werror $banderas "$fuentes/prueba_c_abi.c" -o "$tmp/prueba_c_abi" \
  $(pkg-config --cflags --libs teclon) -Wl,-rpath,"$libdir"

# The CMake package: a C++ program finds Teclon::teclon in the same prefix and reads a card through
# the exported class (run below, once the simulator is up).
mkdir "$tmp/consumidor"
cat >"$tmp/consumidor/CMakeLists.txt" <<'FIN'
cmake_minimum_required(VERSION 3.25)
project(Consumidor CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(Teclon 1 REQUIRED)
add_executable(consumidor main.cpp)
target_link_libraries(consumidor PRIVATE Teclon::teclon)
FIN
cat >"$tmp/consumidor/main.cpp" <<'FIN'
#include <teclon/cTeclon.hpp>
#include <iostream>
int main() {
  cTeclon t;
  if (t.CodError() != tcError || !t.MsgError().empty()) return 1;
  int bombeos = 0;
  t.FijarBombeo([&] { ++bombeos; });
  t.Puerto(5);
  std::string banda;
  const bool leida = t.LeerBANDA(banda);
  std::cout << leida << " " << t.CodError() << " " << bombeos << " " << banda.substr(0, 17) << "\n";
  return leida && t.CodError() == tcAprobado && bombeos > 0 && banda.rfind("B4000123412341234^", 0) == 0 ? 0 : 1;
}
FIN
cmake -S "$tmp/consumidor" -B "$tmp/consumidor/build" -DCMAKE_PREFIX_PATH="$tmp/prefijo" \
  -DCMAKE_CXX_FLAGS="$banderas" -DCMAKE_EXE_LINKER_FLAGS="$banderas" >/dev/null || falla "find_package(Teclon)"
cmake --build "$tmp/consumidor/build" >/dev/null || falla "programa con Teclon::teclon"

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
TECLON_PUERTO_5=$normal "$tmp/prueba_c_abi" || falla "prueba_c_abi"
salida=$(TECLON_PUERTO_5=$normal "$tmp/consumidor/build/consumidor") || falla "consumidor C++: $salida"

salida=$("$herramienta" --dispositivo "$normal" banda) || falla "banda: salida $?"
grep -q '^Resultado: Verdadero$' <<<"$salida" || falla "banda: $salida"
grep -q '^  B4000123412341234^PRUEBA/TARJETA' <<<"$salida" || falla "banda sin pista 1: $salida"
grep -q '^  4000123412341234=2912' <<<"$salida" || falla "banda sin pista 2: $salida"

# The card number and the working key go through standard input, never as arguments.
salida=$(printf '%s\n' 4000123412341234 CLAVE | "$herramienta" --dispositivo "$normal" pin "INGRESE PIN") ||
  falla "pin: salida $?"
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
sleep 2  # the tool is waiting for the card by then (the simulator holds it back a minute)
kill -INT "$cli"
set +e
wait "$cli"; estado=$?
set -e
[ "$estado" -eq 1 ] || falla "banda cancelada: salida $estado"
grep -q '^CodError: 3 (tcCancel)$' "$tmp/cancelada" || falla "$(cat "$tmp/cancelada")"
grep -q '^MsgError: Operacion Leer BANDA Cancelada$' "$tmp/cancelada" || falla "$(cat "$tmp/cancelada")"

"$herramienta" --help | grep -q '^Uso: teclon' || falla "--help"
for programa in "$herramienta" "$simulador"; do
  nombre=$(basename "$programa")
  "$programa" --version | grep -qxE "$nombre [0-9]+\.[0-9]+\.[0-9]+" || falla "$nombre --version: $("$programa" --version 2>&1)"
done
set +e
"$herramienta" --dispositivo "$normal" volar >/dev/null 2>&1; estado=$?
set -e
[ "$estado" -eq 2 ] || falla "orden desconocida: salida $estado"
echo "extremo a extremo: todo bien"
