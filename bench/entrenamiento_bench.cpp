// Training speed: the plain loop against the fast kernels on the same data,
// in one run, with the bits of the results compared.
//
//     build/bench/entrenamiento_bench
//
// For each size it prints the time per cycle of each kernel, its ratio to the
// plain loop and its arithmetic rate (9 useful flops per input-output pair per
// sample), and last the machine's peak single-precision rate without FMA.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "numeric/entrenamiento.hpp"
#include "numeric/sanger.hpp"

namespace {

using reloj = std::chrono::steady_clock;

struct tamano {
    uint32_t nmuestras, dimension, nsalidas;
};

// One cycle of a kernel from the pseudo-random start: its weights into W and
// its errors into err, for the comparison of bits.
void un_ciclo(nucleo n, matriz X, const tamano& t, matriz W, std::vector<float>& err) {
    std::vector<float> y(t.nsalidas);
    rand_w(W, t.dimension, t.nsalidas);
    std::fill(err.begin(), err.end(), 0.0f);
    entrenamiento e = empieza_entrenamiento(n, W, t.dimension, t.nsalidas);
    ciclo_entrenamiento(e, X, t.nmuestras, 0.001f, y.data(), err.data());
    termina_entrenamiento(e);
}

// Seconds per cycle of a kernel, the best of a few runs of ciclos cycles.
double mide(nucleo n, matriz X, const tamano& t, uint32_t ciclos) {
    double mejor = 1e30;
    matriz W = reserva_matriz(t.dimension, t.nsalidas);
    std::vector<float> y(t.nsalidas), err(t.nsalidas);
    for (int vez = 0; vez < 7; ++vez) {
        rand_w(W, t.dimension, t.nsalidas);
        entrenamiento e = empieza_entrenamiento(n, W, t.dimension, t.nsalidas);
        const auto inicio = reloj::now();
        for (uint32_t c = 0; c < ciclos; ++c) {
            std::fill(err.begin(), err.end(), 0.0f);
            ciclo_entrenamiento(e, X, t.nmuestras, 0.001f, y.data(), err.data());
        }
        const double s = std::chrono::duration<double>(reloj::now() - inicio).count() / ciclos;
        termina_entrenamiento(e);
        mejor = std::min(mejor, s);
        if (s * ciclos > 1.0) break;  // long enough to trust without repeats
    }
    libera_matriz(t.dimension, W);
    return mejor;
}

const char* nombre_nucleo(nucleo n) {
    switch (n) {
        case nucleo::simple: return "simple";
        case nucleo::prefijo: return "prefijo";
        case nucleo::avx2: return "avx2";
        case nucleo::avx512: return "avx512";
        case nucleo::portatil: return "portatil";
    }
    return "?";
}

bool mismos_pesos(matriz A, matriz B, const tamano& t) {
    for (uint32_t k = 0; k < t.dimension; ++k)
        if (std::memcmp(A[k], B[k], t.nsalidas * sizeof(float)) != 0) return false;
    return true;
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx512f"))) double pico_avx512() {
    // Six multiply chains and six add chains, independent, in registers: as
    // many operations as the pipes can start while each waits for its last.
    __m512 m0 = _mm512_set1_ps(1.0f), m1 = m0, m2 = m0, m3 = m0, m4 = m0, m5 = m0;
    __m512 a0 = _mm512_setzero_ps(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0;
    const __m512 f = _mm512_set1_ps(0.99999994f), s = _mm512_set1_ps(1e-7f);
    const long vueltas = 200'000'000;
    const auto inicio = reloj::now();
    for (long v = 0; v < vueltas; ++v) {
        m0 = _mm512_mul_ps(m0, f), m1 = _mm512_mul_ps(m1, f), m2 = _mm512_mul_ps(m2, f);
        m3 = _mm512_mul_ps(m3, f), m4 = _mm512_mul_ps(m4, f), m5 = _mm512_mul_ps(m5, f);
        a0 = _mm512_add_ps(a0, s), a1 = _mm512_add_ps(a1, s), a2 = _mm512_add_ps(a2, s);
        a3 = _mm512_add_ps(a3, s), a4 = _mm512_add_ps(a4, s), a5 = _mm512_add_ps(a5, s);
        // Keeps the compiler from folding the chains away.
        __asm__ volatile("" : "+v"(m0), "+v"(m1), "+v"(m2), "+v"(m3), "+v"(m4), "+v"(m5));
        __asm__ volatile("" : "+v"(a0), "+v"(a1), "+v"(a2), "+v"(a3), "+v"(a4), "+v"(a5));
    }
    const double t = std::chrono::duration<double>(reloj::now() - inicio).count();
    return vueltas * 12.0 * 16 / t;
}
#endif

}  // namespace

int main() {
    const tamano tamanos[] = {{1797, 64, 16}, {2000, 784, 32}, {5000, 256, 64}, {150, 4, 2}};
    std::printf("%-16s %-8s %12s %9s %10s %s\n", "size", "kernel", "ms/cycle", "speed-up",
                "GFLOP/s", "bits");
    for (const tamano& t : tamanos) {
        matriz X = reserva_matriz(t.nmuestras, t.dimension);
        std::srand(12345);
        for (uint32_t s = 0; s < t.nmuestras; ++s)
            for (uint32_t k = 0; k < t.dimension; ++k)
                X[s][k] = static_cast<float>(std::rand() % 2001 - 1000) / 1000.0f;
        matriz referencia = reserva_matriz(t.dimension, t.nsalidas);
        matriz W = reserva_matriz(t.dimension, t.nsalidas);
        std::vector<float> err_ref(t.nsalidas), err(t.nsalidas);
        const double flops = 9.0 * t.nmuestras * t.dimension * t.nsalidas;
        un_ciclo(nucleo::simple, X, t, referencia, err_ref);
        const double simple = mide(nucleo::simple, X, t, 1);
        char nombre[32];
        std::snprintf(nombre, sizeof nombre, "%ux%u/%u", t.nmuestras, t.dimension, t.nsalidas);
        std::printf("%-16s %-8s %12.3f %9s %10.2f\n", nombre, "simple", simple * 1e3, "1.0",
                    flops / simple * 1e-9);
        for (nucleo n : {nucleo::prefijo, nucleo::portatil, nucleo::avx2, nucleo::avx512}) {
            if (!nucleo_soportado(n)) continue;
            const uint32_t ciclos = std::max(1u, static_cast<uint32_t>(0.2 / simple * 10));
            un_ciclo(n, X, t, W, err);
            const double s = mide(n, X, t, std::min(ciclos, 200u));
            const bool iguales = mismos_pesos(W, referencia, t) &&
                                 std::memcmp(err.data(), err_ref.data(), err.size() * 4) == 0;
            std::printf("%-16s %-8s %12.3f %9.1f %10.2f %s%s\n", nombre, nombre_nucleo(n), s * 1e3,
                        simple / s, flops / s * 1e-9, iguales ? "same" : "DIFFERENT",
                        n == nucleo_preferido(t.dimension, t.nsalidas) ? "  (chosen)" : "");
        }
        libera_matriz(t.nmuestras, X);
        libera_matriz(t.dimension, referencia);
        libera_matriz(t.dimension, W);
    }
#if defined(__x86_64__) || defined(__i386__)
    if (nucleo_soportado(nucleo::avx512))
        std::printf("peak without FMA (AVX-512 multiply and add chains): %.1f GFLOP/s\n",
                    pico_avx512() * 1e-9);
#endif
    return 0;
}
