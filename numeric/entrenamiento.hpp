// The training's kernels: the rule written as it reads (the plain loop, the
// reference), the same with a running prefix, and that on a skewed
// wavefront of vector lanes (numeric/onda.cpp). They differ in speed only:
// every kernel gives the plain loop's bits, weights and errors, on every
// input, for these reasons.
//
// 1. One rounding per operation, in the rule's order. Every product and sum
//    is a single float operation; no multiply and add ever fuse into one
//    rounding (-ffp-contract=off, and CI looks for fused instructions).
//    Products and sums keep the rule's operand order (numeric/en_orden.hpp),
//    which decides the sign of the NaN that two NaNs give.
// 2. The running prefix. For input k the residual of output j is
//    x[k] − y[0]·W[k][0] − … − y[j]·W[k][j], subtracted in that order with
//    W[k][0 … j−1] already updated for this sample. Its prefix up to j−1 is
//    the very value that output j+1 starts from, rounded the same way, so
//    carrying it per input costs dimension × nsalidas a sample instead of
//    dimension × nsalidas²/2:
//        h = p − y[j]·W[k][j];  d = h·y[j];  W[k][j] = d·ν + W[k][j];  p = p − y[j]·W[k][j]
// 3. The wavefront. Lane i owns a run of inputs and trails lane i−1 by one
//    output, so the sums that must run in ascending k (each err[j], and the
//    next sample's y[j] from the updated weights) pass from lane to lane in
//    that order. Lanes and slots that stand for no input or output are
//    masked out of every sum and store, so padding changes no bit, even with
//    infinities and NaNs in the data.
// 4. Outputs split among threads. For input k the residual that output j
//    starts from depends on outputs 0 … j−1 only, so a thread can own a run
//    of outputs if it starts each input's residual where the thread with the
//    outputs below left it, sample by sample. Each err[j] and each y[j] is
//    then summed whole by one thread, in the same order as before; only the
//    residuals cross, one way. Between cycles the training may change its
//    threads (cambia_hilos): the weights pass through W unchanged.
// 5. Inputs that are zero in every sample (separa_muertas). Each adds
//    W[k][j]·(±0) = ±0 to y[j], which leaves it as it was, since a sum that
//    starts at +0 is never −0; so while its weights are finite it can be
//    left out of y. Its own steps for the first outputs, whose weights sink
//    towards subnormal values, are worked beside the kernel, with the same
//    float results but no subnormal float in the common cases
//    (numeric/muertas.inc), and its d·d joins err[j] at its place in the
//    sum. The residual they leave is handed to the kernel, which trains
//    the later outputs, whose weights stay normal, with the live inputs.
//    When a weight worked beside the kernel stops being finite, the cycle
//    is trained again with every input together. That kernel does not mask
//    the slots that stand for no input: they add +0 while every y and ν is
//    finite, and when one is not, some weight is not finite at the end of
//    the cycle, which is then trained again the same way.
#pragma once

#include <cstdint>

#include "matrix/hermat.hpp"

struct entrega;    // numeric/onda.hpp
struct cuadrilla;  // numeric/hilos.hpp

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

// What changes before a training's next cycle: nothing, its threads (from
// one to all or back) or the way of its dead inputs.
enum class cambio { ninguno, hilos, muertas };

// The choices a training times cycle by cycle (cuenta_ciclo): between one
// thread and all, where it may use more than one, and between its dead
// inputs kept apart and trained in the kernel with the others, where the
// CPU does not slow down on subnormal numbers. Each tries its other way now
// and then, one at a time, and the faster way stays.
struct eleccion {
    cambio prueba = cambio::ninguno;  // the choice whose other way is being tried
    bool segunda = false;             // whether that try is in its second cycle
    // Cycles until each choice's next try, the dead inputs' cycles between
    // a try and the next, and the cycles since the last try ended.
    uint32_t espera_hilos = 2, espera_muertas = 6, pausa_muertas = 16, desde_prueba = 2;
    // Seconds a cycle takes the way it trains now, the last cycle's time
    // that way, and each choice's other way at its last try (0: none yet).
    double segundos = 0, ultimo = 0, otra_hilos = 0, otra_muertas = 0;
    bool elige_muertas = false;   // whether the dead inputs' way is timed
    bool muertas_juntas = false;  // whether they train in the kernel now
};

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
    float* actual = nullptr;  // two samples in lane order, filled anew every cycle
    float* siguiente = nullptr;
    float* anillo_err = nullptr;  // per output, between one pass of the lanes and the next
    float* anillo_y = nullptr;
    uint32_t* carriles_validos = nullptr;  // per slot, the lanes whose input exists

    // The samples in lane order, filas · carriles values apart, placed once
    // for the training (coloca_muestras), which owns them; its parts share them.
    float* muestras = nullptr;
    matriz colocadas_de = nullptr;  // the samples they were placed from
    uint32_t ncolocadas = 0;

    // Inputs that are zero in every sample, when the training keeps them apart
    // (separa_muertas): their weights for the outputs below corte_muertas
    // stay zero in W or in the wavefront, so that no vector instruction
    // meets their tiny values, and live here; from corte_muertas on they
    // train in the wavefront with the others.
    uint32_t nmuertas = 0;
    uint32_t corte_muertas = 0;
    uint32_t ancho_muertas = 0;           // nmuertas rounded up to whole vectors
    uint32_t* filas_muertas = nullptr;    // their inputs k, ascending
    uint32_t* lugares_muertas = nullptr;  // in the wavefront: slot · lanes + lane
    double* pesos_muertos = nullptr;      // ancho_muertas × nsalidas, output by output
    double* prefijos_muertos = nullptr;
    float* dd_muertas = nullptr;  // each one's d·d for the output in hand
    bool* inyectadas = nullptr;   // per output: whether any of its d·d slots is not +0
    uint32_t salidas_con_dd = 0;  // the outputs for which it is so
    float* copia = nullptr;       // the live weights at the start of a cycle, to go back to
    double* copia_muertos = nullptr;
    float* inyeccion = nullptr;  // wavefront order: the dead inputs' d·d, zero elsewhere
    // Their residuals after output corte_muertas − 1, for the lanes to go on
    // from: two samples in turn, as floats.
    float* entrantes = nullptr;
    // The first outputs, below corte_muertas − 1, whose dead weights all lay
    // below 2^-125 when the cycle began: their steps try the fixed point
    // first (columna_fija), on its own.
    uint32_t rejilla_muertas = 0;
    uint32_t* carril_muertas = nullptr;  // per lane and one more: its first dead input

    // Outputs split among threads: each part is a training of its own for a
    // run of the outputs, on a thread of the crew. A training that may use
    // more than one thread times its cycles and trains on one thread or on
    // all, whichever has lately been faster (ciclo_entrenamiento).
    uint32_t hilos = 1;  // the threads it may use
    eleccion forma;      // its timed choices, of the threads and the dead inputs' way
    uint32_t npartes = 0;
    entrenamiento* partes = nullptr;
    cuadrilla* trabajadores = nullptr;
    // In a part: the first of W's outputs that it trains, and where it takes
    // each sample's residuals from (the part before) and hands its own to.
    uint32_t salida0 = 0;
    entrega* recibe = nullptr;
    entrega* da = nullptr;
};

// Takes W for the training; it is not to be read until termina_entrenamiento.
// A wavefront kernel splits the outputs among up to hilos threads, fewer
// where the outputs are too few for so many parts; the results keep their
// bits either way.
entrenamiento empieza_entrenamiento(nucleo tipo, matriz W, uint32_t dimension, uint32_t nsalidas,
                                    uint32_t hilos = 1);

// Splits the training's outputs among up to hilos threads from the next
// cycle on, or trains them on one thread with hilos = 1; the results keep
// their bits. ciclo_entrenamiento does this itself as it times the cycles.
void cambia_hilos(entrenamiento& e, uint32_t hilos);

// The threads worth using for a training of these sizes: where the outputs
// split into parts of at least a lane's width each, but the last, which may
// have half of one, and the work of a cycle (from 64 inputs and 4 million
// input-output pairs a cycle) outweighs the threads' handing over; at most
// the cores this process may use.
uint32_t hilos_preferidos(nucleo tipo, uint32_t dimension, uint32_t nsalidas, uint32_t nmuestras);

// Places the nmuestras rows of X in the wavefront's lane order once for the
// whole training, where memory allows, rather than sample by sample in every
// cycle; the cycles on those rows then read them from there, so X must not
// change until termina_entrenamiento. Call right after empieza_entrenamiento;
// the results keep their bits either way.
void coloca_muestras(entrenamiento& e, matriz X, uint32_t nmuestras);

// Whether input k is ±0 in every one of the nmuestras rows of X.
bool entrada_muerta(matriz X, uint32_t nmuestras, uint32_t k);

// Keeps the inputs that are zero in every row of X apart from the others
// (see numeric/entrenamiento.cpp), if there are any: always, or with
// siempre false only in the cycles where that has been timed faster than
// training them in the kernel (eleccion). Call right after
// empieza_entrenamiento; the results keep their bits either way.
void separa_muertas(entrenamiento& e, matriz X, uint32_t nmuestras, bool siempre = true);

// Whether this CPU multiplies subnormal floats much more slowly than others,
// which makes separa_muertas worth its cost. Measured once.
bool subnormales_lentos();

// One cycle over the nmuestras rows of X with learning coefficient nu. y is
// scratch of nsalidas values; err must hold zeros and leaves with each
// output's sum of squared weight changes. A training with a choice to time
// (eleccion) trains a cycle or two the other way now and then, and sooner
// when the way it trains slows down, and keeps whichever is faster.
void ciclo_entrenamiento(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err);

// Counts a cycle of that many seconds, trained as the training stands now,
// in its choices; returns what changes before its next cycle: the start of
// a try, or the way back from one that lost.
cambio cuenta_ciclo(entrenamiento& e, double segundos);

// Makes the change that cuenta_ciclo returned.
void aplica(entrenamiento& e, cambio c);

// Puts the trained weights back into W and releases the kernel's memory.
void termina_entrenamiento(entrenamiento& e);

// One cycle of the rule over every sample, written exactly as the rule reads,
// for the nsalidas² work it costs: the reference every faster path must equal
// bit for bit. err must hold zeros on entry; it leaves with each output's sum
// of squared weight changes.
void ciclo_sanger_simple(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                         uint32_t nsalidas, float nu, vector y, vector err);

// The running prefix on the row-major weights, one value at a time.
void ciclo_sanger_prefijo(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                          uint32_t nsalidas, float nu, vector y, vector err);
