#!/usr/bin/env bash
# The ABI of the shared library: its SONAME and the symbols it exports are exactly those of the
# symbols file shipped in libteclon1, so that any change to the ABI is seen before it is released.
set -euo pipefail
biblioteca=$1 simbolos=$2

soname=$(readelf -d "$biblioteca" | sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p')
declarado=$(head -n 1 "$simbolos" | cut -d' ' -f1)
[ "$soname" = "$declarado" ] || { echo "FALLA: SONAME $soname, el archivo de símbolos dice $declarado" >&2; exit 1; }

exportados=$(nm -D --defined-only "$biblioteca" | awk '{print $NF}' | sort)
esperados=$(tail -n +2 "$simbolos" | grep -v '^ *#' | sed -E 's/^ +//; s/@.*//' | sort)
if [ "$exportados" != "$esperados" ]; then
  echo "FALLA: la ABI de $soname cambió (< exportado, > en $simbolos):" >&2
  diff <(echo "$exportados") <(echo "$esperados") | grep '^[<>]' >&2
  echo "Si el cambio es a propósito, corregir $simbolos (y el SONAME si se quitó o cambió un símbolo)." >&2
  exit 1
fi
echo "ABI de $soname: $(wc -l <<<"$exportados") símbolos, los del archivo de símbolos"
