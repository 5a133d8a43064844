// One entry of the runs file: what a run reads, trains and writes.
#pragma once

#include <cstdint>
#include <string>

struct ejecucion {
    uint32_t dimension = 0;        // values per sample
    uint32_t nmuestras = 0;        // training samples
    std::string fichero_muestras;  // read for training, then again for reduction
    uint32_t nsalidas = 0;         // output neurons: principal components to extract
    std::string fichero_autovectores;
    std::string fichero_reducidas;
    uint32_t nreducir = 0;  // samples to reduce
};
