#include "numeric/sanger.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "numeric/entrenamiento.hpp"
#include "tests/comun.hpp"

namespace {

TEST(RandW, GlibcSequenceSeededWithOneInRowOrderOnEveryCall) {
    muestras W(2, 3);
    for (int vez = 0; vez < 2; ++vez) {
        std::rand();  // the start must not depend on earlier use of the generator
        EXPECT_EQ(rand_w(W.m, 2, 3), W.m);
        EXPECT_EQ(W.fila(0), (std::vector<float>{0x1.159e2cp-1f, 0x1.1e323cp-2f, 0x1.86930ep-3f}));
        EXPECT_EQ(W.fila(1), (std::vector<float>{0x1.21ce44p-1f, 0x1.7146e2p-1f, 0x1.73fee8p-1f}));
    }
}

TEST(Salsanger, ProjectsOntoEachColumn) {
    muestras W({{0.6f, 1}, {0.8f, -1}});
    muestras xy({{3, 4}, {0, 0}});
    EXPECT_EQ(salsanger(W.m, xy.m[0], xy.m[1], 2, 2), xy.m[1]);
    EXPECT_EQ(xy.fila(1), (std::vector<float>{5, -1}));
}

// One output neuron is Oja's rule: h = x[k] − y[0]·W[k][0].
TEST(CicloSangerSimple, OneNeuronFollowsOjasRule) {
    muestras W(2, 1);
    W.m[0][0] = W.m[1][0] = 0.5f;
    muestras X({{2, 0}});
    muestras y_err(2, 1);
    ciclo_sanger_simple(X.m, 1, 2, W.m, 1, 0.5f, y_err.m[0], y_err.m[1]);
    EXPECT_EQ(W.fila(0), std::vector<float>{1.25f});
    EXPECT_EQ(W.fila(1), std::vector<float>{0.25f});
    EXPECT_EQ(y_err.m[1][0], 2.5f);
}

// The residual of W[1][1] already sees the new W[1][0]: 1 − 1·0.5 − 1·1.
TEST(CicloSangerSimple, WeightsChangeInPlaceInVisitingOrder) {
    muestras W({{1, 0}, {0, 1}});
    muestras X({{1, 1}});
    muestras y_err(2, 2);
    ciclo_sanger_simple(X.m, 1, 2, W.m, 2, 0.5f, y_err.m[0], y_err.m[1]);
    EXPECT_EQ(W.fila(0), (std::vector<float>{1, 0}));
    EXPECT_EQ(W.fila(1), (std::vector<float>{0.5f, 0.75f}));
    EXPECT_EQ(y_err.fila(1), (std::vector<float>{1, 0.25f}));
}

TEST(Sanger, NoCycleLeavesThePseudoRandomStartAndReportsNothing) {
    muestras X({{1, 2}, {3, 4}});
    testing::internal::CaptureStderr();
    matriz W = sanger(2, 2, X.m, 1, 0.3f, 0, 0.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fila(W, 0, 1), std::vector<float>{0x1.159e2cp-1f});
    EXPECT_EQ(fila(W, 1, 1), std::vector<float>{0x1.1e323cp-2f});
    libera_matriz(2, W);
}

// Twenty cycles with nu falling from 0.05 by 0.0025 each, to known bits; a
// second training from the same sizes and samples starts and ends the same.
TEST(Sanger, TrainsToKnownWeightsEveryTime) {
    muestras X({{1, -2, 0.5f}, {3, 4, -1}, {0, 0.25f, 2}});
    for (int vez = 0; vez < 2; ++vez) {
        testing::internal::CaptureStderr();
        matriz W = sanger(3, 3, X.m, 2, 0.05f, 20, 0.0f);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(fila(W, 0, 2), (std::vector<float>{0x1.124fbap-1f, -0x1.336704p-2f}));
        EXPECT_EQ(fila(W, 1, 2), (std::vector<float>{0x1.a18842p-1f, 0x1.58bac4p-2f}));
        EXPECT_EQ(fila(W, 2, 2), (std::vector<float>{-0x1.c51116p-3f, -0x1.19c99ep-2f}));
        libera_matriz(3, W);
    }
}

TEST(DivisorError, DoesNotWrapAt32Bits) {
    EXPECT_EQ(divisor_error(4, 150), 600.0f);
    EXPECT_EQ(divisor_error(65536, 65537), 0x1.00010p+32f);
    EXPECT_EQ(divisor_error(4294967295u, 4294967295u), 0x1p+64f);
}

}  // namespace
