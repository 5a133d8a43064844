// sanger: principal components of a set of samples with a linear network
// trained by Sanger's rule. Each run of the runs file loads its samples,
// centres them, trains, writes the eigenvectors and reduces samples.
#include <cstdio>

#include "app/driver.hpp"
#include "matrix/hermat.hpp"
#include "numeric/reduccion.hpp"
#include "numeric/sanger.hpp"
#include "numeric/vectores.hpp"

// Loads the training samples. A file shorter than promised is no failure:
// the samples it lacks stay zero rows and train like the others.
static void carga_muestras(const ejecucion& e, matriz X) {
    FILE* muestras =
        abre_fichero(e.fichero_muestras.c_str(), "r", "No se pudo abrir fichero de muestras");
    lee_matriz(muestras, e.nmuestras, e.dimension, X);
    std::fclose(muestras);
}

static void guarda_autovectores(const ejecucion& e, matriz W) {
    FILE* autovectores = abre_fichero(e.fichero_autovectores.c_str(), "w",
                                      "No se pudo abrir fichero de autovectores");
    escribe_matriz(autovectores, e.dimension, e.nsalidas, W);
    cierra_escritura(autovectores);
}

int main(int argc, char* argv[]) {
    if (argc > 0) program = argv[0];
    ajustes a;
    int i = lee_opciones(argc, argv, a);
    if (i >= argc) help();

    // The runs file stays open until the process ends.
    FILE* fichejec = abre_fichero(argv[i], "r", "No se puede abrir fichero de ejecuciones");
    uint32_t n = lee_numero_ejecuciones(fichejec);
    ejecucion e;
    for (uint32_t r = 0; r < n; ++r) {
        lee_ejecucion(fichejec, e);

        matriz X = reserva_matriz(e.nmuestras, e.dimension);
        carga_muestras(e, X);
        vector medias = centra_muestras(X, e.nmuestras, e.dimension, a.media_fila, a.media_columna);
        matriz W =
            sanger(e.nmuestras, e.dimension, X, e.nsalidas, a.alfa, a.iteraciones, a.error_parada);
        guarda_autovectores(e, W);
        libera_matriz(e.nmuestras, X);
        libera_vector(medias);
        reduce_muestras(e, W, a.media_fila, a.varianza);
        libera_matriz(e.dimension, W);
    }
    return 0;
}
