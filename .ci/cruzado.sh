#!/usr/bin/env bash
# Cross builds for aarch64 and 32-bit x86 Linux, each with its whole test
# suite under user-mode emulation, and then the same batches run by the
# x86-64 program and by each emulated one: every output file and every
# message must be the same bytes, and so must the x86-64 program on CPUs
# without AVX-512 or AVX2. The batches create no NaN, whose sign
# alone is the CPU's.
#
#     .ci/cruzado.sh            (from anywhere; installs what is missing)
set -euo pipefail
cd "$(dirname "$0")/.."

faltan=()
for paquete in g++-aarch64-linux-gnu g++-i686-linux-gnu qemu-user googletest; do
    if ! dpkg-query -W -f='${Status}' "$paquete" 2> /dev/null | grep -q 'ok installed'; then
        faltan+=("$paquete")
    fi
done
if [ ${#faltan[@]} -gt 0 ]; then
    echo "installing ${faltan[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${faltan[@]}"
fi

# The batches: the iris example with two and with four components, and wide
# random samples that a vector kernel trains: AVX-512 or AVX2 on x86-64, the
# portable kernel on aarch64, AVX2 on i686 (qemu emulates AVX2, not AVX-512).
lotes=$(mktemp -d)
trap 'rm -rf "$lotes"' EXIT
mkdir "$lotes/datos"
cp examples/iris.txt "$lotes/datos/"
awk 'BEGIN { srand(7); for (s = 0; s < 300; s++) {
                       for (k = 0; k < 70; k++) printf "%.4f ", rand() - 0.5; print "" } }' \
    > "$lotes/datos/ancho.txt"
cat > "$lotes/datos/ejecuciones" << 'RUNS'
3
4 150 iris.txt 2 iris.a iris.r 150
4 150 iris.txt 4 iris4.a iris4.r 150
70 300 ancho.txt 12 ancho.a ancho.r 300
RUNS
sed 's/\.\([ar]\)\>/.\12/g' "$lotes/datos/ejecuciones" > "$lotes/datos/ejecuciones2"

# corre CARPETA PROGRAMA...: the batches with the given program, in CARPETA.
corre() {
    local carpeta=$1
    shift
    cp -r "$lotes/datos" "$carpeta"
    (cd "$carpeta" && "$@" -m -v -a0.01 -e20 ejecuciones 2> mensajes &&
        "$@" -a0.001 -i30 -e7 -s ejecuciones2 2>> mensajes)
}

nativo=build-cruzado-x86-64
cmake -S . -B "$nativo" > /dev/null
cmake --build "$nativo" -j2 --target sanger
corre "$lotes/x86-64" "$PWD/$nativo/sanger"

# The same x86-64 program on emulated CPUs without AVX-512 (qemu's own, with
# AVX2) and without AVX2 (Nehalem, where the portable kernel runs).
for cpu in max Nehalem; do
    corre "$lotes/x86-64-$cpu" qemu-x86_64 -cpu "$cpu" "$PWD/$nativo/sanger"
    if ! diff -r "$lotes/x86-64" "$lotes/x86-64-$cpu"; then
        echo "error: on an x86-64 $cpu CPU the program's files or messages differ" >&2
        exit 1
    fi
    echo "x86-64 as $cpu CPU under qemu-x86_64: batches identical"
done

for arq in aarch64 i686; do
    inicio=$SECONDS
    build=build-$arq
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/$arq-linux-gnu.cmake" \
        -DSANGER_GTEST_SOURCE=/usr/src/googletest
    cmake --build "$build" -j2
    if [ "$arq" = i686 ] && /usr/i686-linux-gnu/lib/ld-linux.so.2 --version > /dev/null 2>&1; then
        # Under qemu-i386 two guest threads that spin on each other's counters
        # never see each other (the same binary passes natively): the tests
        # that split outputs among threads run on this x86-64 kernel directly,
        # through the i686 loader.
        ctest --test-dir "$build" --output-on-failure -j2 -E '_hilos|Partes\.'
        /usr/i686-linux-gnu/lib/ld-linux.so.2 --library-path /usr/i686-linux-gnu/lib \
            "$build/tests/unit_tests" --gtest_filter='*_hilos:Partes.*'
    elif [ "$arq" = i686 ]; then
        # Some kernels run no 32-bit x86 program themselves (the i686 loader
        # fails with "Exec format error"). The threads' tests need that, and
        # so do the death tests, which run the test program afresh: they are
        # left to the x86-64 and aarch64 suites.
        echo "i686: this kernel runs no 32-bit x86 program; its thread and death tests skipped"
        ctest --test-dir "$build" --output-on-failure -j2 -E '_hilos|Partes\.|DeathTest'
    else
        ctest --test-dir "$build" --output-on-failure -j2
    fi

    fma='\s(fn?m(add|sub)|fml[as])\s'
    if [ "$arq" = aarch64 ] &&
        aarch64-linux-gnu-objdump -d "$build/sanger" | grep -E -m5 "$fma"; then
        echo "error: fused multiply-add instructions in $build/sanger" >&2
        exit 1
    fi

    case $arq in
        aarch64) emulador=(qemu-aarch64 -L /usr/aarch64-linux-gnu) ;;
        i686) emulador=(qemu-i386 -L /usr/i686-linux-gnu) ;;
    esac
    corre "$lotes/$arq" "${emulador[@]}" "$PWD/$build/sanger"
    if ! diff -r "$lotes/x86-64" "$lotes/$arq"; then
        echo "error: the $arq program's files or messages differ from x86-64's" >&2
        exit 1
    fi
    echo "$arq: suite passed under $emulador, batches identical to x86-64," \
        "in $((SECONDS - inicio)) s"
done
