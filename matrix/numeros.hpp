// Number text of the matrix files: reading as C's "%f" input conversion does
// and writing as "%g" output does, in the C locale, only faster.
#pragma once

#include <cstdio>
#include <string>

enum class lectura {
    numero,   // a value was read
    fin,      // the input ended (or failed: see ferror) before a value
    erroneo,  // the next token is not a number
};

// Reads one number. It consumes exactly the characters that fscanf("%f")
// consumes (blanks, the longest text that could start a number, and no more
// than one character of look-ahead, which it gives back), so that reading
// can stop and resume at any point of the stream. texto is scratch.
lectura lee_real(FILE* entrada, float& valor, std::string& texto);

// Reads up to n numbers into valores, as n calls of lee_real would; leidos
// tells how many were read before the end or a failure.
lectura lee_reales(FILE* entrada, float* valores, uint32_t n, uint32_t& leidos, std::string& texto);

// Writes v as printf("%g", (double)v) does and returns the end of the text,
// at most 13 characters. destino needs room for 24: the digits are laid out
// by whole 8-byte copies.
char* escribe_real(char* destino, float v);
