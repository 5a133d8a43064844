// A single-layer linear network trained by Sanger's rule, the Generalized
// Hebbian Algorithm (T. D. Sanger, "Optimal unsupervised learning in a
// single-layer linear feedforward neural network", Neural Networks 2, 1989).
#pragma once

#include <cstdint>

#include "matrix/hermat.hpp"

// Progress report interval in cycles, set from -e. 0 means never report.
extern int T2;

// Fills W (rows × cols) with the pseudo-random start, the same on every call.
matriz rand_w(matriz W, uint32_t rows, uint32_t cols);

// y = Wᵀx for x of rows values and y of cols values.
vector salsanger(matriz W, vector x, vector y, uint32_t rows, uint32_t cols);

// Prints one progress report on standard error.
void displaynet(int ciclo, float nu, float error);

// Creates a dimension × nsalidas weight matrix, trains it on the nmuestras
// rows of X and hands it to the caller.
matriz sanger(uint32_t nmuestras, uint32_t dimension, matriz X, uint32_t nsalidas, float alfa,
              uint32_t iteraciones, float error_parada);

// The divisor of a cycle's error, dimension × nmuestras as a float, formed in
// 64 bits so that large data sets do not wrap it.
float divisor_error(uint32_t dimension, uint32_t nmuestras);
