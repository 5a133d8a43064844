// The wavefront kernels: internal to the training, shared by its sources.
#pragma once

#include <algorithm>

#include "numeric/entrenamiento.hpp"
#include "numeric/hilos.hpp"

// The AVX2 and AVX-512 kernels exist only where x86 code can run; elsewhere
// the portable one takes their place.
#if defined(__x86_64__) || defined(__i386__)
#define SANGER_X86 1
#else
#define SANGER_X86 0
#endif

// Where W[k][j] lives in wavefront order: lane i = k / filas handles inputs
// i·filas … i·filas + filas − 1, one slot each, and meets output j at turn
// position (j + i) mod columnas.
inline uint64_t posicion_onda(const entrenamiento& e, uint32_t k, uint32_t j) {
    const uint32_t i = k / e.filas, r = k % e.filas;
    const uint64_t c = (uint64_t{j} + i) % e.columnas;
    return (c * e.filas + r) * e.carriles + i;
}

// One cycle; false when a dead input's weight stopped being finite, or, with
// dead inputs kept apart and slots that stand for no input, any weight (the
// cycle must then be trained again with every input in the wavefront).
bool ciclo_onda_avx512(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err);
bool ciclo_onda_avx2(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err);
bool ciclo_onda_portatil(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err);

// Places the nmuestras rows of X in lane order, one after another,
// e.filas · e.carriles values apart, for the kernel's kind.
void coloca_muestras_onda(const entrenamiento& e, matriz X, uint32_t nmuestras, float* destino);

// What one part of a training split by outputs hands to the next, for each
// sample: every input's residual after the part's last output, in input
// order (which is lane by lane: lane i ends a sample with inputs i · filas
// on), and the dead inputs' in their own order. A ring of huecos samples;
// the part before writes a sample when its slot is free, the part after
// reads it once it is written. Each side tells the other in batches of
// samples (lote_de).
struct entrega {
    uint32_t huecos = 0;
    uint64_t paso_vivas = 0;    // floats per sample, whole cache lines
    uint64_t paso_muertas = 0;  // doubles per sample, whole cache lines
    float* vivas = nullptr;
    double* muertas = nullptr;
    // The sample being handed on, gathered lane by lane by the part before
    // and copied whole into its slot, past the caches: a line that the part
    // after has read takes a trip between cores before a plain store to it
    // can finish, and the kernel's stores waited behind those.
    float* preparada = nullptr;
    uint32_t lote = 1;              // this cycle's batch (lote_de)
    alignas(64) contador escritas;  // samples written, this cycle
    alignas(64) contador leidas;    // samples the next part has taken
};

// The samples a side takes before it tells the other, in a cycle of
// nmuestras: then the cache line of a count crosses between cores once a
// batch rather than once a sample. About 64 KiB of residuals, but at most a
// sixteenth of the cycle, so that the part after does not wait long for the
// first batch, and half the ring. With two batches in the ring the two
// sides never wait on each other at once: while the part before waits for
// a free slot, the part after has a whole batch to read that it has been
// told of.
inline uint32_t lote_de(const entrega& d, uint32_t nmuestras) {
    const uint64_t lote = std::min<uint64_t>((64 << 10) / (d.paso_vivas * 4), nmuestras / 16);
    return static_cast<uint32_t>(std::clamp<uint64_t>(lote, 1, d.huecos / 2));
}

// Whether sample s ends a batch, or the cycle: then its side tells the other.
inline bool fin_de_lote(const entrega& d, uint32_t s, uint32_t nmuestras) {
    return (s + 1) % d.lote == 0 || s + 1 == nmuestras;
}

inline float* vivas_de(const entrega& d, uint32_t muestra) {
    return d.vivas + muestra % d.huecos * d.paso_vivas;
}
inline double* muertas_de(const entrega& d, uint32_t muestra) {
    return d.muertas + muestra % d.huecos * d.paso_muertas;
}
