#include "hermat.hpp"

#include <cstdlib>

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
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            int leidos = std::fscanf(entrada, "%f", &m[r][c]);
            if (leidos == EOF) {
                if (std::ferror(entrada)) error_fatal("No se pudo leer fichero");
                return r;
            }
            if (leidos != 1) error_fatal("Tipo erroneo de fichero de entrada");
        }
    }
    return rows;
}

void escribe_matriz(FILE* salida, uint32_t rows, uint32_t cols, matriz m) {
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            char fin = (c + 1) % cols == 0 ? '\n' : '\t';
            if (std::fprintf(salida, "%g%c", static_cast<double>(m[r][c]), fin) < 0)
                error_fatal("No se pudo escribir fichero");
        }
    }
}

FILE* abre_fichero(const char* nombre, const char* modo, const char* mensaje) {
    FILE* f = std::fopen(nombre, modo);
    if (f == nullptr) error_fatal(mensaje);
    return f;
}

void cierra_escritura(FILE* salida) {
    bool fallo = std::ferror(salida) != 0;
    fallo = std::fclose(salida) != 0 || fallo;
    if (fallo) error_fatal("No se pudo escribir fichero");
}
