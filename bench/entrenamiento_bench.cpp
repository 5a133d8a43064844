// Training speed: the plain loop against the fast kernels on the same data,
// in one run, with the bits of the results compared.
//
//     build/bench/entrenamiento_bench [hilos | muertas]
//
// For each size it prints the time per cycle of each kernel, its ratio to the
// plain loop and its arithmetic rate (9 useful flops per input-output pair per
// sample), and last the machine's peak single-precision rate without FMA.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "numeric/entrenamiento.hpp"
#include "numeric/hilos.hpp"
#include "numeric/sanger.hpp"
#include "numeric/vectores.hpp"

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
    coloca_muestras(e, X, t.nmuestras);
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
        coloca_muestras(e, X, t.nmuestras);
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

// Samples of uniform values in [-1, 1], the same for every size.
matriz aleatorias(const tamano& t) {
    matriz X = reserva_matriz(t.nmuestras, t.dimension);
    std::srand(12345);
    for (uint32_t s = 0; s < t.nmuestras; ++s)
        for (uint32_t k = 0; k < t.dimension; ++k)
            X[s][k] = static_cast<float>(std::rand() % 2001 - 1000) / 1000.0f;
    return X;
}

// Seconds of one cycle of a training in progress.
double ciclo(entrenamiento& e, matriz X, const tamano& t, std::vector<float>& err,
             float nu = 0.0001f) {
    std::vector<float> y(t.nsalidas);
    std::fill(err.begin(), err.end(), 0.0f);
    const auto inicio = reloj::now();
    ciclo_entrenamiento(e, X, t.nmuestras, nu, y.data(), err.data());
    return std::chrono::duration<double>(reloj::now() - inicio).count();
}

// Nanoseconds for a cache line to go from this thread to another and back,
// the best of a few tries: what the threads' hand-offs wait for. On virtual
// machines it changes with where the host places their cores.
double ida_y_vuelta() {
    alignas(64) std::atomic<uint32_t> ida{0};
    alignas(64) std::atomic<uint32_t> vuelta{0};
    constexpr uint32_t veces = 20000;
    std::thread otro([&] {
        for (uint32_t i = 1; i <= 5 * veces; ++i) {
            while (ida.load(std::memory_order_acquire) != i) {
            }
            vuelta.store(i, std::memory_order_release);
        }
    });
    double mejor = 1e30;
    for (uint32_t vez = 0; vez < 5; ++vez) {
        const auto inicio = reloj::now();
        for (uint32_t i = vez * veces + 1; i <= (vez + 1) * veces; ++i) {
            ida.store(i, std::memory_order_release);
            while (vuelta.load(std::memory_order_acquire) != i) {
            }
        }
        mejor = std::min(mejor, std::chrono::duration<double>(reloj::now() - inicio).count());
    }
    otro.join();
    return mejor / veces * 1e9;
}

// The chosen kernel on one thread against the same on every core this
// process may use, outputs split among them: cycles of the two trainings
// in turn, so that both meet the same state of a shared machine, and the
// median of the ratios of each pair.
void hilos() {
    const uint32_t nucleos = nucleos_disponibles();
    std::printf("\none thread against %u, the chosen kernel, cycles in turn (medians)\n", nucleos);
    if (nucleos > 1)
        std::printf("a cache line goes to another core and back in %.0f ns\n", ida_y_vuelta());
    std::printf("%-16s %-8s %10s %10s %8s %s\n", "size", "kernel", "1 (ms)", "all (ms)", "ratio",
                "bits");
    const tamano tamanos[] = {{1797, 64, 16},  {2000, 784, 32}, {5000, 256, 64}, {2000, 784, 64},
                              {5000, 64, 32},  {5000, 128, 32}, {2000, 256, 32}, {300, 784, 32},
                              {1000, 784, 24}, {2000, 784, 48}, {500, 784, 64}};
    for (const tamano& t : tamanos) {
        matriz X = aleatorias(t);
        matriz uno = reserva_matriz(t.dimension, t.nsalidas);
        matriz todos = reserva_matriz(t.dimension, t.nsalidas);
        rand_w(uno, t.dimension, t.nsalidas);
        rand_w(todos, t.dimension, t.nsalidas);
        std::vector<float> err_uno(t.nsalidas), err_todos(t.nsalidas);
        const nucleo n = nucleo_preferido(t.dimension, t.nsalidas);
        entrenamiento a = empieza_entrenamiento(n, uno, t.dimension, t.nsalidas);
        entrenamiento b = empieza_entrenamiento(n, todos, t.dimension, t.nsalidas, nucleos);
        coloca_muestras(a, X, t.nmuestras);
        coloca_muestras(b, X, t.nmuestras);
        std::vector<double> ta, tb, razones;
        bool iguales = true;
        for (int par = 0; par < 16; ++par) {
            const double s1 = ciclo(a, X, t, err_uno), sn = ciclo(b, X, t, err_todos);
            iguales &= std::memcmp(err_uno.data(), err_todos.data(), t.nsalidas * 4) == 0;
            if (par == 0) continue;  // the first pair warms the caches
            ta.push_back(s1);
            tb.push_back(sn);
            razones.push_back(s1 / sn);
        }
        termina_entrenamiento(a);
        termina_entrenamiento(b);
        iguales &= mismos_pesos(uno, todos, t);
        const auto mediana = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        char nombre[32];
        std::snprintf(nombre, sizeof nombre, "%ux%u/%u", t.nmuestras, t.dimension, t.nsalidas);
        std::printf(
            "%-16s %-8s %10.3f %10.3f %8.2f %s%s\n", nombre, nombre_nucleo(n), mediana(ta) * 1e3,
            mediana(tb) * 1e3, mediana(razones), iguales ? "same" : "DIFFERENT",
            hilos_preferidos(n, t.dimension, t.nsalidas, t.nmuestras) > 1 ? "  (chosen)" : "");
        libera_matriz(t.nmuestras, X);
        libera_matriz(t.dimension, uno);
        libera_matriz(t.dimension, todos);
    }
}

// Images of lado × lado pixels: a few soft blobs each, of peak brillo, with
// a blank border of borde pixels; with raras > 0, that share of the images
// have their border lit too (inputs zero in most samples but not all).
void imagenes(matriz X, uint32_t n, uint32_t lado, uint32_t borde, double raras, float brillo) {
    std::srand(777);
    const auto azar = [] { return static_cast<float>(std::rand() & 0xffff) / 65536.0f; };
    for (uint32_t s = 0; s < n; ++s) {
        const bool rara = azar() < raras;
        float* x = X[s];
        std::fill(x, x + lado * lado, 0.0f);
        for (int manchas = 0; manchas < 3; ++manchas) {
            const float cx = azar() * lado, cy = azar() * lado, r = 1.0f + azar() * lado / 4.0f;
            for (uint32_t f = 0; f < lado; ++f)
                for (uint32_t c = 0; c < lado; ++c) {
                    const float dx = (c - cx) / r, dy = (f - cy) / r;
                    x[f * lado + c] += brillo / (1.0f + dx * dx + dy * dy);
                }
        }
        for (uint32_t f = 0; f < lado; ++f)
            for (uint32_t c = 0; c < lado; ++c) {
                const bool en_borde =
                    f < borde || c < borde || f + borde >= lado || c + borde >= lado;
                if (en_borde && !rara) x[f * lado + c] = 0.0f;
            }
    }
}

// Where a training keeps its dead inputs: in the kernel, apart, or as the
// program does on this CPU (apart, or apart only while timed faster).
enum class muertas_en { nucleo, aparte, programa };

// Whole trainings as the program runs them (nu falling from alfa over the
// cycles, the kernel it chooses), each with its own samples and dead inputs
// where it says, taken a cycle each in turn so that a busy moment of the
// machine falls on all of them alike. Returns each one's seconds; W[i]
// receives training i's weights.
std::vector<double> entrena_en_turno(std::span<const matriz> X, std::span<const muertas_en> donde,
                                     std::span<const matriz> W, const tamano& t, float alfa,
                                     uint32_t ciclos) {
    const size_t n = X.size();
    std::vector<entrenamiento> e(n);
    std::vector<double> segundos(n);
    std::vector<float> err(t.nsalidas);
    const nucleo elegido = nucleo_preferido(t.dimension, t.nsalidas);
    for (size_t i = 0; i < n; ++i) {
        rand_w(W[i], t.dimension, t.nsalidas);
        const auto inicio = reloj::now();
        e[i] = empieza_entrenamiento(elegido, W[i], t.dimension, t.nsalidas);
        coloca_muestras(e[i], X[i], t.nmuestras);
        if (donde[i] != muertas_en::nucleo)
            separa_muertas(e[i], X[i], t.nmuestras,
                           donde[i] == muertas_en::aparte || subnormales_lentos());
        segundos[i] += std::chrono::duration<double>(reloj::now() - inicio).count();
    }
    float nu = alfa;
    for (uint32_t c = 0; c < ciclos; ++c) {
        for (size_t i = 0; i < n; ++i) segundos[i] += ciclo(e[i], X[i], t, err, nu);
        nu = nu - alfa / static_cast<float>(ciclos);
    }
    for (entrenamiento& uno : e) termina_entrenamiento(uno);
    return segundos;
}

// Image-like samples centred by column (-m -v), whose blank pixels stay zero
// in every sample, against the same samples centred by row (no input zero).
void muertas() {
    struct caso {
        const char* nombre;
        uint32_t lado, borde, nmuestras, nsalidas, ciclos;
        float alfa;
        double raras;
        float brillo;
    } casos[] = {
        // At full brightness the 28×28 trainings diverge at these rates; at
        // 0.3 they converge, and the first outputs' dead weights sink to
        // a few units of 2^-149 within two cycles, as on scanned digits.
        {"8x8, corners blank", 8, 0, 1797, 16, 200, 0.005f, 0.0, 1.0f},
        {"28x28, border 1", 28, 1, 2000, 32, 20, 0.003f, 0.0, 0.3f},
        {"28x28, border 3", 28, 3, 2000, 32, 20, 0.003f, 0.0, 0.3f},
        {"28x28, border 1 lit in 2%", 28, 1, 2000, 32, 20, 0.003f, 0.02, 0.3f},
        // Other sizes with a blank border, for the choice of the way on a
        // core without the assist.
        {"8x8, border 1", 8, 1, 1797, 16, 200, 0.005f, 0.0, 1.0f},
        {"12x12, border 1", 12, 1, 1797, 16, 100, 0.005f, 0.0, 0.5f},
        {"16x16, border 1", 16, 1, 1797, 16, 60, 0.004f, 0.0, 0.3f},
        {"20x20, border 1", 20, 1, 2000, 16, 40, 0.003f, 0.0, 0.3f},
        {"16x16, border 2, 32 out", 16, 2, 2000, 32, 40, 0.003f, 0.0, 0.3f},
        {"28x28, border 2, 64 out", 28, 2, 2000, 64, 10, 0.002f, 0.0, 0.3f},
    };
    std::printf(
        "\ninputs zero in every sample (-m -v) against the same samples row-centred,\n"
        "trained in turn a cycle each\n");
    std::printf("on this CPU subnormal multiplications are %s\n",
                subnormales_lentos() ? "slow: the program keeps dead inputs apart"
                                     : "not slow: the program keeps dead inputs apart only while "
                                       "timed faster");
    std::printf("%-28s %6s %9s %9s %9s %9s %9s %9s %9s %s\n", "samples", "dead", "row (s)",
                "dead (s)", "apart (s)", "prog (s)", "dead/row", "apart/row", "prog/row", "bits");
    for (const caso& c : casos) {
        const tamano t{c.nmuestras, c.lado * c.lado, c.nsalidas};
        // The same images row-centred, and centred by column with the dead
        // inputs in the kernels, apart, and as the program keeps them.
        const matriz fila = reserva_matriz(t.nmuestras, t.dimension);
        const matriz columna = reserva_matriz(t.nmuestras, t.dimension);
        imagenes(fila, t.nmuestras, c.lado, c.borde, c.raras, c.brillo);
        imagenes(columna, t.nmuestras, c.lado, c.borde, c.raras, c.brillo);
        ajusta(fila, t.nmuestras, t.dimension);
        if (c.borde == 0)  // 8×8 digits: the corners are blank
            for (uint32_t s = 0; s < t.nmuestras; ++s)
                columna[s][0] = columna[s][7] = columna[s][56] = 0.0f;
        vector medias = reserva_vector(t.dimension);
        media(columna, t.nmuestras, t.dimension, medias);
        mean0(t.nmuestras, t.dimension, columna, medias);
        uint32_t nmuertas = 0;
        for (uint32_t k = 0; k < t.dimension; ++k)
            nmuertas += entrada_muerta(columna, t.nmuestras, k);

        const matriz X[] = {fila, columna, columna, columna};
        const muertas_en donde[] = {muertas_en::nucleo, muertas_en::nucleo, muertas_en::aparte,
                                    muertas_en::programa};
        matriz W[std::size(X)];
        for (matriz& w : W) w = reserva_matriz(t.dimension, t.nsalidas);
        const std::vector<double> s = entrena_en_turno(X, donde, W, t, c.alfa, c.ciclos);
        // A training that diverged times arithmetic on infinities and NaNs,
        // which says nothing of the cost of subnormal numbers.
        const bool finitos = std::all_of(std::begin(W), std::end(W), [&](matriz w) {
            for (uint32_t k = 0; k < t.dimension; ++k)
                for (uint32_t j = 0; j < t.nsalidas; ++j)
                    if (!std::isfinite(w[k][j])) return false;
            return true;
        });
        const bool mismos = mismos_pesos(W[1], W[2], t) && mismos_pesos(W[1], W[3], t);
        std::printf("%-28s %6u %9.3f %9.3f %9.3f %9.3f %9.2f %9.2f %9.2f %s%s\n", c.nombre,
                    nmuertas, s[0], s[1], s[2], s[3], s[1] / s[0], s[2] / s[0], s[3] / s[0],
                    mismos ? "same" : "DIFFERENT", finitos ? "" : "  (diverged: not a measure)");
        libera_vector(medias);
        libera_matriz(t.nmuestras, fila);
        libera_matriz(t.nmuestras, columna);
        for (matriz w : W) libera_matriz(t.dimension, w);
    }
}

}  // namespace

int main(int argc, char** argv) {
    {
        char cpu[256] = "unknown CPU";
        if (std::FILE* f = std::fopen("/proc/cpuinfo", "r")) {
            char linea[512];
            while (std::fgets(linea, sizeof linea, f))
                if (std::strncmp(linea, "model name", 10) == 0) {
                    std::snprintf(cpu, sizeof cpu, "%s", std::strchr(linea, ':') + 2);
                    cpu[std::strcspn(cpu, "\n")] = '\0';
                    break;
                }
            std::fclose(f);
        }
        std::printf("CPU: %s\n", cpu);
    }
    // "hilos": only one thread against all.
    if (argc > 1 && std::strcmp(argv[1], "hilos") == 0) {
        hilos();
        return 0;
    }
    // "muertas": only the inputs that are zero in every sample.
    if (argc > 1 && std::strcmp(argv[1], "muertas") == 0) {
        muertas();
        return 0;
    }
    const tamano tamanos[] = {{1797, 64, 16}, {2000, 784, 32}, {5000, 256, 64}, {150, 4, 2}};
    std::printf("%-16s %-8s %12s %9s %10s %s\n", "size", "kernel", "ms/cycle", "speed-up",
                "GFLOP/s", "bits");
    for (const tamano& t : tamanos) {
        matriz X = aleatorias(t);
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
    hilos();
    muertas();
#if defined(__x86_64__) || defined(__i386__)
    if (nucleo_soportado(nucleo::avx512))
        std::printf("peak without FMA (AVX-512 multiply and add chains): %.1f GFLOP/s\n",
                    pico_avx512() * 1e-9);
#endif
    return 0;
}
