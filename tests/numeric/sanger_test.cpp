#include "numeric/sanger.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace {

matriz matriz_de(std::initializer_list<std::vector<float>> filas) {
    uint32_t cols = filas.size() == 0 ? 0 : static_cast<uint32_t>(filas.begin()->size());
    matriz m = reserva_matriz(static_cast<uint32_t>(filas.size()), cols);
    uint32_t r = 0;
    for (const auto& f : filas) {
        for (uint32_t c = 0; c < cols; ++c) m[r][c] = f[c];
        ++r;
    }
    return m;
}

std::vector<float> fila(matriz m, uint32_t r, uint32_t cols) {
    return std::vector<float>(m[r], m[r] + cols);
}

TEST(RandW, GlibcSequenceSeededWithOneInRowOrderOnEveryCall) {
    matriz W = reserva_matriz(2, 3);
    for (int vez = 0; vez < 2; ++vez) {
        std::rand();  // the start must not depend on earlier use of the generator
        rand_w(W, 2, 3);
        EXPECT_EQ(fila(W, 0, 3),
                  (std::vector<float>{0x1.159e2cp-1f, 0x1.1e323cp-2f, 0x1.86930ep-3f}));
        EXPECT_EQ(fila(W, 1, 3),
                  (std::vector<float>{0x1.21ce44p-1f, 0x1.7146e2p-1f, 0x1.73fee8p-1f}));
    }
    libera_matriz(2, W);
}

TEST(Salsanger, ProjectsOntoEachColumn) {
    matriz W = matriz_de({{0.6f, 1}, {0.8f, -1}});
    vector x = reserva_vector(2);
    vector y = reserva_vector(2);
    x[0] = 3;
    x[1] = 4;
    EXPECT_EQ(salsanger(W, x, y, 2, 2), y);
    EXPECT_EQ(fila(&y, 0, 2), (std::vector<float>{5, -1}));
    libera_matriz(2, W);
    libera_vector(x);
    libera_vector(y);
}

// One output neuron is Oja's rule: h = x[k] − y[0]·W[k][0].
TEST(CicloSangerSimple, OneNeuronFollowsOjasRule) {
    matriz W = matriz_de({{0.5f}, {0.5f}});
    matriz X = matriz_de({{2, 0}});
    vector y = reserva_vector(1);
    vector err = reserva_vector(1);
    ciclo_sanger_simple(X, 1, 2, W, 1, 0.5f, y, err);
    EXPECT_EQ(fila(W, 0, 1), std::vector<float>{1.25f});
    EXPECT_EQ(fila(W, 1, 1), std::vector<float>{0.25f});
    EXPECT_EQ(err[0], 2.5f);
    libera_matriz(2, W);
    libera_matriz(1, X);
    libera_vector(y);
    libera_vector(err);
}

// The residual of W[1][1] already sees the new W[1][0]: 1 − 1·0.5 − 1·1.
TEST(CicloSangerSimple, WeightsChangeInPlaceInVisitingOrder) {
    matriz W = matriz_de({{1, 0}, {0, 1}});
    matriz X = matriz_de({{1, 1}});
    vector y = reserva_vector(2);
    vector err = reserva_vector(2);
    ciclo_sanger_simple(X, 1, 2, W, 2, 0.5f, y, err);
    EXPECT_EQ(fila(W, 0, 2), (std::vector<float>{1, 0}));
    EXPECT_EQ(fila(W, 1, 2), (std::vector<float>{0.5f, 0.75f}));
    EXPECT_EQ(fila(&err, 0, 2), (std::vector<float>{1, 0.25f}));
    libera_matriz(2, W);
    libera_matriz(1, X);
    libera_vector(y);
    libera_vector(err);
}

TEST(Sanger, NoCycleLeavesThePseudoRandomStartAndReportsNothing) {
    matriz X = matriz_de({{1, 2}, {3, 4}});
    testing::internal::CaptureStderr();
    matriz W = sanger(2, 2, X, 1, 0.3f, 0, 0.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fila(W, 0, 1), std::vector<float>{0x1.159e2cp-1f});
    EXPECT_EQ(fila(W, 1, 1), std::vector<float>{0x1.1e323cp-2f});
    libera_matriz(2, W);
    libera_matriz(2, X);
}

TEST(Sanger, SameSizesAndSamplesGiveTheSameWeights) {
    matriz X = matriz_de({{1, -2, 0.5f}, {3, 4, -1}, {0, 0.25f, 2}});
    testing::internal::CaptureStderr();
    matriz A = sanger(3, 3, X, 2, 0.05f, 20, 0.0f);
    matriz B = sanger(3, 3, X, 2, 0.05f, 20, 0.0f);
    testing::internal::GetCapturedStderr();
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(fila(A, k, 2), fila(B, k, 2));
    libera_matriz(3, A);
    libera_matriz(3, B);
    libera_matriz(3, X);
}

TEST(DivisorError, DoesNotWrapAt32Bits) {
    EXPECT_EQ(divisor_error(4, 150), 600.0f);
    EXPECT_EQ(divisor_error(65536, 65537), 0x1.00010p+32f);
    EXPECT_EQ(divisor_error(4294967295u, 4294967295u), 0x1p+64f);
}

}  // namespace
