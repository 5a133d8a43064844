// What the tests share: a matrix owned for the length of a test, a row as a
// std::vector, text read as a stream and a stream written into text, and an
// argv built from a list of arguments.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "matrix/hermat.hpp"

// Row r of m as a std::vector, for whole-row comparisons.
inline std::vector<float> fila(matriz m, uint32_t r, uint32_t cols) {
    return std::vector<float>(m[r], m[r] + cols);
}

// A filas × cols matrix, zeroed or from literal rows, released when the test
// is done with it. A copy has blocks of its own.
struct muestras {
    uint32_t filas, cols;
    matriz m;

    explicit muestras(uint32_t f, uint32_t c) : filas(f), cols(c), m(reserva_matriz(f, c)) {}
    muestras(const std::vector<std::vector<float>>& datos)
        : muestras(static_cast<uint32_t>(datos.size()),
                   datos.empty() ? 0 : static_cast<uint32_t>(datos[0].size())) {
        for (uint32_t r = 0; r < filas; ++r)
            for (uint32_t c = 0; c < cols; ++c) m[r][c] = datos[r][c];
    }
    muestras(const muestras& otra) : muestras(otra.filas, otra.cols) {
        for (uint32_t r = 0; r < filas; ++r)
            for (uint32_t c = 0; c < cols; ++c) m[r][c] = otra.m[r][c];
    }
    muestras& operator=(const muestras&) = delete;
    ~muestras() {
        libera_matriz(filas, m);
    }

    std::vector<float> fila(uint32_t r) const {
        return ::fila(m, r, cols);
    }
};

// Text to be read as a file is: the stream f reads it from memory.
struct entrada_texto {
    std::string texto;
    FILE* f;
    explicit entrada_texto(std::string t)
        : texto(std::move(t)), f(fmemopen(texto.data(), texto.size(), "r")) {}
    entrada_texto(const entrada_texto&) = delete;
    entrada_texto& operator=(const entrada_texto&) = delete;
    ~entrada_texto() {
        std::fclose(f);
    }
};

// A stream f whose writing is kept in memory, to be compared whole.
struct salida_texto {
    char* datos = nullptr;
    size_t largo = 0;
    FILE* f = open_memstream(&datos, &largo);
    salida_texto() = default;
    salida_texto(const salida_texto&) = delete;
    salida_texto& operator=(const salida_texto&) = delete;
    ~salida_texto() {
        std::fclose(f);
        std::free(datos);
    }
    std::string texto() {
        std::fflush(f);
        return std::string(datos, largo);
    }
};

// argv for a program named sanger called with args: the texts live as long as
// this does, and argv ends with a null pointer, as main receives it.
struct argumentos {
    std::vector<std::string> textos;
    std::vector<char*> argv;
    explicit argumentos(std::vector<std::string> args) : textos(std::move(args)) {
        textos.insert(textos.begin(), "sanger");
        for (auto& texto : textos) argv.push_back(texto.data());
        argv.push_back(nullptr);
    }
    argumentos(const argumentos&) = delete;
    argumentos& operator=(const argumentos&) = delete;
    int argc() const {
        return static_cast<int>(textos.size());
    }
};
