// Matrices of single-precision values and their text files.
//
// A vector is a bare block of floats whose length travels beside it; a matriz
// is a block of row handles. The address of one vector handle is a valid
// one-row matriz, so a single sample is read or written without a copy.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Every operation rounds to single precision. 32-bit x86 computing on the x87
// unit keeps 80-bit intermediates instead, and its results drift.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 needs SSE2 arithmetic for exact results: build with -msse2 -mfpmath=sse"
#endif

using vector = float*;
using matriz = vector*;

// Prints "Error:<mensaje>." on standard error, with no line end, and ends the
// process with status 255. Files still open are flushed and closed on the way.
// It lives in a source file of its own, so that the fuzzers can link a
// version that throws instead.
[[noreturn]] void error_fatal(const char* mensaje);

// Zeroed blocks; "Falta memoria" when the allocator refuses a non-empty one.
vector reserva_vector(uint32_t n);
matriz reserva_matriz(uint32_t rows, uint32_t cols);
void libera_vector(vector v);
void libera_matriz(uint32_t rows, matriz m);

// Reads rows × cols numbers in row order into m and returns how many rows
// were completed before the input ended. A token that is not a number is
// fatal, and so is a read error (which must not pass for an end of file).
uint32_t lee_matriz(FILE* entrada, uint32_t rows, uint32_t cols, matriz m);

// Writes one line per row, values by "%g" separated by tabs.
void escribe_matriz(FILE* salida, uint32_t rows, uint32_t cols, matriz m);

// Owning handles for a run's blocks and files. The program needs none of them
// to end cleanly, since a fatal condition ends the process, but with them a
// fatal condition that unwinds instead (under the fuzzers) releases what the
// run held.
//
// A data file owns the buffer its stream works through: the stream uses it
// until fclose, so it is released only after.
struct cierra_fichero {
    char* bufer = nullptr;
    void operator()(FILE* f) const {
        std::fclose(f);
        std::free(bufer);
    }
};
using fichero = std::unique_ptr<FILE, cierra_fichero>;

// Opens a data file with a stream buffer of tamano_bufer bytes of its own,
// ending with mensaje when it cannot be opened.
constexpr size_t tamano_bufer = 1 << 18;
fichero abre_fichero(const char* nombre, const char* modo, const char* mensaje);

// Closes an output file and releases its buffer. A failure seen only now (a
// full disk shows itself at the last flush) is as fatal as any other write
// failure.
void cierra_escritura(fichero salida);

struct libera_bloque {
    void operator()(vector v) const {
        libera_vector(v);
    }
};
using vector_propio = std::unique_ptr<float, libera_bloque>;

struct libera_filas {
    uint32_t rows;
    void operator()(matriz m) const {
        libera_matriz(rows, m);
    }
};
using matriz_propia = std::unique_ptr<vector[], libera_filas>;
