// Sanger's rule on a skewed wavefront, 16 inputs per AVX-512 instruction.
//
// Lane i owns the inputs k = i·B + r (B slots, r = 0 … B−1) and walks the
// outputs j = 0, 1, … of each sample, one block of B steps per output, lane i
// one block behind lane i−1. So when lane i meets output j, lane i−1 has just
// finished it: the sums that must run in ascending k (each err[j], and the
// next sample's output y[j] from the freshly updated weights) simply pass
// from lane to lane, one lane per block, and every addition happens in the
// same order as in the plain loop. Lanes on later outputs run ahead into the
// next sample, so samples follow each other without a separate pass.
//
// Per slot the running prefix p carries the residual (see entrenamiento.hpp).
// Lanes and slots that stand for no real input or output are masked out of
// every sum and every stored weight, so padding changes no bit, even when the
// data hold infinities or NaNs.
#include <immintrin.h>

#include <algorithm>
#include <utility>

#include "numeric/onda.hpp"

namespace {

constexpr uint32_t L = carriles_avx512;

// Places sample x in lane order: slot r of lane i holds x[i·B + r]. Slots past
// the dimension stay as they are (zero); with no sample every slot is zero.
void traspone(const entrenamiento& e, const float* x, float* destino) {
    if (x == nullptr) {
        std::fill(destino, destino + uint64_t{e.filas} * L, 0.0f);
        return;
    }
    for (uint32_t k = 0, i = 0; k < e.dimension; ++i)
        for (uint32_t r = 0; r < e.filas && k < e.dimension; ++r, ++k) destino[r * L + i] = x[k];
}

// The first sample's outputs from the weights in wavefront order, summed in
// ascending k as the plain loop does.
void salida_inicial(const entrenamiento& e, const float* x, float* y) {
    const uint32_t B = e.filas, C = e.columnas;
    for (uint32_t j = 0; j < C; ++j) y[j] = 0.0f;
    for (uint32_t k = 0; k < e.dimension; ++k) {
        const uint32_t i = k / B, r = k % B;
        // Output j of input k sits at turn position (j + i) mod C.
        uint32_t c = i % C;
        for (uint32_t j = 0; j < e.nsalidas; ++j) {
            y[j] = e.pesos[(uint64_t{c} * B + r) * L + i] * x[k] + y[j];
            c = c + 1 == C ? 0 : c + 1;
        }
    }
}

__attribute__((target("avx512f"))) inline __m512 desplaza(__m512 v, __m512 entrada) {
    // Every lane moves up by one; lane 0 takes lane 15 of entrada.
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(0xffff, _mm512_castps_si512(v),
                                                         _mm512_castps_si512(entrada), 15));
}

__attribute__((target("avx512f"))) inline float carril_15(__m512 v) {
    return _mm_cvtss_f32(_mm_permute_ps(_mm512_maskz_extractf32x4_ps(0xf, v, 3), 0xff));
}

// One step: slot r of every lane, at the output each lane meets in this
// block. p is the running prefix, xn the inputs of the next sample whose
// outputs the lane sums; m masks the lanes that stand for real work.
__attribute__((target("avx512f"))) inline void paso(float* w, float* prefijo, __m512 p, __m512 xn,
                                                    __mmask16 m, __m512 Yv, __m512 vnu, __m512& E,
                                                    __m512& Yn) {
    const __m512 wv = _mm512_load_ps(w);
    const __m512 h = _mm512_sub_ps(p, _mm512_mul_ps(Yv, wv));
    const __m512 d = _mm512_mul_ps(h, Yv);
    E = _mm512_mask_add_ps(E, m, _mm512_mul_ps(d, d), E);
    const __m512 wn = _mm512_add_ps(_mm512_mul_ps(d, vnu), wv);
    _mm512_mask_store_ps(w, m, wn);
    _mm512_store_ps(prefijo, _mm512_sub_ps(p, _mm512_mul_ps(Yv, wn)));
    Yn = _mm512_mask_add_ps(Yn, m, _mm512_mul_ps(wn, xn), Yn);
}

}  // namespace

__attribute__((target("avx512f"))) void ciclo_onda_avx512(entrenamiento& e, matriz X,
                                                          uint32_t nmuestras, float nu,
                                                          vector err) {
    const uint32_t B = e.filas, C = e.columnas, M = e.nsalidas;
    // With exactly one output per lane, values leaving lane 15 re-enter lane 0
    // at once: a rotation. Otherwise they wait in the rings for C − 16 blocks.
    const bool rotacion = C == L;
    // Measured: per-lane state pays from about 12 slots per lane on.
    const bool estado_por_carril = B >= 12;

    float* y0 = e.anillo_y;
    salida_inicial(e, X[0], y0);
    for (uint32_t j = 0; j < C; ++j) e.anillo_err[j] = 0.0f;

    __m512 E = _mm512_setzero_ps();   // err of each lane's output
    __m512 Yv = _mm512_setzero_ps();  // y of each lane's output, this sample
    __m512 Yn = _mm512_setzero_ps();  // y of each lane's output, next sample, being summed
    if (rotacion) {
        // Lane i holds what lane 0 takes at block 15 − i: the first sample's y.
        alignas(64) float inverso[L];
        for (uint32_t i = 0; i < L; ++i) inverso[i] = y0[L - 1 - i];
        Yn = _mm512_load_ps(inverso);
    }
    const __m512 vnu = _mm512_set1_ps(nu);
    const __m512 cero = _mm512_setzero_ps();

    traspone(e, X[0], e.actual);
    traspone(e, nmuestras > 1 ? X[1] : nullptr, e.siguiente);
    float* actual = e.actual;
    float* siguiente = e.siguiente;
    float* const prefijos = e.prefijos;
    float* const proximas = e.proximas;  // per lane: the inputs of the sample after its own
    const uint32_t* const validos = e.carriles_validos;

    const uint64_t bloques = (uint64_t{nmuestras} - 1) * C + (L - 1) + M;
    const uint64_t bloques_con_muestra = uint64_t{nmuestras} * C;
    uint32_t c0 = 0;       // output that lane 0 meets: block mod C
    uint32_t c15 = C - L;  // output that lane 15 finished in the block before
    uint32_t s0 = 0;       // sample of lane 0
    uint32_t activos = 0;  // lanes on a real sample and output, one bit each
    for (uint64_t b = 0; b < bloques; ++b) {
        if (rotacion) {
            E = desplaza(E, E);
            Yv = desplaza(Yv, Yn);
        } else {
            if (b >= L) {
                e.anillo_err[c15] = carril_15(E);
                e.anillo_y[c15] = carril_15(Yn);
            }
            E = desplaza(E, _mm512_set1_ps(e.anillo_err[c0]));
            Yv = desplaza(Yv, _mm512_set1_ps(e.anillo_y[c0]));
        }
        Yn = desplaza(Yn, cero);
        activos = ((activos << 1) | (b < bloques_con_muestra && c0 < M ? 1u : 0u)) & 0xffff;
        // Lane c0 starts sample s0: its prefixes start from x. Lanes up to c0
        // are on sample s0 and sum the outputs of s0 + 1; the others are
        // still on s0 − 1 and sum those of s0.
        float* w = e.pesos + uint64_t{c0} * B * L;
        const __mmask16 inicio = c0 < L ? static_cast<__mmask16>(1u << c0) : 0;
        if (estado_por_carril) {
            // Each lane keeps its own prefixes and next inputs, set by masked
            // stores when it starts a sample: no arithmetic port is taken.
            for (uint32_t r = 0; inicio != 0 && r < B; ++r) {
                _mm512_mask_store_ps(prefijos + r * L, inicio, _mm512_load_ps(actual + r * L));
                _mm512_mask_store_ps(proximas + r * L, inicio, _mm512_load_ps(siguiente + r * L));
            }
            for (uint32_t r = 0; r < B; ++r, w += L)
                paso(w, prefijos + r * L, _mm512_load_ps(prefijos + r * L),
                     _mm512_load_ps(proximas + r * L), static_cast<__mmask16>(activos & validos[r]),
                     Yv, vnu, E, Yn);
        } else {
            // Few slots per lane: the masked stores would reach the loads of
            // the same block too soon. Select in registers instead.
            const __mmask16 en_s0 = c0 >= L - 1 ? 0xffff : static_cast<__mmask16>((2u << c0) - 1);
            for (uint32_t r = 0; r < B; ++r, w += L) {
                const __m512 xa = _mm512_load_ps(actual + r * L);
                const __m512 xs = _mm512_load_ps(siguiente + r * L);
                paso(w, prefijos + r * L,
                     _mm512_mask_mov_ps(_mm512_load_ps(prefijos + r * L), inicio, xa),
                     _mm512_mask_blend_ps(en_s0, xa, xs),
                     static_cast<__mmask16>(activos & validos[r]), Yv, vnu, E, Yn);
            }
        }

        c15 = c15 + 1 == C ? 0 : c15 + 1;
        if (++c0 == C) {
            c0 = 0;
            ++s0;
            std::swap(actual, siguiente);
            traspone(e, s0 + 1 < nmuestras ? X[s0 + 1] : nullptr, siguiente);
        }
    }

    if (rotacion) {
        // After the last block lane i holds output (bloques − 1 − i) mod 16.
        alignas(64) float carriles[L];
        _mm512_store_ps(carriles, E);
        for (uint32_t j = 0; j < M; ++j) err[j] = carriles[(bloques - 1 - j) % L];
    } else {
        e.anillo_err[c15] = carril_15(E);
        for (uint32_t j = 0; j < M; ++j) err[j] = e.anillo_err[j];
    }
    e.actual = actual;
    e.siguiente = siguiente;
}
