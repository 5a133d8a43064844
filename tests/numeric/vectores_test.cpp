#include "numeric/vectores.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/comun.hpp"

namespace {

TEST(Vectores, CopyDotAndLength) {
    muestras a({{3, 4}, {0, 0}});
    EXPECT_EQ(copia_vector(a.m[0], a.m[1], 2), a.m[1]);
    EXPECT_EQ(a.fila(1), (std::vector<float>{3, 4}));
    EXPECT_EQ(mult(a.m[0], a.m[1], 2), 25.0f);
    EXPECT_EQ(modulo(2, a.m[0]), 5.0f);
    EXPECT_EQ(norm(2, a.m[0]), a.m[0]);
    EXPECT_EQ(a.fila(0), (std::vector<float>{0.6f, 0.8f}));
}

TEST(Vectores, NormOfAZeroVectorIsNan) {
    muestras a({{0, 0}});
    norm(2, a.m[0]);
    EXPECT_TRUE(std::isnan(a.m[0][0]) && std::isnan(a.m[0][1]));
}

TEST(Med0, RemovesTheMeanComputedBeforeAnyChange) {
    muestras a({{1, 2, 3, 6}});
    EXPECT_EQ(med0(4, a.m[0]), a.m[0]);
    EXPECT_EQ(a.fila(0), (std::vector<float>{-2, -1, 0, 3}));
    med0(0, a.m[0]);
    EXPECT_EQ(a.fila(0), (std::vector<float>{-2, -1, 0, 3}));
}

// Summed from the first value on, 1 is lost against 1e8 and the mean is
// 2 / 4; from the last value back, 2 and 1 are both lost and it would be 0.
TEST(Med0, SumsFromTheFirstValueToTheLast) {
    muestras a({{1e8f, 1, -1e8f, 2}});
    med0(4, a.m[0]);
    EXPECT_EQ(a.fila(0), (std::vector<float>{1e8f, 0.5f, -1e8f, 1.5f}));
}

// Ten times 0.1 sums to 0x1.000002p+0 in single precision, so each value keeps
// a remainder instead of becoming an exact zero.
TEST(Med0, InexactSumsLeaveTinyRemainders) {
    muestras a({std::vector<float>(10, 0.1f)});
    med0(10, a.m[0]);
    EXPECT_EQ(a.fila(0), std::vector<float>(10, -0x1p-27f));
}

// From the last row up, 1 is lost against -1e8 and the mean is 0; from the
// first row down, the two large values cancel first and the mean would be 1/3.
TEST(Media, AddsRowsFromTheLastToTheFirst) {
    muestras a({{1e8f, 2}, {-1e8f, 4}, {1, 6}});
    std::vector<float> medias(2, 0.0f);
    EXPECT_EQ(media(a.m, 3, 2, medias.data()), a.m);
    EXPECT_EQ(medias, (std::vector<float>{0, 4}));
}

TEST(Media, NoRowsGiveNanMeansThatChangeNothing) {
    muestras a({{1, 2}});
    std::vector<float> medias(2, 0.0f);
    media(a.m, 0, 2, medias.data());
    EXPECT_TRUE(std::isnan(medias[0]) && std::isnan(medias[1]));
    EXPECT_EQ(mean0(0, 2, a.m, medias.data()), a.m);
    EXPECT_EQ(a.fila(0), (std::vector<float>{1, 2}));
}

// Every mean here is exact, so the expected values are too.
TEST(CentraMuestras, RowMeansThenColumnMeans) {
    using filas = std::vector<std::vector<float>>;
    struct caso {
        bool fila, columna;
        filas esperadas;
        std::vector<float> medias;
    } casos[] = {
        {false, false, {{1, 2, 3, 6}, {2, 2, 2, 2}, {0, 0, 0, 0}, {5, 2, 3, 6}}, {}},
        {true, false, {{-2, -1, 0, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}, {1, -2, -1, 2}}, {}},
        // The zero row, a sample missing from a short file, becomes the negated means.
        {false,
         true,
         {{-1, 0.5f, 1, 2.5f}, {0, 0.5f, 0, -1.5f}, {-2, -1.5f, -2, -3.5f}, {3, 0.5f, 1, 2.5f}},
         {2, 1.5f, 2, 3.5f}},
        {true,
         true,
         {{-1.75f, -0.25f, 0.25f, 1.75f},
          {0.25f, 0.75f, 0.25f, -1.25f},
          {0.25f, 0.75f, 0.25f, -1.25f},
          {1.25f, -1.25f, -0.75f, 0.75f}},
         {-0.25f, -0.75f, -0.25f, 1.25f}},
    };
    for (const caso& c : casos) {
        SCOPED_TRACE(testing::Message() << "fila " << c.fila << " columna " << c.columna);
        muestras a({{1, 2, 3, 6}, {2, 2, 2, 2}, {0, 0, 0, 0}, {5, 2, 3, 6}});
        vector medias = centra_muestras(a.m, 4, 4, c.fila, c.columna);
        for (uint32_t r = 0; r < 4; ++r) EXPECT_EQ(a.fila(r), c.esperadas[r]);
        if (c.columna)
            EXPECT_EQ(std::vector<float>(medias, medias + 4), c.medias);
        else
            EXPECT_EQ(medias, nullptr);
        libera_vector(medias);
    }
}

}  // namespace
