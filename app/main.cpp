// sanger: principal components of a set of samples with a linear network
// trained by Sanger's rule. Each run of the runs file loads its samples,
// centres them, trains, writes the eigenvectors and reduces samples.
#include <cstdio>
#include <utility>

#include "app/driver.hpp"
#include "matrix/hermat.hpp"
#include "numeric/reduccion.hpp"
#include "numeric/sanger.hpp"
#include "numeric/vectores.hpp"

// Loads the training samples. A file shorter than promised is no failure:
// the samples it lacks stay zero rows and train like the others.
static void carga_muestras(const ejecucion& e, matriz X) {
    fichero muestras =
        abre_fichero(e.fichero_muestras.c_str(), "r", "No se pudo abrir fichero de muestras");
    lee_matriz(muestras.get(), e.nmuestras, e.dimension, X);
}

static void guarda_autovectores(const ejecucion& e, matriz W) {
    fichero autovectores = abre_fichero(e.fichero_autovectores.c_str(), "w",
                                        "No se pudo abrir fichero de autovectores");
    escribe_matriz(autovectores.get(), e.dimension, e.nsalidas, W);
    cierra_escritura(std::move(autovectores));
}

int main(int argc, char* argv[]) {
    if (argc > 0) program = argv[0];
    ajustes a;
    int i = lee_opciones(argc, argv, a);
    if (i >= argc) help();

    // The runs file stays open through every run.
    fichero fichejec(abre_fichero(argv[i], "r", "No se puede abrir fichero de ejecuciones"));
    uint32_t n = lee_numero_ejecuciones(fichejec.get());
    ejecucion e;
    for (uint32_t r = 0; r < n; ++r) {
        lee_ejecucion(fichejec.get(), e);

        matriz_propia X(reserva_matriz(e.nmuestras, e.dimension), {e.nmuestras});
        carga_muestras(e, X.get());
        vector_propio medias(
            centra_muestras(X.get(), e.nmuestras, e.dimension, a.media_fila, a.media_columna));
        matriz_propia W(sanger(e.nmuestras, e.dimension, X.get(), e.nsalidas, a.alfa, a.iteraciones,
                               a.error_parada),
                        {e.dimension});
        guarda_autovectores(e, W.get());
        // The reduction rereads the file, so X goes first: the peak is one big block, not two.
        X.reset();
        medias.reset();
        reduce_muestras(e, W.get(), a.media_fila, a.varianza);
        W.reset();
    }
    return 0;
}
