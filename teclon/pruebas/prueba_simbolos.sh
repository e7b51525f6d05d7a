#!/usr/bin/env bash
# The ABI of the shared library: its SONAME and the symbols it exports are exactly those of the
# symbols file shipped in libteclon1 (by their linker names: `c++filt` reads the members of cTeclon), so
# that any change to the ABI is seen before it is released; and dpkg reads the file the same way.
set -euo pipefail
biblioteca=$1 simbolos=$2 version=$3

soname=$(readelf -d "$biblioteca" | sed -nE 's/.*\(SONAME\).*\[(.*)\]/\1/p')
declarado=$(head -n 1 "$simbolos" | cut -d' ' -f1)
[ "$soname" = "$declarado" ] || { echo "FALLA: SONAME $soname, el archivo de símbolos dice $declarado" >&2; exit 1; }

exportados=$(nm -D --defined-only "$biblioteca" | awk '{print $NF}' | LC_ALL=C sort -u)
esperados=$(grep '^ ' "$simbolos" | sed -E 's/^ +//; s/@Base.*//' | LC_ALL=C sort -u)
if [ "$exportados" != "$esperados" ]; then
  echo "FALLA: la ABI de $soname cambió (< exportado, > en $simbolos):" >&2
  diff <(echo "$exportados") <(echo "$esperados") | grep '^[<>]' | c++filt >&2
  echo "Si el cambio es a propósito, corregir $simbolos (y el SONAME si se quitó o cambió un símbolo)." >&2
  exit 1
fi

# dpkg-gensymbols in its strictest mode: any symbol new or gone fails.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/debian"
printf 'Source: pagora\n\nPackage: libteclon1\nArchitecture: any\n' >"$tmp/debian/control"
(cd "$tmp" && dpkg-gensymbols -plibteclon1 -v"$version" -e"$biblioteca" -I"$simbolos" -O/dev/null -c4 -q) ||
  { echo "FALLA: dpkg-gensymbols no acepta $simbolos" >&2; exit 1; }
echo "ABI de $soname: $(wc -l <<<"$exportados") símbolos, los del archivo de símbolos"
