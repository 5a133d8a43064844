#include "matrix/hermat.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Reads text as lee_matriz would read a file.
uint32_t lee_texto(std::string texto, uint32_t rows, uint32_t cols, matriz m) {
    FILE* f = fmemopen(texto.data(), texto.size(), "r");
    uint32_t leidas = lee_matriz(f, rows, cols, m);
    std::fclose(f);
    return leidas;
}

std::string escribe_texto(uint32_t rows, uint32_t cols, matriz m) {
    char* datos = nullptr;
    size_t largo = 0;
    FILE* f = open_memstream(&datos, &largo);
    escribe_matriz(f, rows, cols, m);
    std::fclose(f);
    std::string texto(datos, largo);
    std::free(datos);
    return texto;
}

std::vector<float> fila(matriz m, uint32_t r, uint32_t cols) {
    return std::vector<float>(m[r], m[r] + cols);
}

TEST(Reserva, BlocksAreZeroedAndEmptyOnesNeverFail) {
    matriz m = reserva_matriz(3, 2);
    for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(fila(m, r, 2), (std::vector<float>{0, 0}));
    libera_matriz(3, m);
    libera_vector(reserva_vector(0));
    libera_matriz(0, reserva_matriz(0, 5));
}

TEST(LeeMatriz, CountsCompleteRowsAndKeepsAPartialOne) {
    struct caso {
        const char* texto;
        uint32_t filas;
        std::vector<float> fila0, fila1;
    } casos[] = {
        {"", 0, {9, 9}, {9, 9}},
        {"  \n\t ", 0, {9, 9}, {9, 9}},
        {"1 2 3", 1, {1, 2}, {3, 9}},
        {"1\n2\n3\n4\n5", 2, {1, 2}, {3, 4}},
        {"-1.5-2.5\r\n+.5 1e-3", 2, {-1.5f, -2.5f}, {0.5f, 0.001f}},
    };
    for (const caso& c : casos) {
        SCOPED_TRACE(c.texto);
        matriz m = reserva_matriz(2, 2);
        for (uint32_t r = 0; r < 2; ++r) m[r][0] = m[r][1] = 9;
        EXPECT_EQ(lee_texto(c.texto, 2, 2, m), c.filas);
        EXPECT_EQ(fila(m, 0, 2), c.fila0);
        EXPECT_EQ(fila(m, 1, 2), c.fila1);
        libera_matriz(2, m);
    }
}

TEST(LeeMatriz, NoColumnsReadsNothing) {
    matriz m = reserva_matriz(4, 0);
    EXPECT_EQ(lee_texto("x", 4, 0, m), 4u);
    libera_matriz(4, m);
}

TEST(LeeMatriz, OneVectorIsAOneRowMatriz) {
    vector x = reserva_vector(3);
    EXPECT_EQ(lee_texto("7 8 9 10", 1, 3, &x), 1u);
    EXPECT_EQ(fila(&x, 0, 3), (std::vector<float>{7, 8, 9}));
    libera_vector(x);
}

TEST(LeeMatrizDeathTest, ATokenThatIsNotANumberIsFatal) {
    matriz m = reserva_matriz(2, 2);
    EXPECT_EXIT(lee_texto("1 2 3 x", 2, 2, m), testing::ExitedWithCode(255),
                "^Error:Tipo erroneo de fichero de entrada\\.$");
    libera_matriz(2, m);
}

TEST(LeeMatrizDeathTest, AReadErrorIsNotAnEndOfFile) {
    matriz m = reserva_matriz(1, 1);
    auto lee_carpeta = [&] { lee_matriz(std::fopen(".", "r"), 1, 1, m); };
    EXPECT_EXIT(lee_carpeta(), testing::ExitedWithCode(255), "^Error:No se pudo leer fichero\\.$");
    libera_matriz(1, m);
}

TEST(EscribeMatriz, TabsBetweenValuesNewlineAfterEachRow) {
    matriz m = reserva_matriz(2, 3);
    float valores[2][3] = {{1, 0.5f, -2}, {1e6f, 0.0001f, 0.00001f}};
    for (uint32_t r = 0; r < 2; ++r)
        for (uint32_t c = 0; c < 3; ++c) m[r][c] = valores[r][c];
    EXPECT_EQ(escribe_texto(2, 3, m), "1\t0.5\t-2\n1e+06\t0.0001\t1e-05\n");
    EXPECT_EQ(escribe_texto(1, 1, m), "1\n");
    EXPECT_EQ(escribe_texto(2, 0, m), "");
    libera_matriz(2, m);
}

TEST(EscribeMatrizDeathTest, AFullDiskIsFatalEvenWhenSeenOnlyAtClose) {
    matriz m = reserva_matriz(1, 1);
    auto escribe_lleno = [&] {
        FILE* f = std::fopen("/dev/full", "w");
        escribe_matriz(f, 1, 1, m);
        cierra_escritura(f);
    };
    EXPECT_EXIT(escribe_lleno(), testing::ExitedWithCode(255),
                "^Error:No se pudo escribir fichero\\.$");
    libera_matriz(1, m);
}

}  // namespace
