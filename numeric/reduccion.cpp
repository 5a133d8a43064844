#include "reduccion.hpp"

#include <utility>

#include "numeric/sanger.hpp"
#include "numeric/vectores.hpp"

void transforma(uint32_t n, uint32_t dim, uint32_t m, matriz W, FILE* entrada, FILE* salida,
                int media_fila, int varianza) {
    vector_propio bloque_x(reserva_vector(dim));
    vector_propio bloque_y(reserva_vector(m));
    vector x = bloque_x.get();
    vector y = bloque_y.get();
    float Sxx = 0.0f;  // sum of the squared lengths of the inputs
    float Syy = 0.0f;  // and of the outputs
    uint32_t reducidas = 0;
    for (; reducidas < n; ++reducidas) {
        if (lee_matriz(entrada, 1, dim, &x) != 1) break;
        if (media_fila) ajusta(&x, 1, dim);
        y = salsanger(W, x, y, dim, m);
        if (varianza) {
            const float a = modulo(dim, x);
            Sxx = Sxx + a * a;
            const float b = modulo(m, y);
            Syy = Syy + b * b;
        }
        escribe_matriz(salida, 1, m, &y);
    }
    bloque_x.reset();
    bloque_y.reset();
    if (varianza) escribe_varianza(Sxx, Syy, reducidas);
}

void escribe_varianza(float suma_entrada, float suma_salida, uint32_t reducidas) {
    // Divided by the samples actually reduced: a file shorter than the
    // request must not dilute the figures.
    const float N = static_cast<float>(reducidas);
    const float vin = reducidas == 0 ? 0.0f : suma_entrada / N;
    const float vout = reducidas == 0 ? 0.0f : suma_salida / N;
    const float p = vin == 0.0f ? 0.0f : vout * 100.0f / vin;
    std::fprintf(stderr,
                 "Varianza en la entrada:  %f\n"
                 "Varianza en la salida:   %f\n"
                 "%% varianza representada: %f%%\n",
                 static_cast<double>(vin), static_cast<double>(vout), static_cast<double>(p));
}

void reduce_muestras(const ejecucion& e, matriz W, bool media_fila, bool varianza) {
    fichero muestras =
        abre_fichero(e.fichero_muestras.c_str(), "r", "No se pudo abrir fichero de muestras");
    fichero reducidas = abre_fichero(e.fichero_reducidas.c_str(), "w",
                                     "No se pudo abrir fichero de las muestras reducidas");
    transforma(e.nreducir, e.dimension, e.nsalidas, W, muestras.get(), reducidas.get(), media_fila,
               varianza);
    muestras.reset();
    cierra_escritura(std::move(reducidas));
}
