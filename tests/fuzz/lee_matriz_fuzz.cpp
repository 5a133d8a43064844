// The matrix reader on arbitrary bytes, against the C library: every read
// must give the same result, value and stream position as fscanf("%f"), and
// the writer must print what it reads as printf("%g") does.
#include <cmath>
#include <cstring>
#include <string>

#include "matrix/numeros.hpp"
#include "tests/fuzz/fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t n) {
    if (n < 2) return 0;
    const uint32_t rows = datos[0] % 8, cols = datos[1] % 8;
    datos += 2;
    n -= 2;

    // lee_matriz on the bytes, with its fatal conditions caught.
    matriz_propia m(reserva_matriz(rows, cols), {rows});
    fichero f = abre_bytes(datos, n);
    try {
        lee_matriz(f.get(), rows, cols, m.get());
    } catch (const fallo_fatal&) {
    }

    // Value by value against fscanf.
    fichero a = abre_bytes(datos, n), b = abre_bytes(datos, n);
    std::string texto;
    for (;;) {
        float va = 0, vb = 0;
        const int r = std::fscanf(a.get(), "%f", &va);
        const lectura l = lee_real(b.get(), vb, texto);
        const int rb = l == lectura::numero ? 1 : l == lectura::fin ? EOF : 0;
        if (r != rb || std::ftell(a.get()) != std::ftell(b.get())) __builtin_trap();
        if (r != 1) break;
        const bool iguales =
            std::memcmp(&va, &vb, sizeof va) == 0 ||
            (std::isnan(va) && std::isnan(vb) && std::signbit(va) == std::signbit(vb));
        if (!iguales) __builtin_trap();
        char propio[24], ajeno[32];
        const size_t largo = static_cast<size_t>(escribe_real(propio, vb) - propio);
        std::snprintf(ajeno, sizeof ajeno, "%g", static_cast<double>(vb));
        if (largo != std::strlen(ajeno) || std::memcmp(propio, ajeno, largo) != 0) __builtin_trap();
    }
    return 0;
}
