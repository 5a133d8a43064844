#!/usr/bin/env bash
# valgrind memcheck over a batch of several runs: no error, and no block lost
# definitely, indirectly or possibly. Skipped (status 77) without valgrind,
# and for a cross build, which runs under an emulator (given after iris).
set -euo pipefail
programa=$1
iris=$2
if [ $# -gt 2 ]; then
    echo "memcheck skipped: valgrind cannot see through the emulator ($3)"
    exit 77
fi
if ! command -v valgrind > /dev/null; then
    echo "valgrind not found: memcheck skipped (apt-get install valgrind)"
    exit 77
fi
carpeta=$(mktemp -d)
trap 'rm -rf "$carpeta"' EXIT
cp "$iris" "$carpeta/iris.txt"
# 24 values a sample: wide enough for the vector kernels.
awk 'BEGIN { srand(3); for (s = 0; s < 40; s++) { for (k = 0; k < 24; k++) printf "%g ", rand() - 0.5; print "" } }' \
    > "$carpeta/ancho.txt"
# 17 values a sample: the lanes' last one is only partly filled, so that a
# lane reading past its inputs reads past the sample's block.
awk 'BEGIN { srand(5); for (s = 0; s < 12; s++) { for (k = 0; k < 17; k++) printf "%g ", rand() - 0.5; print "" } }' \
    > "$carpeta/impar.txt"
cat > "$carpeta/ejecuciones" <<'RUNS'
4
4 150 iris.txt 2 iris.a iris.r 150
24 40 ancho.txt 6 ancho.a ancho.r 45
17 12 impar.txt 5 impar.a impar.r 12
4 10 iris.txt 9 mas.a mas.r 3
RUNS
cd "$carpeta"
valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --error-exitcode=1 "$programa" -a0.01 -i20 -e5 -v ejecuciones 2> valgrind.txt || {
    cat valgrind.txt
    exit 1
}
echo "memcheck: no errors, no leaks"
