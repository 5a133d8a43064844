// Sanger's rule on a skewed wavefront, with the inputs in the lanes of one
// vector instruction: 16 with AVX-512, 8 with AVX2, 4 in the compiler's
// vector types elsewhere. Why it gives the plain loop's bits is told with the
// other kernels, in numeric/entrenamiento.hpp.
//
// Lane i owns the inputs k = i·B + r (B slots, r = 0 … B−1) and walks the
// outputs j = 0, 1, … of each sample, one block of B steps per output, lane i
// one block behind lane i−1: when lane i meets output j, lane i−1 has just
// finished it and hands over err[j] and the next sample's partial y[j].
// Lanes on later outputs run ahead into the next sample, so samples follow
// each other without a separate pass.
//
// The kernel is written once (onda_nucleo.inc) over a handful of vector
// operations, and compiled for each instruction set with that set's own.
#include "numeric/onda.hpp"

#if SANGER_X86
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "numeric/en_orden.hpp"
#include "numeric/hilos.hpp"

// ThreadSanitizer does not see the stores of the instructions that bypass
// the caches, and the threads' hand-off takes plain stores under it.
#if defined(__SANITIZE_THREAD__)
#define SANGER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SANGER_TSAN 1
#endif
#endif
#ifndef SANGER_TSAN
#define SANGER_TSAN 0
#endif

namespace {

// Makes the stores past the caches before it visible to other cores before
// any store after it.
inline void termina_lejos() {
#if SANGER_X86
    _mm_sfence();
#endif
}

// Places sample x in lane order: slot r of lane i holds x[i·B + r]. Slots past
// the dimension stay as they are (zero); with no sample every slot is zero.
void traspone(const entrenamiento& e, const float* x, float* destino) {
    const uint32_t L = e.carriles;
    if (x == nullptr) {
        std::fill(destino, destino + uint64_t{e.filas} * L, 0.0f);
        return;
    }
    // Lane i's inputs are contiguous in x: x[i·B … i·B + B − 1].
    const uint32_t B = e.filas;
    for (uint32_t i = 0; i * B < e.dimension; ++i) {
        const float* origen = x + i * B;
        const uint32_t n = std::min(B, e.dimension - i * B);
        float* d = destino + i;
        for (uint32_t r = 0; r < n; ++r, d += L) *d = origen[r];
    }
}

// The first sample's outputs from the weights in wavefront order, summed in
// ascending k as the plain loop does.
void salida_inicial(const entrenamiento& e, const float* x, float* y) {
    const uint32_t B = e.filas, C = e.columnas, L = e.carriles;
    for (uint32_t j = 0; j < C; ++j) y[j] = 0.0f;
    for (uint32_t k = 0; k < e.dimension; ++k) {
        const uint32_t i = k / B, r = k % B;
        // Output j of input k sits at turn position (j + i) mod C.
        uint32_t c = i % C;
        for (uint32_t j = 0; j < e.nsalidas; ++j) {
            y[j] = mas(por(e.pesos[(uint64_t{c} * B + r) * L + i], x[k]), y[j]);
            c = c + 1 == C ? 0 : c + 1;
        }
    }
}

}  // namespace

#if SANGER_X86
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f")
#endif
namespace avx512 {

constexpr uint32_t L = 16;
using real = __m512;
using mascara = __mmask16;  // one bit per lane that counts

inline real carga(const float* p) {
    return _mm512_load_ps(p);
}
inline void guarda(float* p, real v) {
    _mm512_store_ps(p, v);
}
// A store past the caches, for another core to read (guarda_lejos in the
// portable set says more).
inline void guarda_lejos(float* p, real v) {
    SANGER_TSAN ? guarda(p, v) : _mm512_stream_ps(p, v);
}
inline void guarda_si(float* p, mascara m, real v) {
    _mm512_mask_store_ps(p, m, v);
}
// a·b and a + b with a first, as numeric/en_orden.hpp explains. b may be
// read from memory by the operation itself: one instruction fewer than a
// load and the operation (3 to 6 % faster at 784 inputs on AMD Zen 5).
inline real mul(real a, real b) {
    __asm__("vmulps %2, %1, %0" : "=v"(a) : "v"(a), "vm"(b));
    return a;
}
inline real suma(real a, real b) {
    __asm__("vaddps %2, %1, %0" : "=v"(a) : "v"(a), "vm"(b));
    return a;
}
inline real resta(real a, real b) {
    return _mm512_sub_ps(a, b);
}
// v + acc in the lanes of m, acc elsewhere.
inline real suma_si(real acc, mascara m, real v) {
    __asm__("vaddps %0, %2, %0%{%1%}" : "+v"(acc) : "Yk"(m), "v"(v));
    return acc;
}
// A choice of lanes held in a vector register: only seven mask registers
// can mask, and GCC reloads from the stack those it cannot keep.
using seleccion = __m512i;
inline seleccion selecciona(mascara m) {
    return _mm512_maskz_set1_epi32(m, -1);
}
// b in the lanes of m, a elsewhere, into a's register (a table of m ? b : a
// indexed by the bits of a, m and b).
inline real elige(real a, seleccion m, real b) {
    return _mm512_castsi512_ps(
        _mm512_ternarylogic_epi32(_mm512_castps_si512(a), m, _mm512_castps_si512(b), 0xb8));
}
inline real difunde(float x) {
    return _mm512_set1_ps(x);
}
inline real cero() {
    return _mm512_setzero_ps();
}
inline mascara mascara_de(uint32_t bits) {
    return static_cast<mascara>(bits);
}
// Every lane moves up by one; lane 0 takes the last lane of entrada.
inline real desplaza(real v, real entrada) {
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(0xffff, _mm512_castps_si512(v),
                                                         _mm512_castps_si512(entrada), 15));
}
inline float ultimo(real v) {
    return _mm_cvtss_f32(_mm_permute_ps(_mm512_maskz_extractf32x4_ps(0xf, v, 3), 0xff));
}
inline float de_carril(real v, uint32_t i) {
    return _mm512_cvtss_f32(
        _mm512_maskz_permutexvar_ps(0xffff, _mm512_set1_epi32(static_cast<int>(i)), v));
}

// traspone in registers: sixteen slots at a time, each lane's run of inputs
// loaded whole and turned into sixteen slots by the usual three rounds of
// shuffles.
inline void coloca(const entrenamiento& e, const float* x, float* destino) {
    if (x == nullptr) return traspone(e, x, destino);
    const uint32_t B = e.filas, D = e.dimension;
    for (uint32_t r0 = 0; r0 < B; r0 += L) {
        __m512 f[L], t[L];
        for (uint32_t i = 0; i < L; ++i) {
            // Lane i's inputs from slot r0, and after them the next lane's,
            // which go to slots past B and are not stored; near the end of x,
            // a masked load (slow on some CPUs) stops at the last input.
            const uint64_t inicio = uint64_t{i} * B + r0;
            if (inicio + L <= D) {
                f[i] = _mm512_loadu_ps(x + inicio);
            } else {
                const uint32_t n = inicio >= D ? 0 : static_cast<uint32_t>(D - inicio);
                f[i] = _mm512_maskz_loadu_ps(static_cast<__mmask16>((1u << n) - 1),
                                             x + std::min<uint64_t>(inicio, D));
            }
        }
        // After each round, f or t holds in vector 4a + b, at place 4q + c
        // of the 128-bit quarter q, the input of slot r0 + 4q + b of lane 4a + c.
        for (uint32_t i = 0; i < L; i += 2) {
            t[i] = _mm512_maskz_unpacklo_ps(0xffff, f[i], f[i + 1]);
            t[i + 1] = _mm512_maskz_unpackhi_ps(0xffff, f[i], f[i + 1]);
        }
        for (uint32_t i = 0; i < L; i += 4) {
            f[i] = _mm512_maskz_shuffle_ps(0xffff, t[i], t[i + 2], 0x44);
            f[i + 1] = _mm512_maskz_shuffle_ps(0xffff, t[i], t[i + 2], 0xee);
            f[i + 2] = _mm512_maskz_shuffle_ps(0xffff, t[i + 1], t[i + 3], 0x44);
            f[i + 3] = _mm512_maskz_shuffle_ps(0xffff, t[i + 1], t[i + 3], 0xee);
        }
        for (uint32_t b = 0; b < 4; ++b) {
            const __m512 a = _mm512_maskz_shuffle_f32x4(0xffff, f[b], f[4 + b], 0x88);
            const __m512 c = _mm512_maskz_shuffle_f32x4(0xffff, f[b], f[4 + b], 0xdd);
            const __m512 g = _mm512_maskz_shuffle_f32x4(0xffff, f[8 + b], f[12 + b], 0x88);
            const __m512 h = _mm512_maskz_shuffle_f32x4(0xffff, f[8 + b], f[12 + b], 0xdd);
            t[b] = _mm512_maskz_shuffle_f32x4(0xffff, a, g, 0x88);
            t[4 + b] = _mm512_maskz_shuffle_f32x4(0xffff, c, h, 0x88);
            t[8 + b] = _mm512_maskz_shuffle_f32x4(0xffff, a, g, 0xdd);
            t[12 + b] = _mm512_maskz_shuffle_f32x4(0xffff, c, h, 0xdd);
        }
        for (uint32_t r = 0; r < L && r0 + r < B; ++r) guarda(destino + (r0 + r) * L, t[r]);
    }
}

#include "numeric/onda_nucleo.inc"

}  // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {

constexpr uint32_t L = 8;
using real = __m256;
using mascara = __m256;  // all ones in each lane that counts

inline real carga(const float* p) {
    return _mm256_load_ps(p);
}
inline void guarda(float* p, real v) {
    _mm256_store_ps(p, v);
}
inline void guarda_lejos(float* p, real v) {
    SANGER_TSAN ? guarda(p, v) : _mm256_stream_ps(p, v);
}
// A blend and a whole store: AMD's masked stores are slow.
inline void guarda_si(float* p, mascara m, real v) {
    _mm256_store_ps(p, _mm256_blendv_ps(_mm256_load_ps(p), v, m));
}
inline real mul(real a, real b) {
    __asm__("vmulps %2, %1, %0" : "=x"(a) : "x"(a), "xm"(b));
    return a;
}
inline real suma(real a, real b) {
    __asm__("vaddps %2, %1, %0" : "=x"(a) : "x"(a), "xm"(b));
    return a;
}
inline real resta(real a, real b) {
    return _mm256_sub_ps(a, b);
}
inline real suma_si(real acc, mascara m, real v) {
    return _mm256_blendv_ps(acc, suma(v, acc), m);
}
using seleccion = mascara;
inline seleccion selecciona(mascara m) {
    return m;
}
inline real elige(real a, mascara m, real b) {
    return _mm256_blendv_ps(a, b, m);
}
inline real difunde(float x) {
    return _mm256_set1_ps(x);
}
inline real cero() {
    return _mm256_setzero_ps();
}
inline mascara mascara_de(uint32_t bits) {
    const __m256i bit = _mm256_set_epi32(128, 64, 32, 16, 8, 4, 2, 1);
    const __m256i en = _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), bit);
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(en, bit));
}
inline real desplaza(real v, real entrada) {
    const __m256i arriba = _mm256_set_epi32(6, 5, 4, 3, 2, 1, 0, 7);
    return _mm256_blend_ps(_mm256_permutevar8x32_ps(v, arriba),
                           _mm256_permutevar8x32_ps(entrada, arriba), 1);
}
inline float ultimo(real v) {
    return _mm_cvtss_f32(_mm_permute_ps(_mm256_extractf128_ps(v, 1), 0xff));
}
inline float de_carril(real v, uint32_t i) {
    return _mm256_cvtss_f32(_mm256_permutevar8x32_ps(v, _mm256_set1_epi32(static_cast<int>(i))));
}

inline void coloca(const entrenamiento& e, const float* x, float* destino) {
    traspone(e, x, destino);
}

#include "numeric/onda_nucleo.inc"

}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

bool ciclo_onda_avx512(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err) {
    return avx512::ciclo(e, X, nmuestras, nu, err);
}

bool ciclo_onda_avx2(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err) {
    return avx2::ciclo(e, X, nmuestras, nu, err);
}
#endif  // SANGER_X86

// Four lanes in the compiler's own vector types: NEON on aarch64, SSE2 on x86,
// and on any other target whatever vector unit it has, or plain scalar code.
// Every operation is one IEEE operation per lane, so the bits are those of
// the other sets.
namespace portatil {

constexpr uint32_t L = 4;
using real = float __attribute__((vector_size(16)));
using mascara = int32_t __attribute__((vector_size(16)));  // all ones in each lane that counts

inline real carga(const float* p) {
    real v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void guarda(float* p, real v) {
    std::memcpy(p, &v, sizeof v);
}
// A store past the caches where there is one, at an address aligned to the
// vector, of values that another core will read: it needs no trip to that
// core for the line, which a plain store waits for when the other core has
// read the line before. Such stores become visible to other cores in an
// order of their own, and the counts that tell of them follow a fence
// (termina_lejos).
inline void guarda_lejos(float* p, real v) {
#if SANGER_X86
    if (!SANGER_TSAN) return _mm_stream_ps(p, v);
#endif
    guarda(p, v);
}
using seleccion = mascara;
inline seleccion selecciona(mascara m) {
    return m;
}
// b in the lanes of m, a elsewhere: a choice of bits, no arithmetic.
inline real elige(real a, mascara m, real b) {
    const mascara bits_a = __builtin_bit_cast(mascara, a), bits_b = __builtin_bit_cast(mascara, b);
    return __builtin_bit_cast(real, (bits_b & m) | (bits_a & ~m));
}
inline void guarda_si(float* p, mascara m, real v) {
    guarda(p, elige(carga(p), m, v));
}
// a·b and a + b with a first, as numeric/en_orden.hpp explains; on x86 the
// destination is the first operand.
inline real mul(real a, real b) {
#if defined(__aarch64__)
    __asm__("fmul %0.4s, %1.4s, %2.4s" : "=w"(a) : "w"(a), "w"(b));
#elif SANGER_X86
    __asm__("mulps %1, %0" : "+x"(a) : "x"(b));
#else
    a = a * b;
#endif
    return a;
}
inline real suma(real a, real b) {
#if defined(__aarch64__)
    __asm__("fadd %0.4s, %1.4s, %2.4s" : "=w"(a) : "w"(a), "w"(b));
#elif SANGER_X86
    __asm__("addps %1, %0" : "+x"(a) : "x"(b));
#else
    a = a + b;
#endif
    return a;
}
inline real resta(real a, real b) {
    return a - b;
}
inline real suma_si(real acc, mascara m, real v) {
    return elige(acc, m, suma(v, acc));
}
inline real difunde(float x) {
    return real{x, x, x, x};
}
inline real cero() {
    return real{};
}
inline mascara mascara_de(uint32_t bits) {
    const mascara bit = {1, 2, 4, 8};
    const int32_t b = static_cast<int32_t>(bits);
    return (mascara{b, b, b, b} & bit) == bit;
}
// Every lane moves up by one; lane 0 takes the last lane of entrada.
inline real desplaza(real v, real entrada) {
    return __builtin_shufflevector(entrada, v, 3, 4, 5, 6);
}
inline float ultimo(real v) {
    return v[3];
}
inline float de_carril(real v, uint32_t i) {
    return v[i];
}

inline void coloca(const entrenamiento& e, const float* x, float* destino) {
    traspone(e, x, destino);
}

#include "numeric/onda_nucleo.inc"

}  // namespace portatil

bool ciclo_onda_portatil(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector err) {
    return portatil::ciclo(e, X, nmuestras, nu, err);
}

void coloca_muestras_onda(const entrenamiento& e, matriz X, uint32_t nmuestras, float* destino) {
#if SANGER_X86
    if (e.tipo == nucleo::avx512) return avx512::coloca_todas(e, X, nmuestras, destino);
    if (e.tipo == nucleo::avx2) return avx2::coloca_todas(e, X, nmuestras, destino);
#endif
    portatil::coloca_todas(e, X, nmuestras, destino);
}
