#include <cstdio>
#include <cstdlib>

#include "hermat.hpp"

void error_fatal(const char* mensaje) {
    std::fprintf(stderr, "Error:%s.", mensaje);
    std::exit(-1);
}
