#include "numeric/entrenamiento.hpp"

#include <cstdlib>
#include <cstring>

#include "numeric/onda.hpp"
#include "numeric/sanger.hpp"

void ciclo_sanger_prefijo(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                          uint32_t nsalidas, float nu, vector y, vector err) {
    for (uint32_t s = 0; s < nmuestras; ++s) {
        vector x = X[s];
        y = salsanger(W, x, y, dimension, nsalidas);
        for (uint32_t k = 0; k < dimension; ++k) {
            float* w = W[k];
            float p = x[k];
            for (uint32_t j = 0; j < nsalidas; ++j) {
                const float h = p - y[j] * w[j];
                const float d = h * y[j];
                err[j] = d * d + err[j];
                w[j] = d * nu + w[j];
                p = p - y[j] * w[j];
            }
        }
    }
}

bool nucleo_soportado(nucleo n) {
    switch (n) {
        case nucleo::simple:
        case nucleo::prefijo:
        case nucleo::portatil: return true;
#if SANGER_X86
        case nucleo::avx2: return __builtin_cpu_supports("avx2");
        case nucleo::avx512: return __builtin_cpu_supports("avx512f");
#else
        case nucleo::avx2:
        case nucleo::avx512: return false;
#endif
    }
    return false;
}

nucleo nucleo_preferido(uint32_t dimension, uint32_t nsalidas) {
    // The wavefront pays for a whole lane per output below 16 outputs, and
    // for its turns between blocks: small networks go faster one at a time.
    if (dimension < 16 || nsalidas < 4) return nucleo::prefijo;
    if (nucleo_soportado(nucleo::avx512)) return nucleo::avx512;
    if (nucleo_soportado(nucleo::avx2)) return nucleo::avx2;
    // Four lanes still beat one value at a time: 3.7 to 6 times with SSE2.
    return nucleo::portatil;
}

// The wavefront's memory: weights, prefixes, each lane's next inputs, two
// samples in lane order and the two rings, in one block aligned for whole-vector access.
static void reserva_onda(entrenamiento& e, uint32_t carriles) {
    e.carriles = carriles;
    e.filas = (e.dimension + carriles - 1) / carriles;
    e.columnas = e.nsalidas > carriles ? e.nsalidas : carriles;
    const uint64_t carril = uint64_t{e.filas} * carriles;  // one value per slot and lane
    uint64_t valores = 0, bytes = 0;
    if (__builtin_mul_overflow(carril, uint64_t{e.columnas} + 4, &valores) ||
        __builtin_add_overflow(valores, 2 * uint64_t{e.columnas}, &valores) ||
        __builtin_mul_overflow(valores, sizeof(float), &bytes) || bytes > SIZE_MAX - 63)
        error_fatal("Falta memoria");
    bytes = (bytes + 63) / 64 * 64;
    e.bloque = static_cast<float*>(std::aligned_alloc(64, bytes));
    e.carriles_validos = static_cast<uint32_t*>(std::calloc(e.filas, sizeof(uint32_t)));
    if (e.bloque == nullptr || e.carriles_validos == nullptr) error_fatal("Falta memoria");
    std::memset(e.bloque, 0, bytes);

    e.pesos = e.bloque;
    e.prefijos = e.pesos + carril * e.columnas;
    e.proximas = e.prefijos + carril;
    e.actual = e.proximas + carril;
    e.siguiente = e.actual + carril;
    e.anillo_err = e.siguiente + carril;
    e.anillo_y = e.anillo_err + e.columnas;

    for (uint32_t r = 0; r < e.filas; ++r)
        for (uint32_t i = 0; i < carriles; ++i)
            if (uint64_t{i} * e.filas + r < e.dimension) e.carriles_validos[r] |= 1u << i;
    for (uint32_t k = 0; k < e.dimension; ++k)
        for (uint32_t j = 0; j < e.nsalidas; ++j) e.pesos[posicion_onda(e, k, j)] = e.W[k][j];
}

entrenamiento empieza_entrenamiento(nucleo tipo, matriz W, uint32_t dimension, uint32_t nsalidas) {
    entrenamiento e;
    e.W = W;
    e.dimension = dimension;
    e.nsalidas = nsalidas;
    // With no input or no output there is nothing to speed up.
    e.tipo = tipo == nucleo::simple || dimension == 0 || nsalidas == 0 ? nucleo::simple : tipo;
    if (e.tipo == nucleo::avx512) reserva_onda(e, 16);
    if (e.tipo == nucleo::avx2) reserva_onda(e, 8);
    if (e.tipo == nucleo::portatil) reserva_onda(e, 4);
    return e;
}

void ciclo_entrenamiento(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err) {
    switch (e.tipo) {
        case nucleo::simple:
            ciclo_sanger_simple(X, nmuestras, e.dimension, e.W, e.nsalidas, nu, y, err);
            break;
        case nucleo::prefijo:
            ciclo_sanger_prefijo(X, nmuestras, e.dimension, e.W, e.nsalidas, nu, y, err);
            break;
#if SANGER_X86
        case nucleo::avx2:
            if (nmuestras > 0) ciclo_onda_avx2(e, X, nmuestras, nu, err);
            break;
        case nucleo::avx512:
            if (nmuestras > 0) ciclo_onda_avx512(e, X, nmuestras, nu, err);
            break;
#else
        case nucleo::avx2:
        case nucleo::avx512: break;  // never chosen: nucleo_soportado says no
#endif
        case nucleo::portatil:
            if (nmuestras > 0) ciclo_onda_portatil(e, X, nmuestras, nu, err);
            break;
    }
}

void termina_entrenamiento(entrenamiento& e) {
    if (e.bloque != nullptr) {
        for (uint32_t k = 0; k < e.dimension; ++k)
            for (uint32_t j = 0; j < e.nsalidas; ++j) e.W[k][j] = e.pesos[posicion_onda(e, k, j)];
    }
    std::free(e.bloque);
    std::free(e.carriles_validos);
    e.bloque = nullptr;
    e.carriles_validos = nullptr;
}
