#include "numeric/entrenamiento.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "numeric/en_orden.hpp"
#include "numeric/onda.hpp"
#include "numeric/sanger.hpp"

namespace escalar {
constexpr uint32_t LD = 1;
#include "numeric/muertas.inc"
}  // namespace escalar

// Sanger's rule moves weight vector j towards the j-th principal direction.
// With V = Wᵀ (outputs × inputs) and LT the lower triangle of a matrix:
//
//     ΔV = ν (y xᵀ − LT[y yᵀ] V),   per weight  ΔW[k][j] = ν y[j] (x[k] − Σ_{l≤j} y[l] W[k][l]).
//
// Weights change in place as they are visited: the residual for output j at
// input k already sees W[k][0 … j−1] updated for this sample, and W[k][j] as it
// was. The output y is computed once per sample, before any weight changes.
void ciclo_sanger_simple(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                         uint32_t nsalidas, float nu, vector y, vector err) {
    for (uint32_t s = 0; s < nmuestras; ++s) {
        vector x = X[s];
        y = salsanger(W, x, y, dimension, nsalidas);
        for (uint32_t k = 0; k < dimension; ++k) {
            for (uint32_t j = 0; j < nsalidas; ++j) {
                float h = x[k];
                for (uint32_t l = 0; l <= j; ++l) h = h - por(y[l], W[k][l]);
                float d = por(h, y[j]);
                err[j] = mas(d * d, err[j]);
                W[k][j] = mas(por(d, nu), W[k][j]);
            }
        }
    }
}

// Input k's outputs for one sample, p starting at x[k].
static inline void fila_prefijo(float* w, float p, const float* y, uint32_t nsalidas, float nu,
                                float* err) {
    for (uint32_t j = 0; j < nsalidas; ++j) {
        const float h = p - por(y[j], w[j]);
        const float d = por(h, y[j]);
        err[j] = mas(d * d, err[j]);
        w[j] = mas(por(d, nu), w[j]);
        p = p - por(y[j], w[j]);
    }
}

void ciclo_sanger_prefijo(matriz X, uint32_t nmuestras, uint32_t dimension, matriz W,
                          uint32_t nsalidas, float nu, vector y, vector err) {
    for (uint32_t s = 0; s < nmuestras; ++s) {
        vector x = X[s];
        y = salsanger(W, x, y, dimension, nsalidas);
        for (uint32_t k = 0; k < dimension; ++k) fila_prefijo(W[k], x[k], y, nsalidas, nu, err);
    }
}

// The running prefix with the dead inputs apart: their rows of W hold zeros,
// which add nothing to y, and each is worked in its place in the order of k,
// so that its d·d joins err[j] exactly where the plain loop adds it.
static bool ciclo_prefijo_muertas(entrenamiento& e, matriz X, uint32_t nmuestras, float nu,
                                  vector y, vector err) {
    const uint32_t M = e.nsalidas, ancho = e.ancho_muertas;
    bool finitos = true;
    for (uint32_t s = 0; s < nmuestras; ++s) {
        vector x = X[s];
        y = salsanger(e.W, x, y, e.dimension, M);
        uint32_t m = 0;  // the next dead input
        for (uint32_t k = 0; k < e.dimension; ++k) {
            if (m == e.nmuertas || e.filas_muertas[m] != k) {
                fila_prefijo(e.W[k], x[k], y, M, nu, err);
                continue;
            }
            double* p = e.prefijos_muertos + m;
            *p = x[k];
            for (uint32_t j = 0; j < M; ++j) {
                float dd;
                finitos &= escalar::columna_muertas(1, e.pesos_muertos + uint64_t{j} * ancho + m, p,
                                                    y[j], nu, &dd);
                err[j] = mas(dd, err[j]);
            }
            ++m;
        }
    }
    return finitos;
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
    // Below 16 inputs a lane of the wavefront holds at most one input, and
    // below 4 outputs its turns between blocks cost more than the work they
    // carry: small networks go faster one value at a time.
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

// A zeroed block of n values of tam bytes, aligned for whole-vector access;
// n = 0 gives none and never fails.
static void* reserva_ceros(uint64_t n, size_t tam) {
    if (n == 0) return nullptr;
    if (n > (SIZE_MAX - 63) / tam) error_fatal("Falta memoria");
    const size_t bytes = (static_cast<size_t>(n) * tam + 63) / 64 * 64;
    void* p = std::aligned_alloc(64, bytes);
    if (p == nullptr) error_fatal("Falta memoria");
    return std::memset(p, 0, bytes);
}

// Where the weight of input k for output j lives while the kernel trains.
static float& peso(entrenamiento& e, uint32_t k, uint32_t j) {
    return e.bloque != nullptr ? e.pesos[posicion_onda(e, k, j)] : e.W[k][j];
}

bool entrada_muerta(matriz X, uint32_t nmuestras, uint32_t k) {
    uint32_t s = 0;
    while (s < nmuestras && X[s][k] == 0.0f) ++s;
    return s == nmuestras;
}

// An input that is zero in every sample adds W[k][j]·(±0) = ±0 to each y[j],
// which leaves y[j] as it was (a sum that starts at +0 is never −0), as long
// as its weights are finite. Its weights then only shrink, towards tiny and
// subnormal values, and on many CPUs each vector multiplication that meets
// one of those costs a hundred times a normal one. So its weights are held
// at zero where the vector instructions run, and its own steps are worked
// beside them with the same results (numeric/muertas.inc), their d·d handed
// to err[j] at its place in the sum. If a weight of theirs overflows or becomes NaN the
// cycle is trained again with every input together.
void separa_muertas(entrenamiento& e, matriz X, uint32_t nmuestras) {
    if (e.tipo == nucleo::simple || nmuestras == 0) return;
    uint32_t n = 0;
    for (uint32_t k = 0; k < e.dimension; ++k) n += entrada_muerta(X, nmuestras, k);
    if (n == 0) return;

    const uint32_t M = e.nsalidas;
    e.ancho_muertas = (n + 7) / 8 * 8;  // whole vectors of any instruction set
    const uint64_t pesos = uint64_t{e.ancho_muertas} * M;
    const uint64_t vivos = e.bloque != nullptr ? uint64_t{e.filas} * e.carriles * e.columnas
                                               : uint64_t{e.dimension} * M;
    e.filas_muertas = static_cast<uint32_t*>(reserva_ceros(n, sizeof(uint32_t)));
    e.lugares_muertas = static_cast<uint32_t*>(reserva_ceros(n, sizeof(uint32_t)));
    e.pesos_muertos = static_cast<double*>(reserva_ceros(pesos, sizeof(double)));
    e.copia_muertos = static_cast<double*>(reserva_ceros(pesos, sizeof(double)));
    e.prefijos_muertos = static_cast<double*>(reserva_ceros(e.ancho_muertas, sizeof(double)));
    e.dd_muertas = static_cast<float*>(reserva_ceros(e.ancho_muertas, sizeof(float)));
    e.copia = static_cast<float*>(reserva_ceros(vivos, sizeof(float)));
    if (e.bloque != nullptr) e.inyeccion = static_cast<float*>(reserva_ceros(vivos, sizeof(float)));

    for (uint32_t k = 0; k < e.dimension; ++k) {
        if (!entrada_muerta(X, nmuestras, k)) continue;
        for (uint32_t j = 0; j < M; ++j) {
            e.pesos_muertos[uint64_t{j} * e.ancho_muertas + e.nmuertas] = peso(e, k, j);
            peso(e, k, j) = 0.0f;
        }
        if (e.bloque != nullptr)
            e.lugares_muertas[e.nmuertas] = k % e.filas * e.carriles + k / e.filas;
        e.filas_muertas[e.nmuertas++] = k;
    }
}

// Puts the dead inputs' weights back among the others and stops keeping them apart.
static void junta_muertas(entrenamiento& e) {
    for (uint32_t m = 0; m < e.nmuertas; ++m)
        for (uint32_t j = 0; j < e.nsalidas; ++j)
            peso(e, e.filas_muertas[m], j) =
                static_cast<float>(e.pesos_muertos[uint64_t{j} * e.ancho_muertas + m]);
    e.nmuertas = 0;
}

// The live weights, in the kernel's layout, and the dead ones, to the copy
// (guarda) or back from it.
static void copia_pesos(entrenamiento& e, bool guarda) {
    const auto copia = [guarda](void* original, void* guardado, uint64_t bytes) {
        std::memcpy(guarda ? guardado : original, guarda ? original : guardado, bytes);
    };
    if (e.bloque != nullptr)
        copia(e.pesos, e.copia, uint64_t{e.filas} * e.carriles * e.columnas * sizeof(float));
    else
        for (uint32_t k = 0; k < e.dimension; ++k)
            copia(e.W[k], e.copia + uint64_t{k} * e.nsalidas, e.nsalidas * sizeof(float));
    copia(e.pesos_muertos, e.copia_muertos,
          uint64_t{e.ancho_muertas} * e.nsalidas * sizeof(double));
}

// One cycle of the kernel; false when a dead input's weight stopped being finite.
static bool ciclo_nucleo(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err) {
    switch (e.tipo) {
        case nucleo::simple:
            ciclo_sanger_simple(X, nmuestras, e.dimension, e.W, e.nsalidas, nu, y, err);
            return true;
        case nucleo::prefijo:
            if (e.nmuertas > 0) return ciclo_prefijo_muertas(e, X, nmuestras, nu, y, err);
            ciclo_sanger_prefijo(X, nmuestras, e.dimension, e.W, e.nsalidas, nu, y, err);
            return true;
#if SANGER_X86
        case nucleo::avx2: return nmuestras == 0 || ciclo_onda_avx2(e, X, nmuestras, nu, err);
        case nucleo::avx512: return nmuestras == 0 || ciclo_onda_avx512(e, X, nmuestras, nu, err);
#else
        case nucleo::avx2:
        case nucleo::avx512: return true;  // never chosen: nucleo_soportado says no
#endif
        case nucleo::portatil:
            return nmuestras == 0 || ciclo_onda_portatil(e, X, nmuestras, nu, err);
    }
    return true;
}

void ciclo_entrenamiento(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err) {
    if (e.nmuertas > 0) copia_pesos(e, true);
    if (ciclo_nucleo(e, X, nmuestras, nu, y, err)) return;
    // A dead input's weight is no longer finite, so it no longer adds
    // nothing to y: the cycle starts again with every input together.
    copia_pesos(e, false);
    junta_muertas(e);
    for (uint32_t j = 0; j < e.nsalidas; ++j) err[j] = 0.0f;
    ciclo_nucleo(e, X, nmuestras, nu, y, err);
}

void termina_entrenamiento(entrenamiento& e) {
    junta_muertas(e);
    if (e.bloque != nullptr) {
        for (uint32_t k = 0; k < e.dimension; ++k)
            for (uint32_t j = 0; j < e.nsalidas; ++j) e.W[k][j] = e.pesos[posicion_onda(e, k, j)];
    }
    std::free(e.bloque);
    std::free(e.carriles_validos);
    for (void* p : {static_cast<void*>(e.filas_muertas), static_cast<void*>(e.lugares_muertas),
                    static_cast<void*>(e.pesos_muertos), static_cast<void*>(e.copia_muertos),
                    static_cast<void*>(e.prefijos_muertos), static_cast<void*>(e.dd_muertas),
                    static_cast<void*>(e.copia), static_cast<void*>(e.inyeccion)})
        std::free(p);
    e = entrenamiento{};
}

// A chain of multiplications that keep a subnormal value subnormal, against
// the same chain on a normal value; the best of a few tries, so that a
// moment's preemption cannot pass for a slow multiplier.
static double mide_cadena(float inicial) {
    double mejor = 1e30;
    for (int vez = 0; vez < 5; ++vez) {
        volatile float semilla = inicial;
        float v = semilla;
        const auto inicio = std::chrono::steady_clock::now();
        for (int i = 0; i < 2000; ++i) {
            v = v * 1.0f;
            __asm__ volatile("" : "+m"(v));  // one multiplication at a time
        }
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - inicio;
        semilla = v;
        if (t.count() < mejor) mejor = t.count();
    }
    return mejor;
}

bool subnormales_lentos() {
    static const bool lentos = mide_cadena(0x1p-140f) > 4 * mide_cadena(1.5f);
    return lentos;
}
