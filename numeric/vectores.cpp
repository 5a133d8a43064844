#include "vectores.hpp"

#include <cmath>

vector copia_vector(vector src, vector dst, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) dst[i] = src[i];
    return dst;
}

float mult(vector a, vector b, uint32_t n) {
    float s = 0.0f;
    for (uint32_t i = 0; i < n; ++i) s = s + a[i] * b[i];
    return s;
}

vector med0(uint32_t n, vector v) {
    float s = 0.0f;
    for (uint32_t i = 0; i < n; ++i) s = s + v[i];
    const float mean = s / static_cast<float>(n);
    for (uint32_t i = 0; i < n; ++i) v[i] = v[i] - mean;
    return v;
}

float modulo(uint32_t n, vector v) {
    float s = 0.0f;
    for (uint32_t i = 0; i < n; ++i) s = s + v[i] * v[i];
    return static_cast<float>(std::sqrt(static_cast<double>(s)));
}

vector norm(uint32_t n, vector v) {
    const float longitud = modulo(n, v);
    for (uint32_t i = 0; i < n; ++i) v[i] = v[i] / longitud;
    return v;
}

matriz ajusta(matriz m, uint32_t rows, uint32_t cols) {
    for (uint32_t r = 0; r < rows; ++r) m[r] = med0(cols, m[r]);
    return m;
}

matriz media(matriz m, uint32_t rows, uint32_t cols, vector mean) {
    for (uint32_t r = rows; r-- > 0;)
        for (uint32_t c = 0; c < cols; ++c) mean[c] = mean[c] + m[r][c];
    for (uint32_t c = 0; c < cols; ++c) mean[c] = mean[c] / static_cast<float>(rows);
    return m;
}

matriz mean0(uint32_t rows, uint32_t cols, matriz m, vector mean) {
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c) m[r][c] = m[r][c] - mean[c];
    return m;
}

vector centra_muestras(matriz X, uint32_t nmuestras, uint32_t dimension, bool media_fila,
                       bool media_columna) {
    if (media_fila) X = ajusta(X, nmuestras, dimension);
    if (!media_columna) return nullptr;
    // Column means are those of the row-centred samples.
    vector medias = reserva_vector(dimension);
    media(X, nmuestras, dimension, medias);
    X = mean0(nmuestras, dimension, X, medias);
    return medias;
}
