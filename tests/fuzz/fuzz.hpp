// Shared by the fuzz harnesses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "matrix/hermat.hpp"

// What error_fatal throws under the fuzzers.
struct fallo_fatal {
    const char* mensaje;
};

// A stream over the input bytes (fmemopen refuses an empty buffer, and an
// empty file is what an empty input stands for).
inline fichero abre_bytes(const uint8_t* datos, size_t n) {
    if (n == 0) return fichero(std::fopen("/dev/null", "r"));
    return fichero(fmemopen(const_cast<uint8_t*>(datos), n, "r"));
}
