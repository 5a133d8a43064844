// Reduction: samples projected onto the learned weight vectors, and the
// share of their variance that the projections keep.
#pragma once

#include <cstdint>
#include <cstdio>

#include "matrix/hermat.hpp"
#include "numeric/ejecucion.hpp"

// Reads up to n samples of dim values from entrada, one at a time, and writes
// each one's m outputs through W (dim × m) as one line of salida. With
// media_fila each sample loses its own mean first; column means never apply
// here. With varianza the report follows on standard error.
void transforma(uint32_t n, uint32_t dim, uint32_t m, matriz W, FILE* entrada, FILE* salida,
                int media_fila, int varianza);

// The variance figure of a side is its mean squared length over the samples
// reduced; the percentage is the output's share of the input's. With no
// sample, or no input variance, every figure that would divide by 0 is 0.
void escribe_varianza(float suma_entrada, float suma_salida, uint32_t reducidas);

// The reduction stage of a run: reads the samples file again from its start
// and writes the reduced samples file.
void reduce_muestras(const ejecucion& e, matriz W, bool media_fila, bool varianza);
