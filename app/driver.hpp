// The command line and the runs file: what one invocation is asked to do.
#pragma once

#include <cstdint>
#include <cstdio>

#include "numeric/ejecucion.hpp"

struct ajustes {
    float alfa = 0.3f;           // -a: initial learning coefficient
    uint32_t iteraciones = 200;  // -i: most training cycles
    float error_parada = 0.0f;   // -t: stop once a cycle's error falls below this
    bool media_fila = true;      // -m clears: remove each sample's own mean
    bool media_columna = false;  // -v sets: remove each column's mean before training
    bool varianza = true;        // -s toggles: print the variance report
};

// The invocation name, for the usage text.
extern const char* program;

// Prints the usage text on standard error and ends with status 1.
[[noreturn]] void help();

// Scans the options from argv[1] on, setting a and T2, and returns the index
// of the first argument that does not begin with '-' (argc when none does).
int lee_opciones(int argc, char* argv[], ajustes& a);

// The runs file: its count, then one entry per run. A count or an entry that
// does not read in full is fatal, and a read error never passes for either.
uint32_t lee_numero_ejecuciones(FILE* fichejec);
void lee_ejecucion(FILE* fichejec, ejecucion& e);
