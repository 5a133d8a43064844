#include "numeric/reduccion.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/comun.hpp"

namespace {

struct reduccion {
    std::string lineas;   // the reduced samples file
    std::string informe;  // standard error
};

// Reduces up to n samples of the text through the dim × m weights.
reduccion reduce(std::string texto, uint32_t n, uint32_t dim, uint32_t m, const float* pesos,
                 int media_fila = 0, int varianza = 1) {
    muestras W(dim, m);
    for (uint32_t k = 0; k < dim; ++k)
        for (uint32_t j = 0; j < m; ++j) W.m[k][j] = pesos[k * m + j];
    entrada_texto entrada(std::move(texto));
    salida_texto salida;
    testing::internal::CaptureStderr();
    transforma(n, dim, m, W.m, entrada.f, salida.f, media_fila, varianza);
    reduccion r;
    r.informe = testing::internal::GetCapturedStderr();
    r.lineas = salida.texto();
    return r;
}

std::string informe(const char* vin, const char* vout, const char* p) {
    return std::string("Varianza en la entrada:  ") + vin + "\nVarianza en la salida:   " + vout +
           "\n% varianza representada: " + p + "%\n";
}

const float hacia_3_4[] = {0.6f, 0.8f};

TEST(Transforma, ProjectsEachSampleOntoTheWeightVectors) {
    reduccion r = reduce("3 4", 1, 2, 1, hacia_3_4);
    EXPECT_EQ(r.lineas, "5\n");
    EXPECT_EQ(r.informe, informe("25.000000", "25.000000", "100.000000"));

    const float identidad_y_suma[] = {1, 0, 1, 0, 1, 1};  // 2 × 3
    r = reduce("3 4\n-1 0.5\n", 2, 2, 3, identidad_y_suma);
    EXPECT_EQ(r.lineas, "3\t4\t7\n-1\t0.5\t-0.5\n");
    EXPECT_EQ(r.informe, informe("13.125000", "37.750000", "287.619049"));
}

TEST(Transforma, FiguresAreMeansOverTheSamplesActuallyReduced) {
    // Asked for 5, the file holds 2 whole samples and half of a third.
    reduccion r = reduce("3 4 6 8 1", 5, 2, 1, hacia_3_4);
    EXPECT_EQ(r.lineas, "5\n10\n");
    EXPECT_EQ(r.informe, informe("62.500000", "62.500000", "100.000000"));

    r = reduce("3 4 6 8", 1, 2, 1, hacia_3_4);
    EXPECT_EQ(r.lineas, "5\n");
}

TEST(Transforma, NothingToDivideByGivesZeroFigures) {
    reduccion r = reduce("3 4", 0, 2, 1, hacia_3_4);
    EXPECT_EQ(r.lineas, "");
    EXPECT_EQ(r.informe, informe("0.000000", "0.000000", "0.000000"));

    r = reduce("0 0\n0 0\n", 2, 2, 1, hacia_3_4);
    EXPECT_EQ(r.lineas, "0\n0\n");
    EXPECT_EQ(r.informe, informe("0.000000", "0.000000", "0.000000"));

    r = reduce("3 4", 1, 2, 0, hacia_3_4);
    EXPECT_EQ(r.lineas, "");
    EXPECT_EQ(r.informe, informe("25.000000", "0.000000", "0.000000"));
}

TEST(Transforma, RowCentringOnlyAndReportOnRequest) {
    const float identidad[] = {1, 0, 0, 1};
    reduccion r = reduce("3 4", 1, 2, 2, identidad, 1, 0);
    EXPECT_EQ(r.lineas, "-0.5\t0.5\n");
    EXPECT_EQ(r.informe, "");
}

}  // namespace
