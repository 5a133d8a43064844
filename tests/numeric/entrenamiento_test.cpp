// Every kernel against the plain loop, bit for bit, on many random networks,
// on inputs that are zero in every sample (kept apart from the vector work),
// and where products and sums meet two NaNs, whose sign is the first one's.
#include "numeric/entrenamiento.hpp"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "numeric/hilos.hpp"
#include "numeric/sanger.hpp"
#include "tests/comun.hpp"

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

// Equal bits; of a NaN the payload is the platform's, but the sign must agree.
bool mismos_bits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0 ||
           (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
}

// How a test trains: the dead inputs kept apart or not, nu multiplied by
// caida after each cycle, the samples placed in lane order once for the
// training (as the program does) or in every cycle, the threads changed
// before every cycle, between one and all, or left to the training, and the
// dead inputs trained in the kernel every other cycle, from the first.
struct forma {
    bool aparte = false;
    float caida = 0.75f;
    bool por_ciclo = false;
    bool alterna = false;
    bool juntas_a_ratos = false;
};

// A kernel, and the threads it may split the outputs among.
struct nucleo_en_hilos {
    nucleo n;
    uint32_t hilos = 1;
};

// Trains W in place for some cycles with the kernel; returns every cycle's
// err, one value per output.
std::vector<float> entrena(nucleo_en_hilos n, const muestras& X, muestras& W, uint32_t ciclos,
                           float nu, forma f = {}) {
    std::vector<float> y(W.cols + 1), err(W.cols + 1), errores;
    entrenamiento e = empieza_entrenamiento(n.n, W.m, W.filas, W.cols, n.hilos);
    if (!f.por_ciclo) coloca_muestras(e, X.m, X.filas);
    if (f.aparte) separa_muertas(e, X.m, X.filas);
    for (uint32_t c = 0; c < ciclos; ++c) {
        if (f.alterna) cambia_hilos(e, c % 2 == 0 ? 1 : n.hilos);
        if (f.juntas_a_ratos) e.forma.muertas_juntas = c % 2 == 0;
        std::fill(err.begin(), err.end(), 0.0f);
        ciclo_entrenamiento(e, X.m, X.filas, nu, y.data(), err.data());
        // None was worked apart (on threads the training may have changed
        // them since, and with them its cut).
        if (f.juntas_a_ratos && e.forma.muertas_juntas && e.hilos == 1) {
            EXPECT_EQ(e.corte_muertas, 0u);
        }
        errores.insert(errores.end(), err.begin(), err.begin() + W.cols);
        nu = nu * f.caida;
    }
    termina_entrenamiento(e);
    return errores;
}

// The kernel trained each way of formas, which share their caida, against
// the plain loop.
void compara_formas(nucleo_en_hilos n, const muestras& X, const muestras& W0, uint32_t ciclos,
                    float nu, std::initializer_list<forma> formas) {
    muestras esperada(W0);
    std::vector<float> err_esperado =
        entrena({nucleo::simple}, X, esperada, ciclos, nu, *formas.begin());
    for (const forma& f : formas) {
        muestras obtenida(W0);
        std::vector<float> err_obtenido = entrena(n, X, obtenida, ciclos, nu, f);
        for (size_t i = 0; i < err_esperado.size(); ++i)
            ASSERT_TRUE(mismos_bits(err_esperado[i], err_obtenido[i]))
                << "err " << i << ": " << err_esperado[i] << " vs " << err_obtenido[i];
        for (uint32_t k = 0; k < W0.filas; ++k)
            for (uint32_t j = 0; j < W0.cols; ++j)
                ASSERT_TRUE(mismos_bits(esperada.m[k][j], obtenida.m[k][j]))
                    << "W[" << k << "][" << j << "]: " << esperada.m[k][j] << " vs "
                    << obtenida.m[k][j];
    }
}

void compara(nucleo_en_hilos n, const muestras& X, const muestras& W0, uint32_t ciclos, float nu,
             forma f = {}) {
    compara_formas(n, X, W0, ciclos, nu, {f});
}

// Every kernel, the wavefronts also with their outputs split among two and
// three threads (more threads than this machine may have cores).
class Nucleo : public testing::TestWithParam<nucleo_en_hilos> {
   protected:
    void SetUp() override {
        if (!nucleo_soportado(GetParam().n)) GTEST_SKIP() << "this CPU cannot run the kernel";
    }
};

std::string nombre_nucleo(const testing::TestParamInfo<nucleo_en_hilos>& info) {
    const char* nombres[] = {"simple", "prefijo", "avx2", "avx512", "portatil"};
    return nombres[static_cast<int>(info.param.n)] +
           (info.param.hilos > 1 ? "_" + std::to_string(info.param.hilos) + "_hilos" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Todos, Nucleo,
    testing::Values(nucleo_en_hilos{nucleo::prefijo}, nucleo_en_hilos{nucleo::avx2},
                    nucleo_en_hilos{nucleo::avx2, 2}, nucleo_en_hilos{nucleo::avx2, 3},
                    nucleo_en_hilos{nucleo::avx512}, nucleo_en_hilos{nucleo::avx512, 2},
                    nucleo_en_hilos{nucleo::avx512, 3}, nucleo_en_hilos{nucleo::portatil},
                    nucleo_en_hilos{nucleo::portatil, 2}, nucleo_en_hilos{nucleo::portatil, 3}),
    nombre_nucleo);

// Sizes on both sides of every lane and block boundary, outputs above inputs,
// and inputs wide enough for each lane to keep its own state.
TEST_P(Nucleo, SameBitsAsThePlainLoopOnRandomNetworks) {
    std::mt19937 azar(20261208);
    std::uniform_real_distribution<float> valor(-2.0f, 2.0f);
    for (int prueba = 0; prueba < 300; ++prueba) {
        const uint32_t dimension = prueba % 6 == 5 ? 170 + azar() % 600 : 1 + azar() % 70;
        const uint32_t nsalidas = azar() % 40;
        const uint32_t nmuestras = azar() % 12;
        SCOPED_TRACE(testing::Message() << dimension << " inputs, " << nsalidas << " outputs, "
                                        << nmuestras << " samples");
        muestras X(nmuestras, dimension), W(dimension, nsalidas);
        for (uint32_t s = 0; s < nmuestras; ++s)
            for (uint32_t k = 0; k < dimension; ++k) X.m[s][k] = azar() % 8 == 0 ? 0 : valor(azar);
        rand_w(W.m, dimension, nsalidas);
        const uint32_t ciclos = 1 + azar() % 3;
        compara(GetParam(), X, W, ciclos, 0.01f);
        compara(GetParam(), X, W, ciclos, 0.01f, {.por_ciclo = true});
        compara(GetParam(), X, W, ciclos, 0.01f, {.aparte = true, .por_ciclo = prueba % 2 == 0});
        if (GetParam().hilos > 1)
            compara(GetParam(), X, W, ciclos + 1, 0.01f,
                    {.aparte = prueba % 3 == 0, .por_ciclo = prueba % 2 == 0, .alterna = true});
        if (HasFatalFailure()) return;
    }
}

// Each kind of awkward data on its own, at sizes around the lane width, so
// that one NaN does not hide the others. Where the plain loop overflows to an
// infinite error, padding lanes must not turn it into a NaN (the stop test
// treats the two differently).
TEST_P(Nucleo, SameBitsOnDegenerateData) {
    struct caso {
        const char* nombre;
        uint32_t nmuestras;
        float nu;
        bool error_infinito;  // the plain loop's first error is +inf
        float (*valor)(uint32_t s, uint32_t k);
    } casos[] = {
        {"zero rows between small ones", 4, 0.05f, false,
         [](uint32_t s, uint32_t k) { return s % 2 ? 0.0f : static_cast<float>(k % 5) - 2.0f; }},
        {"diverging", 4, 10.0f, false,
         [](uint32_t s, uint32_t k) { return 100.0f * static_cast<float>((k + s) % 3); }},
        {"outputs overflow", 1, 0.1f, true, [](uint32_t, uint32_t) { return 3e38f; }},
        {"one infinity", 4, 0.05f, false,
         [](uint32_t s, uint32_t k) { return s == 2 && k == 3 ? inf : 0.5f; }},
        {"one NaN", 4, 0.05f, false,
         [](uint32_t s, uint32_t k) { return s == 1 && k == 0 ? nan : -0.5f; }},
    };
    for (const caso& c : casos) {
        for (uint32_t dimension : {4u, 15u, 16u, 17u, 40u, 200u}) {
            for (uint32_t nsalidas : {1u, 5u, 16u, 17u, 33u}) {
                SCOPED_TRACE(testing::Message() << c.nombre << ", " << dimension << " inputs, "
                                                << nsalidas << " outputs");
                muestras X(c.nmuestras, dimension), W(dimension, nsalidas);
                rand_w(W.m, dimension, nsalidas);
                for (uint32_t s = 0; s < c.nmuestras; ++s)
                    for (uint32_t k = 0; k < dimension; ++k) X.m[s][k] = c.valor(s, k);
                if (c.error_infinito) {
                    muestras copia(W);
                    EXPECT_EQ(entrena({nucleo::simple}, X, copia, 1, c.nu)[0], inf);
                }
                compara(GetParam(), X, W, 3, c.nu);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Whatever kernel is chosen for a size, this CPU runs it and it gives the
// plain loop's bits there.
TEST(NucleoPreferido, RunsHereWithThePlainLoopsBits) {
    std::mt19937 azar(5);
    std::uniform_real_distribution<float> valor(-2.0f, 2.0f);
    for (uint32_t dimension : {1u, 4u, 15u, 16u, 17u, 64u, 784u}) {
        for (uint32_t nsalidas : {1u, 3u, 4u, 5u, 16u, 33u}) {
            SCOPED_TRACE(testing::Message() << dimension << " inputs, " << nsalidas << " outputs");
            const nucleo n = nucleo_preferido(dimension, nsalidas);
            ASSERT_TRUE(nucleo_soportado(n));
            muestras X(6, dimension), W(dimension, nsalidas);
            for (uint32_t s = 0; s < 6; ++s)
                for (uint32_t k = 0; k < dimension; ++k) X.m[s][k] = valor(azar);
            rand_w(W.m, dimension, nsalidas);
            compara({n}, X, W, 2, 0.01f);
            if (HasFatalFailure()) return;
        }
    }
}

// Address space in use by this process, in bytes.
rlim_t espacio_en_uso() {
    FILE* status = std::fopen("/proc/self/status", "r");
    char linea[256];
    long kb = 0;
    while (std::fgets(linea, sizeof linea, status))
        if (std::strncmp(linea, "VmSize:", 7) == 0) kb = std::atol(linea + 7);
    std::fclose(status);
    return static_cast<rlim_t>(kb) << 10;
}

// The wavefront keeps its own copy of the weights in a block of its own:
// when the allocator refuses it, the message and status are those of any
// refused block, never a crash. Here the 2,000,000 × 4 weights fit and their
// wavefront block of 160 MB is refused.
TEST(NucleoDeathTest, ARefusedWavefrontBlockIsOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer needs more address space than the limit";
#endif
    muestras W(2000000, 4);
    int probados = 0;
    for (nucleo n : {nucleo::avx2, nucleo::avx512}) {
        if (!nucleo_soportado(n)) continue;
        ++probados;
        auto empieza = [&] {
            const rlim_t limite = espacio_en_uso() + (rlim_t{64} << 20);
            const rlimit r{limite, limite};
            setrlimit(RLIMIT_AS, &r);
            empieza_entrenamiento(n, W.m, W.filas, W.cols);
            std::exit(0);
        };
        EXPECT_EXIT(empieza(), testing::ExitedWithCode(255), "^Error:Falta memoria\\.$");
    }
    if (probados == 0) GTEST_SKIP() << "this CPU runs no wavefront kernel";
}

// Where the copy of the samples in lane order cannot be had, each cycle
// places the samples itself, with the same bits. Here the 100,000 samples of
// 40 inputs (16 MB) fit and their copy, at least as large, is refused.
TEST(NucleoDeathTest, WithoutMemoryForTheSamplesCopyTheCyclesPlaceThem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer needs more address space than the limit";
#endif
    const nucleo n = nucleo_preferido(40, 20);
    if (n == nucleo::prefijo) GTEST_SKIP() << "this CPU runs no wavefront kernel";
    std::mt19937 azar(5);
    std::uniform_real_distribution<float> valor(-1.0f, 1.0f);
    muestras X(100000, 40), esperada(40, 20), obtenida(40, 20);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < X.cols; ++k) X.m[s][k] = valor(azar);
    rand_w(esperada.m, 40, 20);
    for (uint32_t k = 0; k < 40; ++k) std::copy(esperada.m[k], esperada.m[k] + 20, obtenida.m[k]);
    std::vector<float> y(20), err_esperado(20), err_obtenido(20);
    ciclo_sanger_simple(X.m, X.filas, 40, esperada.m, 20, 0.001f, y.data(), err_esperado.data());
    // Memory that the heap keeps free from earlier tests in this process
    // could hold the copy with no new address space, which no limit refuses;
    // ctest runs each test in a process of its own.
    if (mallinfo2().fordblks >= size_t{X.filas} * X.cols * sizeof(float))
        GTEST_SKIP() << "the heap already has room for the copy";
    auto entrena_sin_copia = [&] {
        const rlim_t limite = espacio_en_uso() + (rlim_t{4} << 20);
        const rlimit r{limite, limite};
        setrlimit(RLIMIT_AS, &r);
        // Under an emulator the limit binds the emulator, not the memory it
        // gives this program: nothing to test there.
        if (std::malloc(size_t{64} << 20) != nullptr) std::exit(3);
        entrenamiento e = empieza_entrenamiento(n, obtenida.m, 40, 20);
        coloca_muestras(e, X.m, X.filas);
        if (e.muestras != nullptr) std::exit(2);  // the copy was made after all
        ciclo_entrenamiento(e, X.m, X.filas, 0.001f, y.data(), err_obtenido.data());
        termina_entrenamiento(e);
        for (uint32_t j = 0; j < 20; ++j)
            if (!mismos_bits(err_esperado[j], err_obtenido[j])) std::exit(1);
        for (uint32_t k = 0; k < 40; ++k)
            for (uint32_t j = 0; j < 20; ++j)
                if (!mismos_bits(esperada.m[k][j], obtenida.m[k][j])) std::exit(1);
        std::exit(0);
    };
    const auto bien = [](int estado) {
        return WIFEXITED(estado) && (WEXITSTATUS(estado) == 0 || WEXITSTATUS(estado) == 3);
    };
    EXPECT_EXIT(entrena_sin_copia(), bien, "");
}

// Samples in [-1, 1], with the inputs for which muerta() holds zero in all.
template <typename F>
void llena(muestras& X, std::mt19937& azar, F muerta) {
    std::uniform_real_distribution<float> valor(-1.0f, 1.0f);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < X.cols; ++k) X.m[s][k] = muerta(k) ? 0.0f : valor(azar);
}

// One dead input at each place: first and last input, every slot of every
// lane, on both sides of the lane and block sizes.
TEST_P(Nucleo, OneDeadInputAtEveryPlace) {
    std::mt19937 azar(11);
    for (uint32_t dimension : {5u, 17u, 40u}) {
        for (uint32_t nsalidas : {1u, 6u, 17u}) {
            for (uint32_t muerta = 0; muerta < dimension; ++muerta) {
                SCOPED_TRACE(testing::Message() << dimension << " inputs, " << nsalidas
                                                << " outputs, input " << muerta << " dead");
                muestras X(7, dimension), W(dimension, nsalidas);
                llena(X, azar, [&](uint32_t k) { return k == muerta; });
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 3, 0.05f, {true, 1.0f});
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Every input dead, a single live one, and dead inputs in runs and scattered.
TEST_P(Nucleo, ManyDeadInputs) {
    std::mt19937 azar(12);
    const struct {
        const char* nombre;
        bool (*muerta)(uint32_t k, uint32_t dimension);
    } casos[] = {
        {"all dead", [](uint32_t, uint32_t) { return true; }},
        {"one live", [](uint32_t k, uint32_t d) { return k != d / 2; }},
        {"a border", [](uint32_t k, uint32_t d) { return k < 9 || k + 9 >= d || k % 8 == 0; }},
        {"every third", [](uint32_t k, uint32_t) { return k % 3 == 1; }},
    };
    for (const auto& c : casos) {
        for (uint32_t dimension : {3u, 16u, 33u, 100u}) {
            for (uint32_t nsalidas : {2u, 8u, 20u}) {
                SCOPED_TRACE(testing::Message() << c.nombre << ", " << dimension << " inputs, "
                                                << nsalidas << " outputs");
                muestras X(9, dimension), W(dimension, nsalidas);
                llena(X, azar, [&](uint32_t k) { return c.muerta(k, dimension); });
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 4, 0.02f, {true, 1.0f});
                compara(GetParam(), X, W, 4, 0.02f,
                        {.aparte = true, .caida = 1.0f, .alterna = true});
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Enough samples for the threads to hand residuals on in batches of several
// (8 here), a last batch cut short, and a ring (of 93 samples with 16 lanes)
// that the samples wrap around; with dead inputs, whose residuals cross in a
// ring of their own. Two cycles: the counts start again.
TEST_P(Nucleo, ResidualsCrossInBatchesAroundTheRing) {
    if (GetParam().hilos == 1) GTEST_SKIP() << "one thread hands nothing on";
    std::mt19937 azar(14);
    muestras X(130, 700), W(700, 40);
    llena(X, azar, [](uint32_t k) { return k % 97 == 3; });
    rand_w(W.m, 700, 40);
    compara_formas(GetParam(), X, W, 2, 0.0005f, {{}, {.aparte = true}});
}

// Long enough for the dead inputs' weights to sink to subnormal values and
// stay there, at the units of 2^-149 where ν·d rounds to zero; the later
// outputs' weights, which see small outputs, stay normal. Then the same weights
// train again on samples in which those inputs live.
TEST_P(Nucleo, WeightsSinkToSubnormalsAndComeBackToLife) {
    std::mt19937 azar(13);
    const uint32_t dimension = 48, nsalidas = 6;
    muestras X(60, dimension), W(dimension, nsalidas);
    const auto muerta = [](uint32_t k) { return k % 7 == 0 || k > 44; };
    std::uniform_real_distribution<float> valor(-3.0f, 3.0f);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < dimension; ++k)
            X.m[s][k] = muerta(k) ? 0.0f : valor(azar) * (k < 12 ? 1.0f : 0.1f);
    rand_w(W.m, dimension, nsalidas);
    // Also with the sunk weights moved between the kernel and apart.
    compara_formas(GetParam(), X, W, 40, 0.01f,
                   {{true, 1.0f}, {.aparte = true, .caida = 1.0f, .juntas_a_ratos = true}});
    ASSERT_FALSE(HasFatalFailure());
    entrena({nucleo::simple}, X, W, 40, 0.01f, {true, 1.0f});

    uint32_t subnormales = 0, normales = 0;
    for (uint32_t k = 0; k < dimension; ++k)
        for (uint32_t j = 0; j < nsalidas; ++j) {
            const int clase = std::fpclassify(W.m[k][j]);
            subnormales += muerta(k) && clase == FP_SUBNORMAL;
            normales += muerta(k) && clase == FP_NORMAL;
        }
    EXPECT_GT(subnormales, 10u) << "the dead weights never reached the subnormal range";
    EXPECT_GT(normales, 3u) << "no dead weight stayed normal";

    llena(X, azar, [](uint32_t) { return false; });
    compara(GetParam(), X, W, 2, 0.01f, {true, 1.0f});
}

// Dead inputs whose weights start at every magnitude the steps tell apart:
// whole units of 2^-149 and the floats up to 2^-125, where a weight may be a
// fixed point; tiny normal ones, worked carefully; normal ones, and large
// ones on tiny outputs, whose d·d is subnormal (live inputs of 1e-12 keep
// err small enough to show it). Each output's weights all of one magnitude,
// and mixed. Rates above 1/2 and negative ones; a sample of zeros, whose
// d·d are all +0 after others that were not. Inputs that every lane width
// divides (48) and that some do not.
TEST_P(Nucleo, DeadWeightsOfEveryMagnitude) {
    const float pesos[] = {0.0f,      -0.0f,         0x1p-149f, -0x3p-149f, 0x7fp-149f,
                           0x1p-126f, -0x1.fep-126f, 0x1p-125f, 0x1p-120f,  -0x1p-110f,
                           0x1p-95f,  -0x1p-89f,     0x1p-80f,  0x1.8p-73f, -0x1p-68f,
                           1e-10f,    -0.5f,         3000.0f,   -5e4f};
    constexpr uint32_t npesos = sizeof pesos / sizeof pesos[0];
    std::mt19937 azar(15);
    for (float escala : {1e-12f, 1e-3f, 1.0f, 40.0f}) {
        for (float nu : {0.01f, 0.7f, 1.5f, -0.2f, 1e-6f}) {
            for (uint32_t dimension : {9u, 24u, 40u, 48u}) {
                for (uint32_t nsalidas : {3u, 20u}) {
                    for (bool mezclados : {false, true}) {
                        SCOPED_TRACE(testing::Message()
                                     << "inputs ×" << escala << ", nu " << nu << ", " << dimension
                                     << " inputs, " << nsalidas << " outputs"
                                     << (mezclados ? ", mixed" : ""));
                        muestras X(6, dimension), W(dimension, nsalidas);
                        llena(X, azar, [](uint32_t k) { return k % 3 == 0; });
                        for (uint32_t s = 0; s < X.filas; ++s)
                            for (uint32_t k = 0; k < dimension; ++k)
                                X.m[s][k] *= s == 3 ? 0.0f : escala;
                        rand_w(W.m, dimension, nsalidas);
                        for (uint32_t k = 0; k < dimension; k += 3)
                            for (uint32_t j = 0; j < nsalidas; ++j)
                                W.m[k][j] =
                                    pesos[(mezclados ? k / 3 + 5 * j : j + dimension) % npesos];
                        compara(GetParam(), X, W, 2, nu, {true, 1.0f});
                        if (HasFatalFailure()) return;
                    }
                }
            }
        }
    }
}

// The dead inputs' weights tiny for the first outputs and normal for the
// others, as training leaves them: their steps for the first outputs are
// worked apart and the kernel goes on from the residual they leave. The
// cut falls at every output in turn, where a part of a split training
// starts too, and at neither end. The weights on both sides of it are close
// to 2^-40, so that the residual handed over is not lost in the rounding
// of the kernel's first step.
TEST_P(Nucleo, DeadInputsEnterTheKernelAtAnyOutput) {
    std::mt19937 azar(21);
    const uint32_t dimension = 40, nsalidas = 35;
    muestras X(7, dimension), W(dimension, nsalidas);
    llena(X, azar, [](uint32_t k) { return k % 3 == 1; });
    X.m[2][7] = -0.0f;
    for (uint32_t corte = 0; corte <= nsalidas; ++corte) {
        SCOPED_TRACE(testing::Message() << "tiny weights for the first " << corte << " outputs");
        rand_w(W.m, dimension, nsalidas);
        for (uint32_t k = 1; k < dimension; k += 3)
            for (uint32_t j = 0; j <= corte && j < nsalidas; ++j)
                W.m[k][j] = j == corte ? 0x1p-38f : j % 3 == 0 ? 0x5p-149f : -0x1.8p-41f;
        compara(GetParam(), X, W, 3, 0.01f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// Dead weights of two kinds: sunk to the grid in some inputs and normal in
// the others, side by side in the same outputs; or sunk but for output 3,
// whose live weights are all zero so that its y stays 0. There the prefix,
// subnormal after the sunk outputs, goes through a step in float unchanged,
// with its sign, to the sunk outputs after it.
TEST_P(Nucleo, DeadWeightsOfTwoKindsAndAnOutputThatStaysZero) {
    std::mt19937 azar(23);
    const uint32_t dimension = 30, nsalidas = 6, quieta = 3;
    muestras X(8, dimension), W(dimension, nsalidas);
    llena(X, azar, [](uint32_t k) { return k % 2 == 0; });
    for (bool lado_a_lado : {false, true}) {
        SCOPED_TRACE(lado_a_lado ? "side by side" : "sunk first");
        rand_w(W.m, dimension, nsalidas);
        for (uint32_t k = 0; k < dimension; ++k) {
            if (k % 2 != 0) {
                W.m[k][quieta] = 0.0f;
                continue;
            }
            for (uint32_t j = 0; j < nsalidas; ++j) {
                const bool hundido = lado_a_lado ? k % 4 == 0 : j != quieta;
                W.m[k][j] = hundido ? (j % 2 != 0 ? -0x2bp-149f : 0x1.8p-126f)
                                    : (k % 3 != 0 ? 0x1.3p-50f : -0x1.7p-47f);
            }
        }
        compara(GetParam(), X, W, 3, 0.3f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// A dead input's d·d that changes err only just, or only just does not:
// its weights from 2^-6 to 2^-18 make d·d from 2^-12 to 2^-36 of the live
// inputs' share of err, and the weight for the last output, below 2^-40,
// keeps them all worked apart.
TEST_P(Nucleo, DeadSquaresAtTheEdgeOfErrsRounding) {
    std::mt19937 azar(29);
    std::uniform_real_distribution<float> cerca(1.0f, 2.0f);
    const uint32_t dimension = 12;
    for (int e = 6; e <= 18; ++e)
        for (uint32_t nsalidas : {3u, 20u}) {
            SCOPED_TRACE(testing::Message()
                         << "dead weights ×2^-" << e << ", " << nsalidas << " outputs");
            muestras X(6, dimension), W(dimension, nsalidas);
            llena(X, azar, [](uint32_t k) { return k % 4 == 1; });
            rand_w(W.m, dimension, nsalidas);
            for (uint32_t k = 1; k < dimension; k += 4)
                for (uint32_t j = 0; j < nsalidas; ++j)
                    W.m[k][j] = j + 1 < nsalidas ? std::ldexp(cerca(azar), -e) : 0x1p-50f;
            compara(GetParam(), X, W, 2, 0.05f, {true, 1.0f});
            if (HasFatalFailure()) return;
        }
}

// A subnormal d·d that changes a small err. The live input 0 is settled
// (h = 0) and input 1, whose weight is 0, puts 1.69·2^-104 in err each
// sample; the dead input 2, weight 2^-64 for y = 1.3, has d·d near
// 2^-126.5, more than half err's ulp (2^-127) in the second sample, where
// err starts near 2^-103 and d·d must be worked to the unit of 2^-149.
TEST_P(Nucleo, ASubnormalSquareCountsAgainstASmallErr) {
    for (uint32_t dimension : {3u, 17u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(2, dimension), W(dimension, 1);
        for (uint32_t s = 0; s < X.filas; ++s) {
            X.m[s][0] = 1.3f;
            X.m[s][1] = 0x1p-52f;
        }
        W.m[0][0] = 1.0f;
        W.m[2][0] = 0x1p-64f;
        muestras sin_muerta(W), con_muerta(W);
        sin_muerta.m[2][0] = 0.0f;
        EXPECT_NE(entrena({nucleo::simple}, X, sin_muerta, 1, 0.01f)[0],
                  entrena({nucleo::simple}, X, con_muerta, 1, 0.01f)[0]);
        compara(GetParam(), X, W, 1, 0.01f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// A dead input's −0 weight for the first output stays −0 through a sample
// only if the sample's zero is +0 and its output negative. Here only the
// first sample has −0, so the weight turns +0 there: a step that started
// from another sample's zero would keep −0.
TEST_P(Nucleo, EachSampleStartsFromItsOwnSignedZero) {
    for (uint32_t dimension : {5u, 18u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        const uint32_t muerta = dimension / 2;
        muestras X(4, dimension), W(dimension, 3);
        for (uint32_t s = 0; s < X.filas; ++s)
            for (uint32_t k = 0; k < dimension; ++k)
                X.m[s][k] = k != muerta ? 0.5f + 0.125f * (k % 3) : s == 0 ? -0.0f : 0.0f;
        rand_w(W.m, dimension, 3);
        for (uint32_t k = 0; k < dimension; ++k) W.m[k][0] = -0.25f - W.m[k][0];
        W.m[muerta][0] = -0.0f;
        muestras plain(W);
        entrena({nucleo::simple}, X, plain, 1, 0.01f);
        EXPECT_FALSE(std::signbit(plain.m[muerta][0]));
        compara(GetParam(), X, W, 2, 0.01f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// Signed zeros: −0 in the dead columns, and −0 weights, which +0 turns into +0.
TEST_P(Nucleo, NegativeZerosInSamplesAndWeights) {
    std::mt19937 azar(14);
    for (uint32_t dimension : {6u, 20u, 35u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(8, dimension), W(dimension, 5);
        llena(X, azar, [](uint32_t k) { return k % 4 == 1; });
        for (uint32_t s = 0; s < X.filas; ++s)
            for (uint32_t k = 1; k < dimension; k += 4) X.m[s][k] = s % 3 ? -0.0f : 0.0f;
        rand_w(W.m, dimension, 5);
        for (uint32_t k = 1; k < dimension; k += 2) W.m[k][k % 5] = -0.0f;
        for (uint32_t k = 5; k < dimension; k += 8)
            for (uint32_t j = 0; j < 5; ++j) W.m[k][j] = j % 2 ? -0.0f : 0.0f;
        compara(GetParam(), X, W, 3, 0.05f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// A rate of −0 beside dead weights of −0: ν·d takes the sign opposite to
// d's, and a −0 weight stays −0 only where that is −0. A rate taken as +0
// anywhere flips those weights' signs.
TEST_P(Nucleo, ARateOfNegativeZeroMeetsNegativeZeroWeights) {
    std::mt19937 azar(31);
    for (uint32_t dimension : {3u, 20u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(5, dimension), W(dimension, 4);
        llena(X, azar, [](uint32_t k) { return k % 3 == 0; });
        rand_w(W.m, dimension, 4);
        for (uint32_t k = 0; k < dimension; k += 3)
            for (uint32_t j = 0; j < 4; ++j) W.m[k][j] = j % 2 ? -0.0f : 0x3p-149f;
        for (bool aparte : {false, true}) {
            SCOPED_TRACE(aparte ? "kept apart" : "together");
            compara(GetParam(), X, W, 2, -0.0f, {aparte, 1.0f});
            if (HasFatalFailure()) return;
        }
    }
}

// A sunk output's d·d that counts in one sample, where a huge y meets an
// empty err, and a fixed point in the next, where y is 0: its slots must be
// cleared then, though the step is the fixed point's. ν is too small for
// the weights to move.
TEST_P(Nucleo, ASunkOutputsSlotsAreClearedAtItsNextFixedPoint) {
    for (uint32_t dimension : {2u, 17u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(3, dimension), W(dimension, 2);
        X.m[0][0] = 0x1p26f;
        for (uint32_t k = 0; k < dimension; ++k) {
            W.m[k][0] = k == 0 ? 1.0f : 0x1p-126f;
            W.m[k][1] = k == 0 ? 0.0f : 0x1p-50f;
        }
        muestras plain(W);
        EXPECT_GT(entrena({nucleo::simple}, X, plain, 1, 0x1p-100f, {true, 1.0f})[0], 0.0f);
        compara(GetParam(), X, W, 2, 0x1p-100f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// A sunk output whose first dead inputs are fixed points while a later
// one's d·d counts: the fixed ones' slots must hold +0, not what another
// output's d·d left in the scratch. Sample 0 makes output 1's d·d count
// (y[1] huge, err empty), sample 1 output 0's for the inputs from the ninth
// dead one on, whose weights are not zero; the live inputs' residuals are 0.
TEST_P(Nucleo, AFixedDeadInputBesideOneWhoseSquareCountsAddsNothing) {
    const uint32_t dimension = 20;
    muestras X(2, dimension), W(dimension, 2);
    X.m[0][1] = X.m[1][0] = 0x1p26f;
    for (uint32_t k = 0; k < dimension; ++k) {
        W.m[k][0] = k == 0 ? 1.0f : k < 10 ? 0.0f : 0x1p-126f;
        W.m[k][1] = k == 1 ? 1.0f : k == 0 ? 0.0f : 0x1p-126f;
    }
    compara(GetParam(), X, W, 1, 0x1p-100f, {true, 1.0f});
}

// Rates that make the weights overflow, NaN or infinite samples in live
// inputs and a NaN rate: the dead inputs' weights stop being finite at some
// sample, and the cycle must come out as the plain loop's all the same.
TEST_P(Nucleo, DivergingRatesAndNonFiniteData) {
    const struct {
        const char* nombre;
        float nu;
        float (*valor)(uint32_t s, uint32_t k);
    } casos[] = {
        {"diverging", 40.0f, [](uint32_t s, uint32_t k) { return 10.0f * ((k + s) % 3); }},
        {"one infinity", 0.05f,
         [](uint32_t s, uint32_t k) { return s == 2 && k == 3 ? inf : 0.5f; }},
        {"one NaN", 0.05f, [](uint32_t s, uint32_t k) { return s == 1 && k == 4 ? nan : -0.5f; }},
        {"huge", 0.01f, [](uint32_t, uint32_t k) { return k % 2 ? 3e37f : -1e30f; }},
        {"NaN rate", nan, [](uint32_t s, uint32_t k) { return 0.25f * (k % 5) - 0.5f * s; }},
    };
    for (const auto& c : casos) {
        for (uint32_t dimension : {6u, 17u, 50u}) {
            for (uint32_t nsalidas : {1u, 5u, 18u}) {
                SCOPED_TRACE(testing::Message() << c.nombre << ", " << dimension << " inputs, "
                                                << nsalidas << " outputs");
                muestras X(5, dimension), W(dimension, nsalidas);
                for (uint32_t s = 0; s < X.filas; ++s)
                    for (uint32_t k = 0; k < dimension; ++k)
                        X.m[s][k] = k % 5 == 2 ? 0.0f : c.valor(s, k);
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 3, c.nu, {true, 1.0f});
                if (HasFatalFailure()) return;
            }
        }
    }
}

// A dead input's weight overflows while the live one is settled and y stays
// finite: from the next sample on, inf·0 makes y NaN in the plain loop, so the
// dead input no longer adds nothing and the cycle must be trained again.
TEST_P(Nucleo, ADeadWeightOverflowsAlone) {
    for (uint32_t dimension : {2u, 17u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(3, dimension), W(dimension, 1);
        for (uint32_t s = 0; s < X.filas; ++s) X.m[s][0] = 1e13f;
        W.m[0][0] = 1.0f;
        for (uint32_t k = 1; k < dimension; ++k) W.m[k][0] = 0.5f;
        muestras plain(W);
        EXPECT_TRUE(std::isnan(entrena({nucleo::simple}, X, plain, 2, 1e13f, {true, 1.0f})[1]));
        compara(GetParam(), X, W, 2, 1e13f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// Dead weights of 2^-120, worked carefully (each operation in double,
// rounded to the float), for two outputs. For output 0 d·ν overflows: the
// float is −inf, the double is not. The prefix then becomes +inf, and for
// output 1, whose y is 0, d = inf·0 is NaN. Left finite, the prefix would
// give a d of 0 and leave the weight as it was. One sample, so that no
// later one meets the weight.
TEST_P(Nucleo, ACarefullyWorkedWeightOverflows) {
    for (uint32_t dimension : {2u, 17u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        // Input 0 alone lives, with its weight for output 0 settled (h = 0)
        // and for output 1 zero; the other dead weights are zeros, which stay so.
        muestras X(1, dimension), W(dimension, 2);
        X.m[0][0] = 1e19f;
        W.m[0][0] = 1.0f;
        W.m[1][0] = W.m[1][1] = 0x1p-120f;
        muestras plain(W);
        EXPECT_TRUE(std::isnan(entrena({nucleo::simple}, X, plain, 1, 1e37f, {true, 1.0f})[1]));
        compara(GetParam(), X, W, 1, 1e37f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// An output past the cut whose y overflows in the last sample (the samples
// before it are zeros, which change nothing), while the dead input's sunk
// weight for output 0 stays finite, apart: every input's d·d there is +inf,
// and so is err. The slots past the last input hold zeros, and counted they
// would make it NaN (inf·0): the kernel with dead inputs kept apart counts
// them, so the cycle must be trained again. 37 inputs leave such slots at
// every lane width.
TEST_P(Nucleo, AnOverflowingOutputKeepsItsInfiniteErrBesideEmptySlots) {
    const uint32_t dimension = 37, nsalidas = 3, muerta = 5;
    muestras X(4, dimension), W(dimension, nsalidas);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < dimension; ++k)
            X.m[s][k] = k != muerta && s + 1 == X.filas ? 1e10f : 0.0f;
    for (uint32_t k = 0; k < dimension; ++k) {
        W.m[k][0] = k == muerta ? 0x5p-149f : 1e-3f;
        W.m[k][1] = k == muerta ? 0.5f : 1e-3f;
        W.m[k][2] = k == muerta ? 0.5f : 1e30f;
    }
    muestras plain(W);
    EXPECT_EQ(entrena({nucleo::simple}, X, plain, 1, 1e-30f, {true})[2], inf);
    compara(GetParam(), X, W, 1, 1e-30f, {true});
}

// NaNs of both signs in the samples and in the rate, so that products and
// sums meet two NaNs: y[l]·W[k][l], h·y[j], d·ν, W[k][j]·x[k] and the sums
// after them must take the first operand's sign, as the plain loop does.
TEST_P(Nucleo, NaNsOfBothSignsTakeTheFirstOperandsSign) {
    const float menos_nan = -nan;
    std::mt19937 azar(15);
    for (uint32_t dimension : {2u, 16u, 17u, 40u}) {
        for (uint32_t nsalidas : {1u, 4u, 17u}) {
            for (float nu : {0.3f, nan, menos_nan}) {
                SCOPED_TRACE(testing::Message()
                             << dimension << " inputs, " << nsalidas << " outputs, nu " << nu);
                muestras X(4, dimension), W(dimension, nsalidas);
                for (uint32_t s = 0; s < X.filas; ++s)
                    for (uint32_t k = 0; k < dimension; ++k) {
                        const uint32_t r = azar() % 6;
                        X.m[s][k] = r == 0 ? nan : r == 1 ? menos_nan : r == 2 ? -inf : 1.0f;
                    }
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 2, nu, {false, 1.0f});
                if (HasFatalFailure()) return;
                compara(GetParam(), X, W, 2, nu, {true, 1.0f});
                if (HasFatalFailure()) return;
            }
        }
    }
}

// A dead input's product that underflows is a signed zero, and the sign
// shows: with W[1][1] = −0 and y[1] tiny, d·ν is −0 and −0 + −0 stays −0.
TEST_P(Nucleo, ADeadInputsUnderflowKeepsItsSign) {
    for (uint32_t dimension : {2u, 17u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        muestras X(2, dimension), W(dimension, 2);
        X.m[0][0] = X.m[1][0] = 1.0f;
        W.m[0][0] = 1.0f;
        W.m[0][1] = 1e-30f;
        for (uint32_t k = 1; k < dimension; ++k) {
            X.m[0][k] = X.m[1][k] = -0.0f;
            W.m[k][0] = 0x1p-140f;
            W.m[k][1] = -0.0f;
        }
        muestras plain(W);
        entrena({nucleo::simple}, X, plain, 1, 0.5f);
        EXPECT_TRUE(std::signbit(plain.m[1][1]) && plain.m[1][1] == 0.0f);
        compara(GetParam(), X, W, 1, 0.5f, {true, 1.0f});
        if (HasFatalFailure()) return;
    }
}

// The training's threads in this process, by the name they take, once they
// are n: a joined thread leaves /proc a moment after its join returns.
uint32_t hilos_de_partes(uint32_t n) {
    for (int vez = 0;; ++vez) {
        uint32_t hilos = 0;
        for (const auto& tarea : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(tarea.path() / "comm");
            std::string nombre;
            std::getline(comm, nombre);
            hilos += nombre == "sanger-parte";
        }
        if (hilos == n || vez == 1000) return hilos;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Every part but the last has a lane's width of outputs at least (it hands
// on the residuals its lanes end a sample with, exact only without spare
// columns), the parts cover the outputs in order, and the training's threads
// exist while it runs and are gone once it ends.
TEST(Partes, SplitTheOutputsIntoRunsOfAtLeastALane) {
    const struct {
        uint32_t nsalidas, hilos;
        std::vector<uint32_t> partes;
    } casos[] = {
        {13, 3, {4, 4, 5}}, {9, 3, {4, 4, 1}}, {5, 2, {4, 1}},
        {8, 8, {4, 4}},     {4, 3, {}},        {40, 3, {13, 13, 14}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(testing::Message() << c.nsalidas << " outputs, " << c.hilos << " threads");
        muestras W(40, c.nsalidas);
        entrenamiento e = empieza_entrenamiento(nucleo::portatil, W.m, 40, c.nsalidas, c.hilos);
        std::vector<uint32_t> partes;
        for (uint32_t t = 0; t < e.npartes; ++t) {
            EXPECT_EQ(e.partes[t].salida0, std::accumulate(partes.begin(), partes.end(), 0u));
            partes.push_back(e.partes[t].nsalidas);
        }
        EXPECT_EQ(partes, c.partes);
        const uint32_t durante = partes.empty() ? 0 : partes.size() - 1;
        EXPECT_EQ(hilos_de_partes(durante), durante);
        termina_entrenamiento(e);
        EXPECT_EQ(hilos_de_partes(0), 0u);
    }
}

// Changing the threads between cycles moves the weights and keeps what the
// training was given: the samples' copy, and the inputs kept apart, in
// every part. (Its bits are held to the plain loop's in the kernel tests.)
TEST(Partes, ChangingTheThreadsKeepsTheSamplesCopyAndTheDeadInputs) {
    std::mt19937 azar(3);
    muestras X(5, 40), W(40, 9);
    llena(X, azar, [](uint32_t k) { return k % 10 == 3; });
    entrenamiento e = empieza_entrenamiento(nucleo::portatil, W.m, 40, 9, 2);
    coloca_muestras(e, X.m, X.filas);
    separa_muertas(e, X.m, X.filas);
    const float* const copia = e.muestras;
    ASSERT_NE(copia, nullptr);
    for (uint32_t hilos : {1u, 2u, 1u}) {
        SCOPED_TRACE(testing::Message() << hilos << " threads");
        cambia_hilos(e, hilos);
        EXPECT_EQ(e.npartes, hilos > 1 ? hilos : 0u);
        EXPECT_EQ(e.hilos, 2u);
        EXPECT_EQ(e.muestras, copia);
        for (uint32_t t = 0; t < std::max(e.npartes, 1u); ++t) {
            const entrenamiento& p = e.npartes > 0 ? e.partes[t] : e;
            EXPECT_EQ(p.muestras, copia);
            EXPECT_EQ(p.nmuertas, 4u);
        }
    }
    termina_entrenamiento(e);
    EXPECT_EQ(hilos_de_partes(0), 0u);
}

// The choice between one thread and all, on cycles that take the seconds
// segundos(threads) gives, switching as ciclo_entrenamiento does: the
// threads of each cycle in turn.
std::vector<uint32_t> elige_hilos(entrenamiento& e, uint32_t ciclos,
                                  const std::function<double(uint32_t)>& segundos) {
    std::vector<uint32_t> hilos;
    for (uint32_t c = 0; c < ciclos; ++c) {
        hilos.push_back(std::max(e.npartes, 1u));
        aplica(e, cuenta_ciclo(e, segundos(hilos.back())));
    }
    return hilos;
}

// Two cycles in every 64, from the third, try the other way, and the faster
// stays (one thread by a tenth); a way that slows down past the other's last
// time gives the other a try at once; a single slow cycle does not.
TEST(Partes, TheFasterWayStaysAndASlowerOneGivesWayAtOnce) {
    muestras W(40, 9);
    entrenamiento e = empieza_entrenamiento(nucleo::portatil, W.m, 40, 9, 2);
    ASSERT_EQ(e.npartes, 2u);
    const auto tiempos = [](double todos, double uno) {
        return [=](uint32_t hilos) { return hilos > 1 ? todos : uno; };
    };
    using v = std::vector<uint32_t>;
    // One thread faster, but not by a tenth.
    EXPECT_EQ(elige_hilos(e, 8, tiempos(1.0, 0.95)), (v{2, 2, 1, 1, 2, 2, 2, 2}));
    // A moment's preemption; then all threads slow down for good.
    EXPECT_EQ(elige_hilos(e, 1, tiempos(5.0, 0.95)), v{2});
    EXPECT_EQ(elige_hilos(e, 1, tiempos(1.0, 0.95)), v{2});
    EXPECT_EQ(elige_hilos(e, 6, tiempos(2.0, 1.6)), (v{2, 2, 1, 1, 1, 1}));
    // All threads recover, but not past one: one stays, until it slows down.
    EXPECT_EQ(elige_hilos(e, 4, tiempos(1.7, 1.6)), (v{1, 1, 1, 1}));
    EXPECT_EQ(elige_hilos(e, 6, tiempos(1.7, 2.5)), (v{1, 1, 2, 2, 2, 2}));
    // Slower than one was, but not by a tenth more.
    EXPECT_EQ(elige_hilos(e, 4, tiempos(2.7, 2.5)), (v{2, 2, 2, 2}));
    // Steady times: a try 64 cycles after the last, and 64 after that.
    const v hilos = elige_hilos(e, 128, tiempos(1.0, 1.6));
    v en_uno;
    for (uint32_t c = 0; c < hilos.size(); ++c)
        if (hilos[c] == 1) en_uno.push_back(c);
    EXPECT_EQ(en_uno, (v{56, 57, 120, 121}));
    termina_entrenamiento(e);
}

// Both choices timed, one at a time, each way kept when faster: the other
// number of threads tried for two cycles from the third and every 64; the
// dead inputs' other way from the seventh, then 16 cycles after a try that
// changed the way and twice as long after each that did not, for one cycle
// when slower by more than a tenth. A way that slows down gives the other
// a try at once. Each cycle shows its threads and its dead inputs' way: j
// in the kernel, a apart.
TEST(Partes, EachChoiceTriesItsOtherWayInTurn) {
    std::mt19937 azar(5);
    muestras X(5, 40), W(40, 9);
    llena(X, azar, [](uint32_t k) { return k % 10 == 3; });
    entrenamiento e = empieza_entrenamiento(nucleo::portatil, W.m, 40, 9, 2);
    separa_muertas(e, X.m, X.filas, false);
    ASSERT_EQ(e.npartes, 2u);
    EXPECT_TRUE(e.forma.elige_muertas);
    EXPECT_TRUE(e.forma.muertas_juntas);  // as before any choice
    double aparte = 0.8;                  // a cycle's time apart, against 1 in the kernel
    const auto elige = [&](uint32_t ciclos) {
        std::string formas;
        for (uint32_t c = 0; c < ciclos; ++c) {
            const uint32_t hilos = std::max(e.npartes, 1u);
            const bool juntas = e.forma.muertas_juntas;
            formas += std::to_string(hilos) + (juntas ? "j " : "a ");
            aplica(e, cuenta_ciclo(e, (hilos > 1 ? 1.0 : 1.6) * (juntas ? 1.0 : aparte)));
        }
        return formas;
    };
    EXPECT_EQ(elige(10), "2j 2j 1j 1j 2j 2j 2a 2a 2a 2a ");
    // Apart slows down for good: one slow cycle, then the kernel at once.
    aparte = 1.5;
    EXPECT_EQ(elige(6), "2a 2a 2j 2j 2j 2j ");
    // Steady, cycles 16 on: the cycles on another way.
    const auto otras = [&](uint32_t ciclos) {
        const std::string formas = elige(ciclos);
        std::vector<size_t> c;
        for (size_t i = 0; i < ciclos; ++i)
            if (formas.substr(3 * i, 2) != "2j") c.push_back(i);
        return c;
    };
    using v = std::vector<size_t>;
    EXPECT_EQ(otras(128), (v{14, 47, 50, 51, 112, 114, 115}));
    // Apart slower, but not by a tenth: a try of two cycles, at cycle 257,
    // which the threads' try due then waits for.
    aparte = 1.09;
    EXPECT_EQ(otras(200), (v{50, 51, 113, 114, 116, 117, 180, 181}));
    termina_entrenamiento(e);

    // Without dead inputs, or with them always apart, nothing to choose.
    for (const bool muertas : {false, true}) {
        entrenamiento sin = empieza_entrenamiento(nucleo::portatil, W.m, 40, 9);
        llena(X, azar, [muertas](uint32_t k) { return muertas && k == 7; });
        separa_muertas(sin, X.m, X.filas, muertas);
        EXPECT_FALSE(sin.forma.elige_muertas);
        EXPECT_FALSE(sin.forma.muertas_juntas);
        EXPECT_EQ(sin.nmuertas, muertas ? 1u : 0u);
        termina_entrenamiento(sin);
    }
}

// A thread that waits long enough to sleep in the kernel (two milliseconds)
// wakes when the count rises, raised to a value or by one, whether it rises
// just before the waiter goes to sleep or well after; and it is no longer
// counted asleep once awake.
TEST(Partes, AWaiterAsleepWakesWhenTheCountRises) {
    contador c;
    for (uint32_t vez = 1; vez <= 8; ++vez) {
        std::atomic<bool> despierto{false};
        std::thread esperando([&] {
            EXPECT_EQ(espera_al_menos(c, vez), vez);
            despierto = true;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(500 * vez));
        vez % 2 ? publica(c, vez) : suma_uno(c);
        const auto hasta = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!despierto && std::chrono::steady_clock::now() < hasta)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(despierto) << "still asleep after " << 500 * vez << " µs";
        c.valor.notify_all();  // to end the test even so
        esperando.join();
        EXPECT_EQ(c.dormidos.load(), 0u);
    }
}

// The cores the process may use bound its threads: one core in the
// affinity mask (taskset -c 0) means one thread, whatever the sizes.
TEST(Partes, OneCoreInTheAffinityMaskMeansOneThread) {
    cpu_set_t todos;
    ASSERT_EQ(sched_getaffinity(0, sizeof todos, &todos), 0);
    EXPECT_GE(nucleos_disponibles(), 1u);
    EXPECT_LE(hilos_preferidos(nucleo::avx512, 784, 64, 5000), nucleos_disponibles());
    EXPECT_EQ(hilos_preferidos(nucleo::avx512, 64, 16, 1797), 1u);  // too few outputs to split
    // A last part of half a lane's width at least.
    EXPECT_EQ(hilos_preferidos(nucleo::avx512, 784, 23, 2000), 1u);
    EXPECT_EQ(hilos_preferidos(nucleo::avx512, 784, 24, 2000), std::min(nucleos_disponibles(), 2u));
    EXPECT_EQ(hilos_preferidos(nucleo::prefijo, 784, 64, 5000), 1u);

    int primero = 0;
    while (!CPU_ISSET(primero, &todos)) ++primero;
    cpu_set_t uno;
    CPU_ZERO(&uno);
    CPU_SET(primero, &uno);
    ASSERT_EQ(sched_setaffinity(0, sizeof uno, &uno), 0);
    const uint32_t nucleos = nucleos_disponibles();
    const uint32_t hilos = hilos_preferidos(nucleo::avx512, 784, 64, 5000);
    sched_setaffinity(0, sizeof todos, &todos);
    EXPECT_EQ(nucleos, 1u);
    EXPECT_EQ(hilos, 1u);
}

}  // namespace
