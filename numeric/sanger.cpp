#include "sanger.hpp"

#include <cstdio>
#include <cstdlib>

#include "numeric/en_orden.hpp"
#include "numeric/entrenamiento.hpp"

int T2 = 10000;

matriz rand_w(matriz W, uint32_t rows, uint32_t cols) {
    // Seeding on every call gives every run of the same sizes the same start.
    std::srand(1);
    for (uint32_t k = 0; k < rows; ++k)
        for (uint32_t j = 0; j < cols; ++j)
            W[k][j] = static_cast<float>(std::rand() & 0x7fff) / 32767.0f;
    return W;
}

vector salsanger(matriz W, vector x, vector y, uint32_t rows, uint32_t cols) {
    for (uint32_t j = 0; j < cols; ++j) y[j] = 0.0f;
    for (uint32_t k = 0; k < rows; ++k)
        for (uint32_t j = 0; j < cols; ++j) y[j] = mas(por(W[k][j], x[k]), y[j]);
    return y;
}

void displaynet(int ciclo, float nu, float error) {
    std::fprintf(stderr,
                 "\nNumero de ciclo:      %d"
                 "\nNu actual:            %f"
                 "\nMErrAct/RatioAct:     %f"
                 "\n---------------------------------------------\n",
                 ciclo, static_cast<double>(nu), static_cast<double>(error));
}

// The same float as the 32-bit product whenever that one does not wrap.
float divisor_error(uint32_t dimension, uint32_t nmuestras) {
    return static_cast<float>(uint64_t{dimension} * nmuestras);
}

matriz sanger(uint32_t nmuestras, uint32_t dimension, matriz X, uint32_t nsalidas, float alfa,
              uint32_t iteraciones, float error_parada) {
    matriz W = reserva_matriz(dimension, nsalidas);
    vector err = reserva_vector(nsalidas);
    vector y = reserva_vector(nsalidas);
    W = rand_w(W, dimension, nsalidas);

    const float q = divisor_error(dimension, nmuestras);
    const float paso = alfa / static_cast<float>(iteraciones);
    float nu = alfa;
    // The stop test runs once before the first cycle with E = error_parada, so
    // only a NaN stop error prevents the first cycle.
    bool sigue = iteraciones != 0 && error_parada >= error_parada;
    const nucleo tipo = nucleo_preferido(dimension, nsalidas);
    entrenamiento e = empieza_entrenamiento(tipo, W, dimension, nsalidas,
                                            hilos_preferidos(tipo, dimension, nsalidas, nmuestras));
    if (sigue) coloca_muestras(e, X, nmuestras);
    // Where subnormal numbers are not slow, apart only while timed faster.
    if (sigue) separa_muertas(e, X, nmuestras, subnormales_lentos());
    for (uint32_t ciclo = 1; sigue; ++ciclo) {
        for (uint32_t j = 0; j < nsalidas; ++j) err[j] = 0.0f;
        ciclo_entrenamiento(e, X, nmuestras, nu, y, err);

        float E = 0.0f;
        for (uint32_t j = 0; j < nsalidas; ++j) {
            err[j] = err[j] / q;
            E = E + err[j];
        }
        E = E / static_cast<float>(nsalidas);

        if (T2 != 0 && (ciclo - 1) % static_cast<uint32_t>(T2) == 0)
            displaynet(static_cast<int>(ciclo), nu, E);
        if (ciclo == iteraciones) break;
        nu = nu - paso;
        sigue = E >= error_parada;
    }

    termina_entrenamiento(e);

    libera_vector(y);
    libera_vector(err);
    return W;
}
