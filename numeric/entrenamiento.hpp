// Kernels for the cycles of Sanger's rule. Every kernel gives the same bits as
// the plain loop (ciclo_sanger_simple) on every input; they differ in speed.
//
// Why a faster kernel can match the plain loop exactly: for input k, the
// residual of output j is x[k] − y[0]·W[k][0] − … − y[j]·W[k][j], subtracted in
// that order, with W[k][0 … j−1] already updated for this sample. Its prefix
// up to j−1 is therefore the very value that output j+1 starts from, rounded
// the same way. Carrying that prefix p per input instead of recomputing it
// makes a sample cost dimension × nsalidas, not dimension × nsalidas²/2:
//
//     h = p − y[j]·W[k][j];  d = h·y[j];  W[k][j] = d·ν + W[k][j];  p = p − y[j]·W[k][j]
#pragma once

#include <cstdint>

#include "matrix/hermat.hpp"

enum class nucleo {
    simple,    // the rule as written: the reference
    prefijo,   // the running prefix, one value at a time: any CPU
    avx2,      // the running prefix on a skewed wavefront, 8 inputs per instruction
    avx512,    // the same, 16 inputs per instruction
    portatil,  // the same in the compiler's vector types, 4 inputs per instruction: any CPU
};

// Whether this CPU can run the kernel.
bool nucleo_soportado(nucleo n);

// The fastest kernel this CPU runs for these sizes.
nucleo nucleo_preferido(uint32_t dimension, uint32_t nsalidas);

// A training in progress: the weights in the kernel's own layout, and its
// scratch, all made once so that no cycle allocates.
struct entrenamiento {
    nucleo tipo = nucleo::simple;
    matriz W = nullptr;  // dimension × nsalidas, up to date outside the training
    uint32_t dimension = 0, nsalidas = 0;
    uint32_t carriles = 0;    // lanes of one instruction
    uint32_t filas = 0;       // slots per lane: inputs handled by each lane
    uint32_t columnas = 0;    // outputs in one turn of the wavefront, at least one per lane
    float* bloque = nullptr;  // everything below lives in this one block
    float* pesos = nullptr;   // the weights in wavefront order
    float* prefijos = nullptr;
    float* proximas = nullptr;  // per lane, the inputs of the sample after its own
    float* actual = nullptr;    // two samples in lane order, filled anew every cycle
    float* siguiente = nullptr;
    float* anillo_err = nullptr;  // per output, between one pass of the lanes and the next
    float* anillo_y = nullptr;
    uint32_t* carriles_validos = nullptr;  // per slot, the lanes whose input exists

    // Inputs that are zero in every sample, when the training keeps them apart
    // (separa_muertas): their weights stay zero in W or in the wavefront, so
    // that no vector instruction meets their tiny values, and live here.
    uint32_t nmuertas = 0;
    uint32_t ancho_muertas = 0;           // nmuertas rounded up to whole vectors
    uint32_t* filas_muertas = nullptr;    // their inputs k, ascending
    uint32_t* lugares_muertas = nullptr;  // in the wavefront: slot · lanes + lane
    double* pesos_muertos = nullptr;      // ancho_muertas × nsalidas, output by output
    double* prefijos_muertos = nullptr;
    float* dd_muertas = nullptr;  // each one's d·d for the output in hand
    float* copia = nullptr;       // the live weights at the start of a cycle, to go back to
    double* copia_muertos = nullptr;
    float* inyeccion = nullptr;  // wavefront order: the dead inputs' d·d, zero elsewhere
};

// Takes W for the training; it is not to be read until termina_entrenamiento.
entrenamiento empieza_entrenamiento(nucleo tipo, matriz W, uint32_t dimension, uint32_t nsalidas);

// Keeps the inputs that are zero in every row of X apart from the others
// (see numeric/entrenamiento.cpp), if there are any. Call right after
// empieza_entrenamiento; the results keep their bits either way.
void separa_muertas(entrenamiento& e, matriz X, uint32_t nmuestras);

// Whether this CPU multiplies subnormal floats much more slowly than others,
// which makes separa_muertas worth its cost. Measured once.
bool subnormales_lentos();

// One cycle over the nmuestras rows of X with learning coefficient nu. y is
// scratch of nsalidas values; err must hold zeros and leaves with each
// output's sum of squared weight changes.
void ciclo_entrenamiento(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err);

// Puts the trained weights back into W and releases the kernel's memory.
void termina_entrenamiento(entrenamiento& e);

// The running prefix on the row-major weights, one value at a time.
void ciclo_sanger_prefijo(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                          uint32_t nsalidas, float nu, vector y, vector err);
