#!/usr/bin/env bash
# Draws the reduced iris samples as a scatter plot of the first two
# components, one colour per species.
#
#     dibuja.sh [reduced samples] [species] [picture]
#
# defaults: iris-reducidas.txt iris-clases.txt (the species of each flower)
# iris.png, in this folder.
set -euo pipefail
reducidas=${1:-iris-reducidas.txt}
clases=${2:-iris-clases.txt}
dibujo=${3:-iris.png}
if ! command -v gnuplot > /dev/null; then
    echo "gnuplot not found: no picture drawn (apt-get install gnuplot-nox)"
    exit 0
fi
datos=$(mktemp)
trap 'rm -f "$datos"' EXIT
paste "$reducidas" "$clases" > "$datos"
gnuplot <<PLOT
set terminal pngcairo size 720,540 font "sans,11"
set output "$dibujo"
set title "Iris measurements on the first two components found by sanger"
set xlabel "component 1"
set ylabel "component 2"
set key outside right top
set grid
plot for [especie in "setosa versicolor virginica"] "$datos" \\
     using 1:(strcol(3) eq especie ? \$2 : NaN) with points pt 7 ps 0.8 title especie
PLOT
echo "drew $dibujo"
