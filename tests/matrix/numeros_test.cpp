// The number text against the C library itself: "%g" for writing, "%f" for
// reading, value for value, character for character.
#include "matrix/numeros.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string como_printf(float v) {
    char texto[64];
    std::snprintf(texto, sizeof texto, "%g", static_cast<double>(v));
    return texto;
}

std::string como_escribe_real(float v) {
    char texto[24];
    char* fin = escribe_real(texto, v);
    EXPECT_LE(fin - texto, 13);
    return std::string(texto, fin);
}

float de_bits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(EscribeReal, SameTextAsPrintfOnSpecialValues) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float v : {0.0f,
                    -0.0f,
                    1.0f,
                    -2.0f,
                    0.5f,
                    1e6f,
                    999999.0f,
                    999999.5f,
                    9999995.0f,
                    1234565.0f,
                    0.0001f,
                    0.00001f,
                    1e-5f,
                    123456.5f,
                    0.000123456f,
                    1e-45f,
                    1.17549435e-38f,
                    3.4028235e38f,
                    100000.0f,
                    99999.95f,
                    2.5e-5f,
                    inf,
                    -inf,
                    nan,
                    -nan})
        EXPECT_EQ(como_escribe_real(v), como_printf(v)) << std::hexfloat << v;
}

// Every exponent, random significands, and the neighbours of the values where
// six digits tie or the exponent changes.
TEST(EscribeReal, SameTextAsPrintfOnRandomBits) {
    std::mt19937 azar(1);
    for (int i = 0; i < 300000; ++i) {
        const float v = de_bits(static_cast<uint32_t>(azar()));
        ASSERT_EQ(como_escribe_real(v), como_printf(v)) << std::hexfloat << v;
    }
    for (uint32_t digitos = 100000; digitos < 1000000; digitos += 7) {
        for (int e = -45; e <= 38; e += 7) {
            const float v = static_cast<float>((digitos + 0.5) * std::pow(10.0, e - 5));
            for (float w : {v, std::nextafter(v, 0.0f),
                            std::nextafter(v, std::numeric_limits<float>::infinity())})
                ASSERT_EQ(como_escribe_real(w), como_printf(w)) << std::hexfloat << w;
        }
    }
}

// One read, as either reader sees it.
struct paso {
    int resultado;  // 1 value, 0 not a number, EOF end
    uint32_t bits;  // the value, NaNs folded to their sign
    long posicion;  // where the stream stands after the read
    bool operator==(const paso&) const = default;
};

std::ostream& operator<<(std::ostream& os, const paso& p) {
    return os << "{" << p.resultado << ", " << std::hex << p.bits << std::dec << ", @" << p.posicion
              << "}";
}

uint32_t bits_de(float v) {
    if (std::isnan(v)) return std::signbit(v) ? 0xffc00000u : 0x7fc00000u;
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Reads the whole stream, until the end or a failure.
std::vector<paso> lee_todo(FILE* f, bool con_fscanf) {
    std::vector<paso> pasos;
    std::string texto;
    for (;;) {
        float v = 0.0f;
        int r;
        if (con_fscanf) {
            r = std::fscanf(f, "%f", &v);
        } else {
            const lectura l = lee_real(f, v, texto);
            r = l == lectura::numero ? 1 : l == lectura::fin ? EOF : 0;
        }
        pasos.push_back({r, r == 1 ? bits_de(v) : 0u, std::ftell(f)});
        if (r != 1) return pasos;
    }
}

// The same text through a real file whose stream reads through a buffer of a
// few bytes, so that most tokens longer than that straddle a refill. The
// buffer is handed to the stream: asked only for a size, the C library keeps
// its own 4 KiB one and no short text ever crosses a refill.
std::vector<paso> lee_archivo(const std::string& ruta, bool con_fscanf, size_t largo_bufer) {
    char bufer[8];
    FILE* f = std::fopen(ruta.c_str(), "r");
    std::setvbuf(f, bufer, _IOFBF, largo_bufer);
    std::vector<paso> pasos = lee_todo(f, con_fscanf);
    std::fclose(f);
    return pasos;
}

void compara_lectura(const std::string& texto, const std::string& ruta) {
    std::string copia = texto;
    FILE* a = fmemopen(copia.data(), copia.size(), "r");
    FILE* b = fmemopen(copia.data(), copia.size(), "r");
    ASSERT_EQ(lee_todo(b, false), lee_todo(a, true)) << "text: \"" << texto << "\"";
    std::fclose(a);
    std::fclose(b);
    FILE* f = std::fopen(ruta.c_str(), "w");
    std::fwrite(texto.data(), 1, texto.size(), f);
    std::fclose(f);
    for (size_t largo_bufer : {3, 7})
        ASSERT_EQ(lee_archivo(ruta, false, largo_bufer), lee_archivo(ruta, true, largo_bufer))
            << "text: \"" << texto << "\", buffer of " << largo_bufer;
}

class LeeReal : public testing::Test {
   protected:
    std::string ruta;
    void SetUp() override {
        char plantilla[] = "/tmp/numeros.XXXXXX";
        close(mkstemp(plantilla));
        ruta = plantilla;
    }
    void TearDown() override {
        std::remove(ruta.c_str());
    }
};

TEST_F(LeeReal, KnownQuirksOfTheCLibrary) {
    for (const char* texto : {"1-2",
                              "1.5.3",
                              "1e 5",
                              "1e+ 5",
                              "1ex",
                              "+.5",
                              "0x1p3",
                              "inf",
                              "infinity",
                              "INFINITY",
                              "nan",
                              "NaN(123)",
                              "-",
                              ".",
                              "+",
                              "0x",
                              "-0x",
                              "0x.",
                              "0x.p1",
                              "in",
                              "infin",
                              "abc",
                              "1e",
                              "1e+",
                              "-.5e-1",
                              "1e39",
                              "-1e39",
                              "1e-46",
                              "7e-46",
                              "1.4e-45",
                              "3.40282357e38",
                              "-0",
                              "-nan",
                              "1,5",
                              "\v1\f2\r\n3\t4 ",
                              "0e999999999999",
                              "1e-99999999999"})
        compara_lectura(texto, ruta);
}

std::string pieza(std::mt19937& azar) {
    static const char* const fijas[] = {"inf",
                                        "INF",
                                        "Infinity",
                                        "infin",
                                        "infinit",
                                        "nan",
                                        "NaN",
                                        "nan(12)",
                                        "in",
                                        "na",
                                        "i",
                                        "n",
                                        "0x",
                                        "0X1p3",
                                        "0x1.8p-2",
                                        "0x.",
                                        "0xg",
                                        "0x1pa",
                                        "0xE.Ep+1",
                                        "-",
                                        "+",
                                        "--",
                                        "+-",
                                        ".",
                                        "..",
                                        ".5",
                                        "5.",
                                        "x",
                                        ",",
                                        "abc",
                                        "\xc3\xa9",
                                        "\x01",
                                        "1e39",
                                        "1e-46",
                                        "7e-46",
                                        "3.4028235e38",
                                        "3.40282357e38",
                                        "1e-4500",
                                        "0e5",
                                        "00012",
                                        "1.e1",
                                        ".e1",
                                        "e5",
                                        "1e0x5",
                                        "-0x1p-149"};
    static const char* const blancos[] = {" ", "\t", "\n", "\r\n", "\v", "\f", "  \n "};
    switch (azar() % 5) {
        case 0: return fijas[azar() % (sizeof fijas / sizeof *fijas)];
        case 1: return blancos[azar() % (sizeof blancos / sizeof *blancos)];
        default: {
            std::string n;
            if (azar() % 3 == 0) n += "+-"[azar() % 2];
            const int cifras = azar() % 8 == 0 ? 20 + azar() % 300 : azar() % 10;
            const int punto = azar() % 2 ? static_cast<int>(azar() % (cifras + 1)) : -1;
            for (int i = 0; i < cifras; ++i) {
                if (i == punto) n += '.';
                n += static_cast<char>('0' + azar() % 10);
            }
            if (azar() % 3 == 0) {
                n += "eE"[azar() % 2];
                if (azar() % 2) n += "+-"[azar() % 2];
                const int exp = azar() % 6 == 0 ? 6 : azar() % 3;
                for (int i = 0; i < exp; ++i) n += static_cast<char>('0' + azar() % 10);
            }
            return n;
        }
    }
}

TEST_F(LeeReal, SameReadsAsFscanfOnRandomStreams) {
    std::mt19937 azar(2026);
    for (int prueba = 0; prueba < 6000; ++prueba) {
        std::string texto;
        const int piezas = 1 + azar() % 12;
        for (int i = 0; i < piezas; ++i) texto += pieza(azar);
        compara_lectura(texto, ruta);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
