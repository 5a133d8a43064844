#include "numeros.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool es_blanco(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool es_digito(int c) {
    return c >= '0' && c <= '9';
}

bool es_hexadecimal(int c) {
    return es_digito(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

int minuscula(int c) {
    return c >= 'A' && c <= 'Z' ? c | 0x20 : c;
}

// Characters of a stream, read in place from its own buffer: only the
// buffer's read position is kept between reads, exactly as getc and ungetc
// would keep it, but without a call or a lock per character.
struct lector {
    FILE* f;
    // Everything here inlines, so that the read position stays in registers.
#if defined(__GLIBC__)
    char* p;
    char* fin;
    explicit lector(FILE* entrada)
        : f(entrada), p(entrada->_IO_read_ptr), fin(entrada->_IO_read_end) {}
    ~lector() {
        f->_IO_read_ptr = p;
    }
    [[gnu::always_inline]] int lee() {
        if (p < fin) return static_cast<unsigned char>(*p++);
        f->_IO_read_ptr = p;
        const int c = __uflow(f);  // refills the buffer, as getc does
        p = f->_IO_read_ptr;
        fin = f->_IO_read_end;
        return c;
    }
    // The character just read goes back: it is still in the buffer.
    [[gnu::always_inline]] void devuelve(int c) {
        if (c != EOF) --p;
    }
#else
    explicit lector(FILE* entrada) : f(entrada) {}
    int lee() {
        return getc_unlocked(f);
    }
    void devuelve(int c) {
        if (c != EOF) ungetc(c, f);
    }
#endif
};

// Reads the letters of a word after its first, as "%f" does for "nan" and
// "infinity": any case, and a mismatch or the end fails the conversion.
[[gnu::always_inline]] inline bool sigue_palabra(lector& in, const char* resto) {
    for (; *resto != '\0'; ++resto)
        if (minuscula(in.lee()) != *resto) return false;
    return true;
}

// Tokens are kept on the stack up to this length; longer ones go on in texto.
constexpr size_t largo_corto = 64;

[[gnu::noinline, gnu::cold]] void alarga(std::string& texto, const char* corto, size_t n, int c) {
    if (n == largo_corto) texto.assign(corto, n);
    texto.push_back(static_cast<char>(c));
}

// Powers of ten that single precision holds exactly.
constexpr float potencias_exactas[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                       1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The value of a complete decimal token, as strtof gives it.
float convierte(const char* inicio, const char* fin, std::string& texto) {
    const char* cifras = *inicio == '+' ? inicio + 1 : inicio;
    float v = 0.0f;
    const auto [ptr, ec] = std::from_chars(cifras, fin, v, std::chars_format::general);
    if (ec == std::errc() && ptr != cifras) return v;
    // Out of range, from_chars gives no value where strtof gives ±inf, or a
    // zero: ask strtof itself.
    texto.assign(inicio, fin);
    return std::strtof(texto.c_str(), nullptr);
}

// A significand below 2^24 and a power of ten below 10^11 are exact in
// single precision, so one multiplication or division rounds once,
// correctly: the value strtof gives. Whether the fast way applies.
bool exacto(uint64_t mantisa, int potencia) {
    return mantisa <= (1u << 24) && potencia >= -10 && potencia <= 10;
}

float rapido(uint64_t mantisa, int potencia, bool negativo) {
    const float m = static_cast<float>(mantisa);
    const float v =
        potencia >= 0 ? m * potencias_exactas[potencia] : m / potencias_exactas[-potencia];
    return negativo ? -v : v;
}

#if defined(__GLIBC__)
// Reads the run of decimal digits at p and adds it to mantisa. Returns the
// run's end; cifras grows by its length. mantisa is only meaningful while
// cifras stays below 20.
const char* lee_cifras(const char* p, const char* fin, uint64_t& mantisa, int& cifras) {
    for (; p < fin && es_digito(*p); ++p, ++cifras)
        mantisa = mantisa * 10 + static_cast<uint64_t>(*p - '0');
    return p;
}

// The common token, read where it lies in the stream's buffer: an optional
// sign, digits, optionally a point and digits, optionally an exponent with
// digits, and then a character that ends it, all before the buffer's end.
// Returns the token's end, or nullptr for anything else, which the general
// scan then reads from the same place.
const char* lee_en_bufer(const char* p, const char* fin, float& valor, std::string& texto) {
    const char* q = p;
    const bool negativo = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    uint64_t mantisa = 0;
    int cifras = 0, decimales = 0;
    const char* digitos = q;
    q = lee_cifras(q, fin, mantisa, cifras);
    if (q == digitos + 1 && *digitos == '0' && q < fin && (*q | 0x20) == 'x') return nullptr;
    if (q < fin && *q == '.') {
        const int enteras = cifras;
        q = lee_cifras(q + 1, fin, mantisa, cifras);
        decimales = cifras - enteras;
    }
    if (cifras == 0) return nullptr;
    int exponente = 0;
    if (q < fin && (*q | 0x20) == 'e') {
        const char* e = q + 1;
        const bool exponente_negativo = e < fin && *e == '-';
        if (e < fin && (*e == '-' || *e == '+')) ++e;
        if (e >= fin || !es_digito(*e)) return nullptr;  // a dangling exponent, or the end
        const char* inicio = e;
        for (; e < fin && es_digito(*e); ++e)
            if (e - inicio < 6) exponente = exponente * 10 + (*e - '0');
        if (e - inicio >= 6) cifras = 99;  // far out of range: the slow way
        if (exponente_negativo) exponente = -exponente;
        q = e;
    }
    if (q >= fin) return nullptr;  // the token might go on in the next buffer
    const int potencia = exponente - decimales;
    valor = cifras <= 19 && exacto(mantisa, potencia) ? rapido(mantisa, potencia, negativo)
                                                      : convierte(p, q, texto);
    return q;
}
#endif

// The general scan follows the C library's "%f": an optional sign; then "nan",
// "inf" or "infinity" in any case; or a "0x" prefix, digits (hexadecimal
// after it) with at most one point, and one exponent letter (e, or p after
// 0x) once a digit was seen, with a sign only right after it. The first
// character that does not fit is given back. The text read then converts as
// strtof would, and fails only when strtof would read nothing of it.
lectura lee_real_general(FILE* entrada, float& valor, std::string& texto) {
    lector in(entrada);
    int c;
    do c = in.lee();
    while (es_blanco(c));
    if (c == EOF) return lectura::fin;

    // The token's text, kept for the rare values that the fast conversion
    // below does not cover; long ones go on in texto.
    char corto[largo_corto];
    size_t n = 0;
    auto pon = [&](int ch) {
        if (n < sizeof corto)
            corto[n] = static_cast<char>(ch);
        else
            alarga(texto, corto, n, ch);
        ++n;
    };

    bool negativo = false;
    if (c == '-' || c == '+') {
        negativo = c == '-';
        pon(c);
        c = in.lee();
        if (c == EOF) return lectura::erroneo;
    }
    if (minuscula(c) == 'n') {
        if (!sigue_palabra(in, "an")) return lectura::erroneo;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        valor = negativo ? -nan : nan;
        return lectura::numero;
    }
    if (minuscula(c) == 'i') {
        if (!sigue_palabra(in, "nf")) return lectura::erroneo;
        c = in.lee();
        if (minuscula(c) == 'i') {
            if (!sigue_palabra(in, "nity")) return lectura::erroneo;
        } else {
            in.devuelve(c);
        }
        const float inf = std::numeric_limits<float>::infinity();
        valor = negativo ? -inf : inf;
        return lectura::numero;
    }

    const size_t signo = n;
    bool hexadecimal = false, hay_digito = false, hay_punto = false, hay_exponente = false;
    int letra_exponente = 'e', anterior = 0;
    // The value as the scan goes: decimal significand digits and the power of
    // ten they stand for, while they fit the exact fast conversion.
    uint32_t mantisa = 0;
    int cifras = 0, decimales = 0, exponente = 0, cifras_exponente = 0;
    bool exponente_negativo = false;
    if (c == '0') {
        pon('0');
        c = in.lee();
        if (minuscula(c) == 'x') {
            pon(c);
            hexadecimal = true;
            letra_exponente = 'p';
            c = in.lee();
        } else {
            hay_digito = true;
        }
    }
    for (; c != EOF; c = in.lee()) {
        if (es_digito(c) || (hexadecimal && !hay_exponente && es_hexadecimal(c))) {
            if (hay_exponente) {
                if (++cifras_exponente > 4)
                    cifras = 99;  // too far for the fast path
                else
                    exponente = exponente * 10 + (c - '0');
            } else if (!hexadecimal && (mantisa != 0 || c != '0')) {
                mantisa = mantisa * 10 + static_cast<uint32_t>(c - '0');
                if (++cifras > 8) cifras = 99;
                if (hay_punto) ++decimales;
            } else if (hay_punto) {
                ++decimales;
            }
            hay_digito = true;
        } else if (hay_exponente && minuscula(anterior) == letra_exponente &&
                   (c == '-' || c == '+')) {
            exponente_negativo = c == '-';
        } else if (hay_digito && !hay_exponente && minuscula(c) == letra_exponente) {
            hay_exponente = hay_punto = true;
        } else if (c == '.' && !hay_punto) {
            hay_punto = true;
        } else {
            in.devuelve(c);
            break;
        }
        pon(c);
        anterior = c;
    }
    if (n == signo || (hexadecimal && n == signo + 2)) return lectura::erroneo;
    // A sign or a point alone: strtof reads nothing of it. ("0x." has its
    // zero, and is read as such.)
    if (!hay_digito && !hexadecimal) return lectura::erroneo;

    const int potencia = (exponente_negativo ? -exponente : exponente) - decimales;
    if (!hexadecimal && cifras <= 8 && exacto(mantisa, potencia)) {
        valor = rapido(mantisa, potencia, negativo);
        return lectura::numero;
    }
    if (n <= sizeof corto) texto.assign(corto, n);
    valor = hexadecimal ? std::strtof(texto.c_str(), nullptr)
                        : convierte(texto.data(), texto.data() + texto.size(), texto);
    return lectura::numero;
}

}  // namespace

lectura lee_reales(FILE* entrada, float* valores, uint32_t n, uint32_t& leidos,
                   std::string& texto) {
    for (leidos = 0; leidos < n; ++leidos) {
#if defined(__GLIBC__)
        // Blanks, then most tokens, are read in place in the stream's buffer.
        const char* p = entrada->_IO_read_ptr;
        const char* fin = entrada->_IO_read_end;
        while (p < fin && es_blanco(static_cast<unsigned char>(*p))) ++p;
        entrada->_IO_read_ptr = const_cast<char*>(p);
        if (p < fin) {
            if (const char* q = lee_en_bufer(p, fin, valores[leidos], texto)) {
                entrada->_IO_read_ptr = const_cast<char*>(q);
                continue;
            }
        }
#endif
        const lectura l = lee_real_general(entrada, valores[leidos], texto);
        if (l != lectura::numero) return l;
    }
    return lectura::numero;
}

lectura lee_real(FILE* entrada, float& valor, std::string& texto) {
    uint32_t leidos;
    return lee_reales(entrada, &valor, 1, leidos, texto);
}

namespace {

// Powers of ten that double precision holds exactly.
constexpr double potencias_dobles[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// x · 10^k in at most three correctly rounded steps: relative error below
// 2^-51, so below 5e-10 for any result under a million.
double escala(double x, int k) {
    for (; k > 22; k -= 22) x *= 1e22;
    for (; k < -22; k += 22) x /= 1e22;
    return k >= 0 ? x * potencias_dobles[k] : x / potencias_dobles[-k];
}

constexpr char dos_cifras[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* copia(char* destino, const char* texto) {
    while (*texto != '\0') *destino++ = *texto++;
    return destino;
}

}  // namespace

// "%g" keeps six significant digits of the exact value, rounded to nearest.
// Scaling |v| by 10^(5 − E) in double precision gives those digits as the
// integer nearest to the product, whose error is far below the margin of
// 1e-7 kept around every point where the rounding could go either way;
// inside that margin (a tie, or nearly), the C library itself decides.
char* escribe_real(char* destino, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const bool negativo = bits >> 31;
    const uint32_t exponente = bits >> 23 & 0xff, fraccion = bits & 0x7fffff;
    if (exponente == 0xff) {
        if (fraccion != 0) return copia(destino, negativo ? "-nan" : "nan");
        return copia(destino, negativo ? "-inf" : "inf");
    }
    if (negativo) *destino++ = '-';
    if (exponente == 0 && fraccion == 0) {
        *destino++ = '0';
        return destino;
    }

    // floor(log2 |v|), then the decimal exponent E: log10(2) ≈ 1233 / 4096
    // gives floor(log10 |v|) or one less, which the check below corrects.
    const int binario =
        exponente != 0 ? static_cast<int>(exponente) - 127 : 31 - __builtin_clz(fraccion) - 149;
    int E = (binario * 1233) >> 12;
    const double x = std::fabs(static_cast<double>(v));
    double y = escala(x, 5 - E);
    if (y >= 999999.5) y = escala(x, 5 - ++E);
    const uint32_t entero = static_cast<uint32_t>(y);
    const double resto = y - static_cast<double>(entero);
    if (std::fabs(resto - 0.5) < 1e-7 || y >= 999999.5 || y < 99999.5) {
        char texto[32];
        std::snprintf(texto, sizeof texto, "%g", x);
        return copia(destino, texto);
    }
    const uint32_t D = entero + (resto > 0.5 ? 1 : 0);  // six digits, 100000 … 999999
    // The digits, then zeros, so that fixed 8-byte copies can lay them out.
    char cifras[16] = "000000000000000";
    std::memcpy(cifras, dos_cifras + 2 * (D / 10000), 2);
    std::memcpy(cifras + 2, dos_cifras + 2 * (D / 100 % 100), 2);
    std::memcpy(cifras + 4, dos_cifras + 2 * (D % 100), 2);
    int ultima = 5;  // trailing zeros are dropped
    while (cifras[ultima] == '0') --ultima;

    if (E < -4 || E >= 6) {  // d.ddddde±XX
        destino[0] = cifras[0];
        if (ultima > 0) {
            destino[1] = '.';
            std::memcpy(destino + 2, cifras + 1, 8);
            destino += 2 + ultima;
        } else {
            destino += 1;
        }
        *destino++ = 'e';
        *destino++ = E < 0 ? '-' : '+';
        const int a = E < 0 ? -E : E;
        if (a >= 100) *destino++ = static_cast<char>('0' + a / 100);
        std::memcpy(destino, dos_cifras + 2 * (a % 100), 2);
        return destino + 2;
    }
    if (E >= 0) {  // ddd.ddd
        std::memcpy(destino, cifras, 8);
        destino += E + 1;
        if (ultima > E) {
            destino[0] = '.';
            std::memcpy(destino + 1, cifras + E + 1, 8);
            destino += 1 + (ultima - E);
        }
        return destino;
    }
    std::memcpy(destino, "0.000000", 8);  // 0.000ddd
    destino += 1 - E;
    std::memcpy(destino, cifras, 8);
    return destino + ultima + 1;
}
