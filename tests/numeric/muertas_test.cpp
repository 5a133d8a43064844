// Every kernel against the plain loop, bit for bit, where that takes care:
// inputs that are zero in every sample, kept apart from the vector work, and
// products and sums of two NaNs, whose sign is the first operand's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "numeric/entrenamiento.hpp"
#include "numeric/sanger.hpp"

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

struct matriz_propia {
    uint32_t filas, cols;
    matriz m;
    matriz_propia(uint32_t f, uint32_t c) : filas(f), cols(c), m(reserva_matriz(f, c)) {}
    matriz_propia(const matriz_propia& otra) : matriz_propia(otra.filas, otra.cols) {
        for (uint32_t r = 0; r < filas; ++r) std::memcpy(m[r], otra.m[r], cols * sizeof(float));
    }
    ~matriz_propia() {
        libera_matriz(filas, m);
    }
};

// Trains W in place for some cycles at a fixed nu; returns every cycle's err.
std::vector<float> entrena(nucleo n, bool aparte, const matriz_propia& X, matriz_propia& W,
                           uint32_t ciclos, float nu) {
    std::vector<float> y(W.cols + 1), err(W.cols + 1), errores;
    entrenamiento e = empieza_entrenamiento(n, W.m, W.filas, W.cols);
    if (aparte) separa_muertas(e, X.m, X.filas);
    for (uint32_t c = 0; c < ciclos; ++c) {
        std::fill(err.begin(), err.end(), 0.0f);
        ciclo_entrenamiento(e, X.m, X.filas, nu, y.data(), err.data());
        errores.insert(errores.end(), err.begin(), err.begin() + W.cols);
    }
    termina_entrenamiento(e);
    return errores;
}

// Equal bits; a NaN's payload is the platform's, but its sign must agree.
bool mismos_bits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0 ||
           (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
}

// Trains W with the plain loop and with the kernel, keeping dead inputs apart
// or not; W leaves with the plain loop's weights.
void compara(nucleo n, const matriz_propia& X, matriz_propia& W, uint32_t ciclos, float nu,
             bool aparte = true) {
    matriz_propia obtenida(W);
    const std::vector<float> esperado = entrena(nucleo::simple, false, X, W, ciclos, nu);
    const std::vector<float> obtenido = entrena(n, aparte, X, obtenida, ciclos, nu);
    for (size_t i = 0; i < esperado.size(); ++i)
        ASSERT_TRUE(mismos_bits(esperado[i], obtenido[i]))
            << "err " << i << ": " << esperado[i] << " vs " << obtenido[i];
    for (uint32_t k = 0; k < W.filas; ++k)
        for (uint32_t j = 0; j < W.cols; ++j)
            ASSERT_TRUE(mismos_bits(W.m[k][j], obtenida.m[k][j]))
                << "W[" << k << "][" << j << "]: " << W.m[k][j] << " vs " << obtenida.m[k][j];
}

// Samples in [-1, 1], with the inputs for which muerta() holds zero in all.
template <typename F>
void llena(matriz_propia& X, std::mt19937& azar, F muerta) {
    std::uniform_real_distribution<float> valor(-1.0f, 1.0f);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < X.cols; ++k) X.m[s][k] = muerta(k) ? 0.0f : valor(azar);
}

class Muertas : public testing::TestWithParam<nucleo> {
   protected:
    void SetUp() override {
        if (!nucleo_soportado(GetParam())) GTEST_SKIP() << "this CPU cannot run the kernel";
    }
};

INSTANTIATE_TEST_SUITE_P(Todos, Muertas,
                         testing::Values(nucleo::prefijo, nucleo::avx2, nucleo::avx512),
                         [](const testing::TestParamInfo<nucleo>& info) {
                             switch (info.param) {
                                 case nucleo::prefijo: return "prefijo";
                                 case nucleo::avx2: return "avx2";
                                 default: return "avx512";
                             }
                         });

// One dead input at each place: first and last input, every slot of every
// lane, on both sides of the lane and block sizes.
TEST_P(Muertas, OneDeadInputAtEveryPlace) {
    std::mt19937 azar(11);
    for (uint32_t dimension : {5u, 17u, 40u}) {
        for (uint32_t nsalidas : {1u, 6u, 17u}) {
            for (uint32_t muerta = 0; muerta < dimension; ++muerta) {
                SCOPED_TRACE(testing::Message() << dimension << " inputs, " << nsalidas
                                                << " outputs, input " << muerta << " dead");
                matriz_propia X(7, dimension), W(dimension, nsalidas);
                llena(X, azar, [&](uint32_t k) { return k == muerta; });
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 3, 0.05f);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Every input dead, a single live one, and dead inputs in runs and scattered.
TEST_P(Muertas, ManyDeadInputs) {
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
                matriz_propia X(9, dimension), W(dimension, nsalidas);
                llena(X, azar, [&](uint32_t k) { return c.muerta(k, dimension); });
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 4, 0.02f);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// Long enough for the dead inputs' weights to sink to subnormal values and
// stay there, at the units of 2^-149 where ν·d rounds to zero; the later
// outputs' weights, which see small outputs, stay normal. Then the same weights
// train again on samples in which those inputs live.
TEST_P(Muertas, WeightsSinkToSubnormalsAndComeBackToLife) {
    std::mt19937 azar(13);
    const uint32_t dimension = 48, nsalidas = 6;
    matriz_propia X(60, dimension), W(dimension, nsalidas);
    const auto muerta = [](uint32_t k) { return k % 7 == 0 || k > 44; };
    std::uniform_real_distribution<float> valor(-3.0f, 3.0f);
    for (uint32_t s = 0; s < X.filas; ++s)
        for (uint32_t k = 0; k < dimension; ++k)
            X.m[s][k] = muerta(k) ? 0.0f : valor(azar) * (k < 12 ? 1.0f : 0.1f);
    rand_w(W.m, dimension, nsalidas);
    compara(GetParam(), X, W, 40, 0.01f);
    ASSERT_FALSE(HasFatalFailure());

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
    compara(GetParam(), X, W, 2, 0.01f);
}

// Signed zeros: −0 in the dead columns, and −0 weights, which +0 turns into +0.
TEST_P(Muertas, NegativeZerosInSamplesAndWeights) {
    std::mt19937 azar(14);
    for (uint32_t dimension : {6u, 20u, 35u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        matriz_propia X(8, dimension), W(dimension, 5);
        llena(X, azar, [](uint32_t k) { return k % 4 == 1; });
        for (uint32_t s = 0; s < X.filas; ++s)
            for (uint32_t k = 1; k < dimension; k += 4) X.m[s][k] = s % 3 ? -0.0f : 0.0f;
        rand_w(W.m, dimension, 5);
        for (uint32_t k = 1; k < dimension; k += 2) W.m[k][k % 5] = -0.0f;
        for (uint32_t k = 5; k < dimension; k += 8)
            for (uint32_t j = 0; j < 5; ++j) W.m[k][j] = j % 2 ? -0.0f : 0.0f;
        compara(GetParam(), X, W, 3, 0.05f);
        if (HasFatalFailure()) return;
    }
}

// Rates that make the weights overflow, NaN or infinite samples in live
// inputs and a NaN rate: the dead inputs' weights stop being finite at some
// sample, and the cycle must come out as the plain loop's all the same.
TEST_P(Muertas, DivergingRatesAndNonFiniteData) {
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
                matriz_propia X(5, dimension), W(dimension, nsalidas);
                for (uint32_t s = 0; s < X.filas; ++s)
                    for (uint32_t k = 0; k < dimension; ++k)
                        X.m[s][k] = k % 5 == 2 ? 0.0f : c.valor(s, k);
                rand_w(W.m, dimension, nsalidas);
                compara(GetParam(), X, W, 3, c.nu);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// A dead input's weight overflows while the live one is settled and y stays
// finite: from the next sample on, inf·0 makes y NaN in the plain loop, so the
// dead input no longer adds nothing and the cycle must be trained again.
TEST_P(Muertas, ADeadWeightOverflowsAlone) {
    for (uint32_t dimension : {2u, 17u, 40u}) {
        SCOPED_TRACE(testing::Message() << dimension << " inputs");
        matriz_propia X(3, dimension), W(dimension, 1);
        for (uint32_t s = 0; s < X.filas; ++s) X.m[s][0] = 1e13f;
        W.m[0][0] = 1.0f;
        for (uint32_t k = 1; k < dimension; ++k) W.m[k][0] = 0.5f;
        matriz_propia plain(W);
        EXPECT_TRUE(std::isnan(entrena(nucleo::simple, false, X, plain, 1, 1e13f)[0]));
        compara(GetParam(), X, W, 2, 1e13f);
        if (HasFatalFailure()) return;
    }
}

// NaNs of both signs in the samples and in the rate, so that products and
// sums meet two NaNs: y[l]·W[k][l], h·y[j], d·ν, W[k][j]·x[k] and the sums
// after them must take the first operand's sign, as the plain loop does.
TEST_P(Muertas, NaNsOfBothSignsTakeTheFirstOperandsSign) {
    const float menos_nan = -nan;
    std::mt19937 azar(15);
    for (uint32_t dimension : {2u, 16u, 17u, 40u}) {
        for (uint32_t nsalidas : {1u, 4u, 17u}) {
            for (float nu : {0.3f, nan, menos_nan}) {
                SCOPED_TRACE(testing::Message()
                             << dimension << " inputs, " << nsalidas << " outputs, nu " << nu);
                matriz_propia X(4, dimension), W(dimension, nsalidas);
                for (uint32_t s = 0; s < X.filas; ++s)
                    for (uint32_t k = 0; k < dimension; ++k) {
                        const uint32_t r = azar() % 6;
                        X.m[s][k] = r == 0 ? nan : r == 1 ? menos_nan : r == 2 ? -inf : 1.0f;
                    }
                rand_w(W.m, dimension, nsalidas);
                matriz_propia V(W);
                compara(GetParam(), X, W, 2, nu, false);
                if (HasFatalFailure()) return;
                compara(GetParam(), X, V, 2, nu, true);
                if (HasFatalFailure()) return;
            }
        }
    }
}

}  // namespace
