// Every kernel against the plain loop, bit for bit, on many random networks.
#include "numeric/entrenamiento.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "numeric/sanger.hpp"

namespace {

// Equal bits, or both NaN: a NaN's payload is not part of the result.
bool mismos_bits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

struct red {
    uint32_t filas, cols;
    matriz m;
    red(uint32_t f, uint32_t c) : filas(f), cols(c), m(reserva_matriz(f, c)) {}
    red(const red& otra) : red(otra.filas, otra.cols) {
        for (uint32_t r = 0; r < filas; ++r)
            for (uint32_t c = 0; c < cols; ++c) m[r][c] = otra.m[r][c];
    }
    ~red() {
        libera_matriz(filas, m);
    }
};

// Trains a copy of W for some cycles with the kernel; returns each cycle's err
// after the weights.
std::vector<float> entrena(nucleo n, const red& X, red& W, uint32_t ciclos, float nu) {
    std::vector<float> y(W.cols + 1), err(W.cols + 1), errores;
    entrenamiento e = empieza_entrenamiento(n, W.m, W.filas, W.cols);
    for (uint32_t c = 0; c < ciclos; ++c) {
        std::fill(err.begin(), err.end(), 0.0f);
        ciclo_entrenamiento(e, X.m, X.filas, nu, y.data(), err.data());
        errores.insert(errores.end(), err.begin(), err.begin() + W.cols);
        nu = nu * 0.75f;
    }
    termina_entrenamiento(e);
    return errores;
}

void compara(nucleo n, const red& X, const red& W0, uint32_t ciclos, float nu) {
    red esperada(W0), obtenida(W0);
    std::vector<float> err_esperado = entrena(nucleo::simple, X, esperada, ciclos, nu);
    std::vector<float> err_obtenido = entrena(n, X, obtenida, ciclos, nu);
    for (size_t i = 0; i < err_esperado.size(); ++i)
        ASSERT_TRUE(mismos_bits(err_esperado[i], err_obtenido[i]))
            << "err " << i << ": " << err_esperado[i] << " vs " << err_obtenido[i];
    for (uint32_t k = 0; k < W0.filas; ++k)
        for (uint32_t j = 0; j < W0.cols; ++j)
            ASSERT_TRUE(mismos_bits(esperada.m[k][j], obtenida.m[k][j]))
                << "W[" << k << "][" << j << "]: " << esperada.m[k][j] << " vs "
                << obtenida.m[k][j];
}

class Nucleo : public testing::TestWithParam<nucleo> {
   protected:
    void SetUp() override {
        if (!nucleo_soportado(GetParam())) GTEST_SKIP() << "this CPU cannot run the kernel";
    }
};

INSTANTIATE_TEST_SUITE_P(Todos, Nucleo,
                         testing::Values(nucleo::prefijo, nucleo::avx2, nucleo::avx512,
                                         nucleo::portatil),
                         [](const testing::TestParamInfo<nucleo>& info) {
                             switch (info.param) {
                                 case nucleo::prefijo: return "prefijo";
                                 case nucleo::avx2: return "avx2";
                                 case nucleo::portatil: return "portatil";
                                 default: return "avx512";
                             }
                         });

// Sizes on both sides of every lane and block boundary, outputs above inputs,
// and inputs wide enough for each lane to keep its own state.
TEST_P(Nucleo, SameBitsAsThePlainLoopOnRandomNetworks) {
    std::mt19937 azar(20261208);
    std::uniform_real_distribution<float> valor(-2.0f, 2.0f);
    for (int prueba = 0; prueba < 300; ++prueba) {
        const uint32_t dimension = prueba % 6 == 5 ? 170 + azar() % 120 : 1 + azar() % 70;
        const uint32_t nsalidas = azar() % 40;
        const uint32_t nmuestras = azar() % 12;
        SCOPED_TRACE(testing::Message() << dimension << " inputs, " << nsalidas << " outputs, "
                                        << nmuestras << " samples");
        red X(nmuestras, dimension), W(dimension, nsalidas);
        for (uint32_t s = 0; s < nmuestras; ++s)
            for (uint32_t k = 0; k < dimension; ++k) X.m[s][k] = azar() % 8 == 0 ? 0 : valor(azar);
        rand_w(W.m, dimension, nsalidas);
        compara(GetParam(), X, W, 1 + azar() % 3, 0.01f);
        if (HasFatalFailure()) return;
    }
}

// Each kind of awkward data on its own, at sizes around the lane width, so
// that one NaN does not hide the others. Where the plain loop overflows to an
// infinite error, padding lanes must not turn it into a NaN (the stop test
// treats the two differently).
TEST_P(Nucleo, SameBitsOnDegenerateData) {
    static constexpr float inf = std::numeric_limits<float>::infinity();
    static constexpr float nan = std::numeric_limits<float>::quiet_NaN();
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
                red X(c.nmuestras, dimension), W(dimension, nsalidas);
                rand_w(W.m, dimension, nsalidas);
                for (uint32_t s = 0; s < c.nmuestras; ++s)
                    for (uint32_t k = 0; k < dimension; ++k) X.m[s][k] = c.valor(s, k);
                if (c.error_infinito) {
                    red copia(W);
                    EXPECT_EQ(entrena(nucleo::simple, X, copia, 1, c.nu)[0], inf);
                }
                compara(GetParam(), X, W, 3, c.nu);
                if (HasFatalFailure()) return;
            }
        }
    }
}

// The widest kernel the CPU runs, for networks large enough to fill it: the
// portable one wherever the x86 ones cannot run.
TEST(NucleoPreferido, WidestSupportedForLargeNetworksPrefixForSmallOnes) {
    EXPECT_TRUE(nucleo_soportado(nucleo::portatil));
    const nucleo ancho = nucleo_soportado(nucleo::avx512) ? nucleo::avx512
                         : nucleo_soportado(nucleo::avx2) ? nucleo::avx2
                                                          : nucleo::portatil;
    EXPECT_EQ(nucleo_preferido(64, 16), ancho);
    EXPECT_EQ(nucleo_preferido(784, 4), ancho);
    EXPECT_EQ(nucleo_preferido(4, 2), nucleo::prefijo);
    EXPECT_EQ(nucleo_preferido(15, 64), nucleo::prefijo);
    EXPECT_EQ(nucleo_preferido(64, 3), nucleo::prefijo);
}

}  // namespace
