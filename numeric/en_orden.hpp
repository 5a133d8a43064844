// Products and sums of floats with their operands in the order the rule
// writes them. When both operands are NaN the result is the first one's NaN
// (x86 and AArch64 alike), so the order decides the sign that is printed.
// The compiler treats a·b as b·a and a + b as b + a and may swap them; the
// instruction written here keeps them.
#pragma once

#include "matrix/hermat.hpp"  // which refuses 32-bit x86 without SSE2 arithmetic

// a·b
inline float por(float a, float b) {
#if defined(__AVX__)
    __asm__("vmulss %2, %1, %0" : "=x"(a) : "x"(a), "x"(b));
#elif defined(__SSE2_MATH__) || defined(__x86_64__)
    __asm__("mulss %1, %0" : "+x"(a) : "x"(b));
#elif defined(__aarch64__)
    __asm__("fmul %s0, %s1, %s2" : "=w"(a) : "w"(a), "w"(b));
#else
    a = a * b;
#endif
    return a;
}

// a + b
inline float mas(float a, float b) {
#if defined(__AVX__)
    __asm__("vaddss %2, %1, %0" : "=x"(a) : "x"(a), "x"(b));
#elif defined(__SSE2_MATH__) || defined(__x86_64__)
    __asm__("addss %1, %0" : "+x"(a) : "x"(b));
#elif defined(__aarch64__)
    __asm__("fadd %s0, %s1, %s2" : "=w"(a) : "w"(a), "w"(b));
#else
    a = a + b;
#endif
    return a;
}
