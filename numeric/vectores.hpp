// Single-precision operations on vectors, and the centring of the samples.
#pragma once

#include <cstdint>

#include "matrix/hermat.hpp"

vector copia_vector(vector src, vector dst, uint32_t n);
// The dot product, summed in ascending order.
float mult(vector a, vector b, uint32_t n);
// Removes the vector's own mean, computed once before any value changes.
vector med0(uint32_t n, vector v);
// The Euclidean length: squares summed in single precision, the root taken in double.
float modulo(uint32_t n, vector v);
// Divides by the length; a zero vector becomes NaNs.
vector norm(uint32_t n, vector v);
// Removes each row's own mean.
matriz ajusta(matriz m, uint32_t rows, uint32_t cols);
// Column means into mean, which must hold zeros; rows are added from the last
// to the first, which fixes the rounding of the sums.
matriz media(matriz m, uint32_t rows, uint32_t cols, vector mean);
// Subtracts mean from every row.
matriz mean0(uint32_t rows, uint32_t cols, matriz m, vector mean);

// Centres the training samples in place: each sample's own mean first, then,
// when asked, each column's mean. Returns the column means when it made them
// (the caller releases them), nullptr otherwise.
vector centra_muestras(matriz X, uint32_t nmuestras, uint32_t dimension, bool media_fila,
                       bool media_columna);
