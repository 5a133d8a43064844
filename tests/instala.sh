#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program,
# through the emulator given after the build folder, if any.
set -euo pipefail
build=$1
shift
emulador=("$@")
prefijo=$(mktemp -d)
trap 'rm -rf "$prefijo"' EXIT
cmake --install "$build" --prefix "$prefijo" > /dev/null
test -f "$prefijo/share/man/man1/sanger.1"

cd "$prefijo"
estado=0
"${emulador[@]}" "$prefijo/bin/sanger" 2> uso.txt || estado=$?
test "$estado" -eq 1
head -n 1 uso.txt | grep -qx "Usar: $prefijo/bin/sanger \[opciones\] fichejec"

printf '1 2 3\n4 5 7\n' > datos
printf '1\n3 2 datos 1 autovec reduc 2\n' > ejecuciones
"${emulador[@]}" "$prefijo/bin/sanger" -i0 -s ejecuciones
test "$(cat autovec)" = "$(printf '0.542222\n0.279489\n0.19071')"
test "$(wc -l < reduc)" -eq 2
echo "installed sanger runs; its manual page is in place"
