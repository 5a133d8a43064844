#include "matrix/hermat.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/comun.hpp"

namespace {

// Reads text as lee_matriz would read a file.
uint32_t lee_texto(std::string texto, uint32_t rows, uint32_t cols, matriz m) {
    entrada_texto entrada(std::move(texto));
    return lee_matriz(entrada.f, rows, cols, m);
}

std::string escribe_texto(uint32_t rows, uint32_t cols, matriz m) {
    salida_texto salida;
    escribe_matriz(salida.f, rows, cols, m);
    return salida.texto();
}

TEST(Reserva, BlocksAreZeroed) {
    matriz m = reserva_matriz(3, 2);
    for (uint32_t r = 0; r < 3; ++r) EXPECT_EQ(fila(m, r, 2), (std::vector<float>{0, 0}));
    libera_matriz(3, m);
}

// An empty block is never "Falta memoria", whatever the allocator gives for
// it, and releasing one touches no row: the process goes on without a word.
TEST(ReservaDeathTest, EmptyBlocksNeverFail) {
    auto vacios = [] {
        libera_vector(reserva_vector(0));
        libera_matriz(0, reserva_matriz(0, 5));
        libera_matriz(4, reserva_matriz(4, 0));
        std::fprintf(stderr, "fin");
        std::exit(0);
    };
    EXPECT_EXIT(vacios(), testing::ExitedWithCode(0), "^fin$");
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

// A row longer than the writer's own block of 16 KiB: the last value starts
// 14 bytes before the block's end, where its text fits but its writing (24
// bytes) would not.
TEST(EscribeMatriz, ALongRowCrossesTheWritersBlock) {
    vector x = reserva_vector(8186);
    for (uint32_t c = 0; c < 8185; ++c) x[c] = 1;
    x[8185] = -12345.6f;
    std::string esperado;
    for (uint32_t c = 0; c < 8185; ++c) esperado += "1\t";
    esperado += "-12345.6\n";
    EXPECT_EQ(escribe_texto(1, 8186, &x), esperado);
    libera_vector(x);
}

// Through streams with a small buffer of their own, the writer and fprintf
// give the same bytes. Values of every width meet the end of the writer's
// 16 KiB block at many offsets: a flush margin too short for the widest
// writing overruns the block there.
TEST(EscribeMatriz, SameBytesAsFprintfThroughASmallBuffer) {
    std::mt19937 azar(11);
    std::normal_distribution<float> normal(0.0f, 1000.0f);
    muestras x(40, 3000);
    for (uint32_t r = 0; r < x.filas; ++r) {
        for (uint32_t c = 0; c < x.cols; ++c) {
            uint32_t bits = static_cast<uint32_t>(azar());
            float v;
            std::memcpy(&v, &bits, sizeof v);
            x.m[r][c] = c % 3 == 0 ? v : normal(azar);
        }
    }
    auto escribe = [&](bool con_fprintf) {
        char bufer[61];
        FILE* f = std::tmpfile();
        std::setvbuf(f, bufer, _IOFBF, sizeof bufer);
        if (con_fprintf) {
            for (uint32_t r = 0; r < x.filas; ++r)
                for (uint32_t c = 0; c < x.cols; ++c)
                    std::fprintf(f, "%g%c", static_cast<double>(x.m[r][c]),
                                 c + 1 == x.cols ? '\n' : '\t');
        } else {
            escribe_matriz(f, x.filas, x.cols, x.m);
        }
        std::string texto(static_cast<size_t>(std::ftell(f)), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(texto.data(), 1, texto.size(), f), texto.size());
        std::fclose(f);
        return texto;
    };
    EXPECT_EQ(escribe(false), escribe(true));
}

// The C library keeps its own 4 KiB buffer unless it is handed one: a data
// file's stream must really read and write tamano_bufer bytes at a time.
// Bytes changed behind a reading stream are seen only past its first
// buffer, and a writing stream puts nothing in the file until its buffer
// overflows.
TEST(AbreFichero, StreamsWorkThroughTheirOwnLargeBuffer) {
    char plantilla[] = "/tmp/hermat.XXXXXX";
    close(mkstemp(plantilla));
    const std::string ruta = plantilla;
    const size_t n = 300000;
    {
        fichero f = abre_fichero(ruta.c_str(), "w", "No se pudo abrir fichero");
        for (size_t i = 0; i < tamano_bufer; ++i) std::putc('a', f.get());
        EXPECT_EQ(std::filesystem::file_size(ruta), 0u);
        for (size_t i = tamano_bufer; i < n; ++i) std::putc('a', f.get());
        EXPECT_EQ(std::filesystem::file_size(ruta), 262144u);
        cierra_escritura(std::move(f));
    }
    {
        fichero f = abre_fichero(ruta.c_str(), "r", "No se pudo abrir fichero de muestras");
        EXPECT_EQ(std::getc(f.get()), 'a');
        FILE* g = std::fopen(ruta.c_str(), "r+");
        std::fseek(g, 262143, SEEK_SET);
        std::fputs("bb", g);
        std::fclose(g);
        std::string resto(n - 1, '\0');
        EXPECT_EQ(std::fread(resto.data(), 1, resto.size(), f.get()), n - 1);
        std::string esperado(n - 1, 'a');
        esperado[262144 - 1] = 'b';  // the first byte of the second buffer
        EXPECT_EQ(resto, esperado);
    }
    std::remove(ruta.c_str());
}

TEST(EscribeMatrizDeathTest, AFullDiskIsFatalEvenWhenSeenOnlyAtClose) {
    matriz m = reserva_matriz(1, 1);
    auto escribe_lleno = [&] {
        fichero f = abre_fichero("/dev/full", "w", "No se pudo abrir fichero");
        escribe_matriz(f.get(), 1, 1, m);
        cierra_escritura(std::move(f));
    };
    EXPECT_EXIT(escribe_lleno(), testing::ExitedWithCode(255),
                "^Error:No se pudo escribir fichero\\.$");
    libera_matriz(1, m);
}

}  // namespace
