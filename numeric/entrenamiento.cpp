#include "numeric/entrenamiento.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "numeric/en_orden.hpp"
#include "numeric/hilos.hpp"
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

// The running prefix with the dead inputs apart: their rows of W hold zeros
// below the cut (corta_muertas), which add nothing to y, and each is worked
// in its place in the order of k, so that its d·d joins err[j] exactly
// where the plain loop adds it; from the cut on, as any other row.
static bool ciclo_prefijo_muertas(entrenamiento& e, matriz X, uint32_t nmuestras, float nu,
                                  vector y, vector err) {
    const uint32_t M = e.nsalidas, ancho = e.ancho_muertas, corte = e.corte_muertas;
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
            for (uint32_t j = 0; j < corte; ++j) {
                float dd;
                finitos &= escalar::columna_muertas(1, e.pesos_muertos + uint64_t{j} * ancho + m, p,
                                                    nullptr, y[j], nu, &dd, 0.0f)
                               .finitos;
                err[j] = mas(dd, err[j]);
            }
            // The outputs from the cut on, from the residual the steps apart left.
            if (corte < M) {
                const escalar::flotante_corto residuo = escalar::a_float(escalar::doble{*p});
                fila_prefijo(e.W[k] + corte, residuo[0], y + corte, M - corte, nu, err + corte);
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

// The lanes of the kernel's instructions; none for the kernels without a wavefront.
static uint32_t carriles_de(nucleo tipo) {
    switch (tipo) {
        case nucleo::avx512: return 16;
        case nucleo::avx2: return 8;
        case nucleo::portatil: return 4;
        default: return 0;
    }
}

uint32_t hilos_preferidos(nucleo tipo, uint32_t dimension, uint32_t nsalidas, uint32_t nmuestras) {
    const uint32_t carriles = carriles_de(tipo);
    if (carriles == 0 || dimension < 64 || uint64_t{dimension} * nsalidas * nmuestras < (1u << 22))
        return 1;
    // A part with fewer outputs than lanes costs what one with a lane's
    // width does, so only the last may have fewer, and not fewer than half
    // a lane's width: at 784 inputs, 24 outputs on two threads took 0.74 to
    // 0.85 of the time on one, and 20 outputs 0.95 to 1.01 (AMD Zen 5).
    const uint32_t partes = (nsalidas + carriles / 2) / carriles;
    return std::max(std::min(nucleos_disponibles(), partes), 1u);
}

// A zeroed block of n values of tam bytes, aligned for whole-vector access,
// or none where memory for it cannot be had; n = 0 gives none.
static void* ceros(uint64_t n, size_t tam) {
    if (n == 0 || n > (SIZE_MAX - 63) / tam) return nullptr;
    const size_t bytes = (static_cast<size_t>(n) * tam + 63) / 64 * 64;
    void* p = std::aligned_alloc(64, bytes);
    return p != nullptr ? std::memset(p, 0, bytes) : nullptr;
}

// The same, where the training cannot go on without it.
static void* reserva_ceros(uint64_t n, size_t tam) {
    void* p = ceros(n, tam);
    if (p == nullptr && n != 0) error_fatal("Falta memoria");
    return p;
}

// The wavefront's memory: weights, prefixes, two samples in lane order and
// the two rings, in one block aligned for whole-vector access.
static void reserva_onda(entrenamiento& e, uint32_t carriles) {
    e.carriles = carriles;
    e.filas = (e.dimension + carriles - 1) / carriles;
    e.columnas = e.nsalidas > carriles ? e.nsalidas : carriles;
    const uint64_t carril = uint64_t{e.filas} * carriles;  // one value per slot and lane
    uint64_t valores = 0;
    if (__builtin_mul_overflow(carril, uint64_t{e.columnas} + 3, &valores) ||
        __builtin_add_overflow(valores, 2 * uint64_t{e.columnas}, &valores))
        error_fatal("Falta memoria");
    e.bloque = static_cast<float*>(reserva_ceros(valores, sizeof(float)));
    e.carriles_validos = static_cast<uint32_t*>(reserva_ceros(e.filas, sizeof(uint32_t)));

    e.pesos = e.bloque;
    e.prefijos = e.pesos + carril * e.columnas;
    e.actual = e.prefijos + carril;
    e.siguiente = e.actual + carril;
    e.anillo_err = e.siguiente + carril;
    e.anillo_y = e.anillo_err + e.columnas;

    for (uint32_t r = 0; r < e.filas; ++r)
        for (uint32_t i = 0; i < carriles; ++i)
            if (uint64_t{i} * e.filas + r < e.dimension) e.carriles_validos[r] |= 1u << i;
    for (uint32_t k = 0; k < e.dimension; ++k)
        for (uint32_t j = 0; j < e.nsalidas; ++j)
            e.pesos[posicion_onda(e, k, j)] = e.W[k][e.salida0 + j];
}

// The outputs in npartes runs, one wavefront each, with a ring of residuals
// between each part and the next. A part hands on the residuals it ends a
// sample with as its lanes start the next one, which is exact only if it has
// no spare columns: every part but the last has at least a lane's width of
// outputs.
static void reparte_salidas(entrenamiento& e, uint32_t npartes, uint32_t carriles) {
    const uint32_t M = e.nsalidas, parejo = M / npartes;
    e.npartes = npartes;
    e.partes = new entrenamiento[npartes];
    uint32_t salida0 = 0;
    for (uint32_t t = 0; t < npartes; ++t) {
        entrenamiento& p = e.partes[t];
        p.tipo = e.tipo;
        p.W = e.W;
        p.dimension = e.dimension;
        p.salida0 = salida0;
        if (parejo >= carriles)  // the remainder spread over the last parts
            p.nsalidas = parejo + (t >= npartes - M % npartes ? 1 : 0);
        else
            p.nsalidas = t + 1 < npartes ? carriles : M - salida0;
        salida0 += p.nsalidas;
        reserva_onda(p, carriles);
        if (t == 0) continue;
        // Enough samples in the ring for the parts to drift apart by a few
        // batches without waiting on each other, in at most 256 KiB.
        entrega* d = new entrega;
        d->paso_vivas = (uint64_t{p.filas} * carriles + 15) / 16 * 16;
        d->huecos =
            static_cast<uint32_t>(std::clamp<uint64_t>((256 << 10) / (d->paso_vivas * 4), 4, 256));
        d->vivas = static_cast<float*>(reserva_ceros(d->paso_vivas * d->huecos, sizeof(float)));
        d->preparada = static_cast<float*>(reserva_ceros(d->paso_vivas, sizeof(float)));
        e.partes[t - 1].da = d;
        p.recibe = d;
    }
}

entrenamiento empieza_entrenamiento(nucleo tipo, matriz W, uint32_t dimension, uint32_t nsalidas,
                                    uint32_t hilos) {
    entrenamiento e;
    e.W = W;
    e.dimension = dimension;
    e.nsalidas = nsalidas;
    // With no input or no output there is nothing to speed up.
    e.tipo = tipo == nucleo::simple || dimension == 0 || nsalidas == 0 ? nucleo::simple : tipo;
    const uint32_t carriles = carriles_de(e.tipo);
    if (carriles == 0) return e;
    const uint32_t npartes = std::min(hilos, (nsalidas + carriles - 1) / carriles);
    e.hilos = npartes;
    if (npartes > 1 && (e.trabajadores = forma_cuadrilla(npartes)) != nullptr)
        reparte_salidas(e, npartes, carriles);
    else
        reserva_onda(e, carriles);
    return e;
}

// The training itself, or its parts when split among threads.
static std::span<entrenamiento> partes_de(entrenamiento& e) {
    return e.npartes > 0 ? std::span(e.partes, e.npartes) : std::span(&e, 1);
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
static void separa_muertas_de(entrenamiento& e, std::span<const uint32_t> muertas) {
    const uint32_t n = static_cast<uint32_t>(muertas.size());

    const uint32_t M = e.nsalidas;
    e.ancho_muertas = (n + 7) / 8 * 8;  // whole vectors of any instruction set
    const uint64_t pesos = uint64_t{e.ancho_muertas} * M;
    const uint64_t vivos = e.bloque != nullptr ? uint64_t{e.filas} * e.carriles * e.columnas
                                               : uint64_t{e.dimension} * M;
    e.filas_muertas = static_cast<uint32_t*>(reserva_ceros(n, sizeof(uint32_t)));
    e.lugares_muertas = static_cast<uint32_t*>(reserva_ceros(n, sizeof(uint32_t)));
    e.pesos_muertos = static_cast<double*>(reserva_ceros(pesos, sizeof(double)));
    e.copia_muertos = static_cast<double*>(reserva_ceros(pesos, sizeof(double)));
    // The running prefixes, then the values two samples in turn start them from.
    e.prefijos_muertos = static_cast<double*>(reserva_ceros(3 * e.ancho_muertas, sizeof(double)));
    e.dd_muertas = static_cast<float*>(reserva_ceros(e.ancho_muertas, sizeof(float)));
    e.copia = static_cast<float*>(reserva_ceros(vivos, sizeof(float)));
    if (e.bloque != nullptr) {
        e.inyeccion = static_cast<float*>(reserva_ceros(vivos, sizeof(float)));
        e.inyectadas = static_cast<bool*>(reserva_ceros(M, sizeof(bool)));
        e.entrantes = static_cast<float*>(reserva_ceros(2 * e.ancho_muertas, sizeof(float)));
        // Lane i owns the inputs from i·filas on: the dead ones, ascending,
        // fall to the lanes in order.
        e.carril_muertas = static_cast<uint32_t*>(reserva_ceros(e.carriles + 1, sizeof(uint32_t)));
        for (uint32_t i = 0, m = 0; i <= e.carriles; ++i) {
            while (m < n && muertas[m] < uint64_t{i} * e.filas) ++m;
            e.carril_muertas[i] = m;
        }
    }

    // Every output apart until the first cycle chooses (corta_muertas).
    e.corte_muertas = M;
    for (const uint32_t k : muertas) {
        for (uint32_t j = 0; j < M; ++j) {
            e.pesos_muertos[uint64_t{j} * e.ancho_muertas + e.nmuertas] = peso(e, k, j);
            peso(e, k, j) = 0.0f;
        }
        if (e.bloque != nullptr)
            e.lugares_muertas[e.nmuertas] = k % e.filas * e.carriles + k / e.filas;
        e.filas_muertas[e.nmuertas++] = k;
    }
}

// Gives every part of the training the samples' copy, placed from the
// nmuestras rows of X; the training owns it.
static void comparte_muestras(entrenamiento& e, float* muestras, matriz X, uint32_t nmuestras) {
    e.muestras = muestras;
    for (entrenamiento& p : partes_de(e)) {
        p.muestras = muestras;
        p.colocadas_de = X;
        p.ncolocadas = nmuestras;
    }
}

void coloca_muestras(entrenamiento& e, matriz X, uint32_t nmuestras) {
    const entrenamiento& modelo = partes_de(e)[0];  // every part has the same lanes and slots
    if (modelo.bloque == nullptr || e.muestras != nullptr) return;
    // The copy is as large as the samples themselves. Where it would take
    // more than half the memory now free, or cannot be had, each cycle
    // places each sample as it goes: slower, never wrong, and no risk of
    // running the machine out of memory for speed.
    uint64_t valores = 0;
    if (__builtin_mul_overflow(uint64_t{modelo.filas} * modelo.carriles, nmuestras, &valores))
        return;
    const long libres = sysconf(_SC_AVPHYS_PAGES), pagina = sysconf(_SC_PAGESIZE);
    if (libres > 0 && pagina > 0 &&
        valores > uint64_t(libres) * uint64_t(pagina) / 2 / sizeof(float))
        return;
    // Zeroed: the slots past the last input.
    float* const muestras = static_cast<float*>(ceros(valores, sizeof(float)));
    if (muestras == nullptr) return;
    comparte_muestras(e, muestras, X, nmuestras);
    coloca_muestras_onda(modelo, X, nmuestras, muestras);
}

// Keeps the inputs muertas apart in every part of the training.
static void aparta(entrenamiento& e, std::span<const uint32_t> muertas) {
    if (muertas.empty()) return;
    for (entrenamiento& p : partes_de(e)) {
        separa_muertas_de(p, muertas);
        // The parts after the first start their dead inputs' residuals from
        // the ones the part before hands on.
        if (entrega* d = p.recibe; d != nullptr && p.nmuertas > 0) {
            d->paso_muertas = p.ancho_muertas;
            d->muertas =
                static_cast<double*>(reserva_ceros(d->paso_muertas * d->huecos, sizeof(double)));
        }
    }
}

void separa_muertas(entrenamiento& e, matriz X, uint32_t nmuestras, bool siempre) {
    if (e.tipo == nucleo::simple || nmuestras == 0) return;
    // The samples are read once, whatever the number of parts.
    std::vector<uint32_t> muertas;
    for (uint32_t k = 0; k < e.dimension; ++k)
        if (entrada_muerta(X, nmuestras, k)) muertas.push_back(k);
    aparta(e, muertas);
    // Timed, they start in the kernel, where they trained before any choice.
    e.forma.elige_muertas = e.forma.muertas_juntas = !siempre && !muertas.empty();
}

// Puts the dead inputs' weights back among the others and stops keeping them apart.
static void junta_muertas(entrenamiento& e) {
    for (uint32_t m = 0; m < e.nmuertas; ++m)
        for (uint32_t j = 0; j < e.corte_muertas; ++j)
            peso(e, e.filas_muertas[m], j) =
                static_cast<float>(e.pesos_muertos[uint64_t{j} * e.ancho_muertas + m]);
    e.nmuertas = 0;
}

// The wavefront's rejilla_muertas (see entrenamiento): the first outputs
// below corte_muertas − 1 whose dead weights all lie below 2^-125.
static uint32_t salidas_en_rejilla(const entrenamiento& e) {
    uint32_t j = 0;
    for (; j + 1 < e.corte_muertas; ++j) {
        const double* const w = e.pesos_muertos + uint64_t{j} * e.ancho_muertas;
        if (!std::all_of(w, w + e.nmuertas, [](double v) { return std::fabs(v) < 0x1p-125; }))
            break;
    }
    return j;
}

// The outputs up to the last for which a dead input has a weight below
// 2^-40, or none if any of their weights is not finite.
static uint32_t salidas_en_peligro(std::span<entrenamiento> partes) {
    uint32_t corte = 0;
    for (entrenamiento& p : partes)
        for (uint32_t m = 0; m < p.nmuertas; ++m)
            for (uint32_t j = 0; j < p.nsalidas; ++j) {
                const double w = j < p.corte_muertas
                                     ? p.pesos_muertos[uint64_t{j} * p.ancho_muertas + m]
                                     : peso(p, p.filas_muertas[m], j);
                if (!std::isfinite(w)) return 0;
                if (std::fabs(w) < 0x1p-40) corte = std::max(corte, p.salida0 + j + 1);
            }
    return corte;
}

// Chooses, before each cycle, the outputs for which the dead inputs are
// worked apart: the first ones, up to the last that has a weight below
// 2^-40, and none if any weight is not finite (the kernel adds it to y as it
// must) or if they are to train in the kernel (juntas). A dead input's
// weights for the first outputs sink to a few units of 2^-149 within a
// cycle or two; those for later outputs shrink slowly, and far above the
// subnormal range they cost the kernel nothing more than a live input's. A
// part whose lanes start each sample from the residuals of the part before
// must not start exactly where the dead inputs enter the kernel: there it
// works one output apart first, from the residuals handed on beside the
// lanes'.
static void corta_muertas(std::span<entrenamiento> partes, bool juntas) {
    if (partes[0].nmuertas == 0) return;
    uint32_t corte = juntas ? 0 : salidas_en_peligro(partes);
    for (const entrenamiento& p : partes)
        if (p.salida0 > 0 && corte == p.salida0) ++corte;

    for (entrenamiento& p : partes) {
        const uint32_t antes = p.corte_muertas,
                       ahora = std::clamp(corte, p.salida0, p.salida0 + p.nsalidas) - p.salida0;
        for (uint32_t m = 0; m < p.nmuertas; ++m) {
            const uint32_t k = p.filas_muertas[m];
            for (uint32_t j = std::min(antes, ahora); j < std::max(antes, ahora); ++j) {
                double& apartado = p.pesos_muertos[uint64_t{j} * p.ancho_muertas + m];
                if (j < ahora) {
                    apartado = peso(p, k, j);
                    peso(p, k, j) = 0.0f;
                    continue;
                }
                peso(p, k, j) = static_cast<float>(apartado);
                apartado = 0.0;
                if (p.inyeccion == nullptr) continue;  // the running prefix: no slots
                // The d·d slot that it fed is the kernel's own again.
                p.inyeccion[posicion_onda(p, k, j)] = 0.0f;
                if (p.inyectadas[j]) --p.salidas_con_dd;
                p.inyectadas[j] = false;
            }
        }
        p.corte_muertas = ahora;
        if (p.inyeccion != nullptr) p.rejilla_muertas = salidas_en_rejilla(p);
    }
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
            if (e.nmuertas > 0 && e.corte_muertas > 0)
                return ciclo_prefijo_muertas(e, X, nmuestras, nu, y, err);
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

// One cycle of every part, each on its own thread.
struct ciclo_en_partes {
    entrenamiento* partes;
    matriz X;
    uint32_t nmuestras;
    float nu;
    vector err;
    std::atomic<bool> finitos{true};
};

static void ciclo_de_parte(void* contexto, uint32_t i) {
    ciclo_en_partes& c = *static_cast<ciclo_en_partes*>(contexto);
    entrenamiento& p = c.partes[i];
    if (!ciclo_nucleo(p, c.X, c.nmuestras, c.nu, nullptr, c.err + p.salida0))
        c.finitos.store(false, std::memory_order_relaxed);
}

// One cycle of the training, on its parts' threads if it has any; false
// when a dead input's weight stopped being finite.
static bool ciclo_completo(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                           vector err) {
    if (e.npartes == 0 || nmuestras == 0) return ciclo_nucleo(e, X, nmuestras, nu, y, err);
    for (entrenamiento& p : partes_de(e))
        if (p.recibe != nullptr) {
            p.recibe->escritas.valor.store(0, std::memory_order_relaxed);
            p.recibe->leidas.valor.store(0, std::memory_order_relaxed);
            p.recibe->lote = lote_de(*p.recibe, nmuestras);
        }
    ciclo_en_partes c{e.partes, X, nmuestras, nu, err};
    trabaja(*e.trabajadores, ciclo_de_parte, &c);
    return c.finitos.load(std::memory_order_relaxed);
}

// Writes the weights of e, a training on one thread or one of its parts,
// back to W and frees its memory, but for the samples' copy, which is the
// training's.
static void libera_onda(entrenamiento& e) {
    if (e.da != nullptr) {  // each ring belongs to the part that writes it
        std::free(e.da->vivas);
        std::free(e.da->preparada);
        std::free(e.da->muertas);
        delete e.da;
    }
    junta_muertas(e);
    if (e.bloque != nullptr) {
        for (uint32_t k = 0; k < e.dimension; ++k)
            for (uint32_t j = 0; j < e.nsalidas; ++j)
                e.W[k][e.salida0 + j] = e.pesos[posicion_onda(e, k, j)];
    }
    std::free(e.bloque);
    std::free(e.carriles_validos);
    for (void* p : {static_cast<void*>(e.filas_muertas), static_cast<void*>(e.lugares_muertas),
                    static_cast<void*>(e.pesos_muertos), static_cast<void*>(e.copia_muertos),
                    static_cast<void*>(e.prefijos_muertos), static_cast<void*>(e.dd_muertas),
                    static_cast<void*>(e.inyectadas), static_cast<void*>(e.copia),
                    static_cast<void*>(e.inyeccion), static_cast<void*>(e.entrantes),
                    static_cast<void*>(e.carril_muertas)})
        std::free(p);
}

// The weights back to W, the threads joined, everything freed but the
// samples' copy.
static void libera_menos_muestras(entrenamiento& e) {
    if (e.npartes == 0) return libera_onda(e);
    disuelve(e.trabajadores);
    for (entrenamiento& p : partes_de(e)) libera_onda(p);
    delete[] e.partes;
}

void cambia_hilos(entrenamiento& e, uint32_t hilos) {
    if (e.npartes == 0 && e.bloque == nullptr) return;  // not a wavefront
    // The weights go back to W and come from there into the new parts; the
    // samples' copy, the inputs kept apart and the timings stay as they are.
    const entrenamiento antes = e;
    const entrenamiento& primera = partes_de(e)[0];
    const std::vector<uint32_t> muertas(primera.filas_muertas,
                                        primera.filas_muertas + primera.nmuertas);
    const matriz colocadas_de = primera.colocadas_de;
    const uint32_t ncolocadas = primera.ncolocadas;
    libera_menos_muestras(e);
    e = empieza_entrenamiento(antes.tipo, antes.W, antes.dimension, antes.nsalidas, hilos);
    e.hilos = antes.hilos;
    e.forma = antes.forma;
    comparte_muestras(e, antes.muestras, colocadas_de, ncolocadas);
    aparta(e, muertas);
}

// One cycle, and the rollback if a dead input's weight stopped being finite.
static void ciclo_con_vuelta(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                             vector err) {
    const std::span<entrenamiento> partes = partes_de(e);
    corta_muertas(partes, e.forma.muertas_juntas);
    // Only outputs worked apart can leave a weight that is not finite there.
    const bool aparte = std::any_of(partes.begin(), partes.end(), [](const entrenamiento& p) {
        return p.nmuertas > 0 && p.corte_muertas > 0;
    });
    if (aparte)
        for (entrenamiento& p : partes) copia_pesos(p, true);
    if (ciclo_completo(e, X, nmuestras, nu, y, err)) return;
    // A dead input's weight is no longer finite, so it no longer adds
    // nothing to y: the cycle starts again with every input together.
    for (entrenamiento& p : partes) {
        copia_pesos(p, false);
        junta_muertas(p);
    }
    for (uint32_t j = 0; j < e.nsalidas; ++j) err[j] = 0.0f;
    ciclo_completo(e, X, nmuestras, nu, y, err);
}

void ciclo_entrenamiento(entrenamiento& e, matriz X, uint32_t nmuestras, float nu, vector y,
                         vector err) {
    if (e.hilos <= 1 && !e.forma.elige_muertas)
        return ciclo_con_vuelta(e, X, nmuestras, nu, y, err);
    const auto inicio = std::chrono::steady_clock::now();
    ciclo_con_vuelta(e, X, nmuestras, nu, y, err);
    const std::chrono::duration<double> segundos = std::chrono::steady_clock::now() - inicio;
    aplica(e, cuenta_ciclo(e, segundos.count()));
}

void aplica(entrenamiento& e, cambio c) {
    switch (c) {
        case cambio::ninguno: break;
        case cambio::hilos: cambia_hilos(e, e.npartes > 0 ? 1 : e.hilos); break;
        case cambio::muertas: e.forma.muertas_juntas = !e.forma.muertas_juntas; break;
    }
}

// Whether a cycle of ahora seconds one way beats one of antes seconds the
// other. Only some ways win by any margin (sin_margen): one thread must
// beat all by a tenth, since a wrong choice costs more that way.
static bool gana(bool sin_margen, double ahora, double antes) {
    return sin_margen ? ahora < antes : ahora < 0.9 * antes;
}

// On a shared machine the cores come and go: two threads that hand each
// sample on can be slower than one while the other core is busy with
// someone else's work. So two cycles in every 64, from the third, train on
// the other number of threads, and the faster way stays; and when the way
// it trains slows down until the other, as last timed, would beat it, the
// other is tried again at once rather than up to 62 cycles later. A
// moment's preemption only ever adds time, so each way counts by the
// quicker of its last two cycles.
//
// On a CPU that does not slow down on subnormal numbers, dead inputs kept
// apart may be faster or slower than in the kernel, by the shape of the
// samples, and early in a training by the cycle: on AMD Zen 5 the kernel
// slows down for a few cycles while the dead weights sink through the range
// where products underflow, and speeds up again after. Their other way is
// tried from the seventh cycle, again pausa_minima cycles after a try that
// changed the way, and twice as long after each that did not, up to
// pausa_maxima. Moving them costs nothing, unlike new threads and their
// memory, and the way that loses is often twice as slow: a try whose first
// cycle is slower by more than a tenth ends there.
constexpr uint32_t ronda_hilos = 64, pausa_minima = 16, pausa_maxima = 256;

cambio cuenta_ciclo(entrenamiento& e, double segundos) {
    eleccion& f = e.forma;
    const bool hilos = e.hilos > 1, en_todos = e.npartes > 0;
    double mejor = f.ultimo > 0 ? std::min(f.ultimo, segundos) : segundos;
    f.ultimo = segundos;
    // Each choice's wait runs on through the other's tries.
    if (hilos && f.espera_hilos > 0) --f.espera_hilos;
    if (f.elige_muertas && f.espera_muertas > 0) --f.espera_muertas;
    if (f.desde_prueba < 2) ++f.desde_prueba;

    if (f.prueba != cambio::ninguno) {
        const cambio que = f.prueba;
        const bool de_hilos = que == cambio::hilos;
        if (!f.segunda) {
            f.segunda = true;
            if (de_hilos || segundos <= 1.1 * f.segundos) return cambio::ninguno;
            mejor = segundos;  // cut short: it loses below
        }
        f.prueba = cambio::ninguno;
        f.desde_prueba = 0;
        const bool pierde = !gana(de_hilos ? en_todos : true, mejor, f.segundos);
        if (!de_hilos) {
            f.pausa_muertas = pierde ? std::min(2 * f.pausa_muertas, pausa_maxima) : pausa_minima;
            f.espera_muertas = f.pausa_muertas;
        }
        double& otra = de_hilos ? f.otra_hilos : f.otra_muertas;
        if (pierde) {
            otra = mejor;
            f.ultimo = 0;  // no cycle yet the way it goes back to
            return que;
        }
        otra = f.segundos;
        f.segundos = mejor;
        return cambio::ninguno;
    }

    f.segundos = mejor;
    // From the second cycle after a try on, when the last two are this way's.
    if (f.desde_prueba >= 2) {
        if (hilos && f.otra_hilos > 0 && gana(!en_todos, f.otra_hilos, mejor))
            f.espera_hilos = 0;
        else if (f.elige_muertas && f.otra_muertas > 0 && gana(true, f.otra_muertas, mejor))
            f.espera_muertas = 0;
    }
    const auto prueba = [&f](cambio que) {
        f.prueba = que;
        f.segunda = false;
        f.ultimo = 0;  // no cycle yet the way it tries
        return que;
    };
    if (hilos && f.espera_hilos == 0) {
        f.espera_hilos = ronda_hilos;
        return prueba(cambio::hilos);
    }
    if (f.elige_muertas && f.espera_muertas == 0) return prueba(cambio::muertas);
    return cambio::ninguno;
}

void termina_entrenamiento(entrenamiento& e) {
    libera_menos_muestras(e);
    std::free(e.muestras);
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
