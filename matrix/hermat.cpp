#include "hermat.hpp"

#include <cstdlib>
#include <string>

#include "numeros.hpp"

vector reserva_vector(uint32_t n) {
    auto v = static_cast<vector>(std::calloc(n, sizeof(float)));
    if (v == nullptr && n != 0) error_fatal("Falta memoria");
    return v;
}

matriz reserva_matriz(uint32_t rows, uint32_t cols) {
    auto m = static_cast<matriz>(std::calloc(rows, sizeof(vector)));
    if (m == nullptr && rows != 0) error_fatal("Falta memoria");
    for (uint32_t r = 0; r < rows; ++r) m[r] = reserva_vector(cols);
    return m;
}

void libera_vector(vector v) {
    std::free(v);
}

void libera_matriz(uint32_t rows, matriz m) {
    for (uint32_t r = 0; r < rows; ++r) libera_vector(m[r]);
    std::free(m);
}

uint32_t lee_matriz(FILE* entrada, uint32_t rows, uint32_t cols, matriz m) {
    std::string texto;
    for (uint32_t r = 0; r < rows; ++r) {
        uint32_t leidos;
        switch (lee_reales(entrada, m[r], cols, leidos, texto)) {
            case lectura::numero: break;
            case lectura::fin:
                if (std::ferror(entrada)) error_fatal("No se pudo leer fichero");
                return r;
            case lectura::erroneo: error_fatal("Tipo erroneo de fichero de entrada");
        }
    }
    return rows;
}

// Whole lines go to the stream a buffer at a time; a value's text is at most
// 13 characters and its separator one, but its writing needs 24.
void escribe_matriz(FILE* salida, uint32_t rows, uint32_t cols, matriz m) {
    char bufer[1 << 14];
    char* fin = bufer;
    auto vacia = [&] {
        const size_t n = static_cast<size_t>(fin - bufer);
        if (std::fwrite(bufer, 1, n, salida) != n) error_fatal("No se pudo escribir fichero");
        fin = bufer;
    };
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            if (fin > bufer + sizeof bufer - 25) vacia();
            fin = escribe_real(fin, m[r][c]);
            *fin++ = c + 1 == cols ? '\n' : '\t';
        }
    }
    vacia();
}

fichero abre_fichero(const char* nombre, const char* modo, const char* mensaje) {
    fichero f(std::fopen(nombre, modo));
    if (f == nullptr) error_fatal(mensaje);
    // Data files are large and read or written straight through: a buffer
    // larger than the default spares most system calls. The C library keeps
    // its own small one unless it is handed a buffer, so it gets one.
    f.get_deleter().bufer = static_cast<char*>(std::malloc(tamano_bufer));
    if (f.get_deleter().bufer == nullptr) error_fatal("Falta memoria");
    std::setvbuf(f.get(), f.get_deleter().bufer, _IOFBF, tamano_bufer);
    return f;
}

void cierra_escritura(fichero salida) {
    char* bufer = salida.get_deleter().bufer;
    FILE* f = salida.release();
    bool fallo = std::ferror(f) != 0;
    fallo = std::fclose(f) != 0 || fallo;
    std::free(bufer);
    if (fallo) error_fatal("No se pudo escribir fichero");
}
