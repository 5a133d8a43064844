#include "driver.hpp"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "matrix/hermat.hpp"
#include "numeric/sanger.hpp"

const char* program = "sanger";

void help() {
    std::fprintf(stderr,
                 "Usar: %s [opciones] fichejec\n"
                 "Opciones:\n"
                 " -v  => Utilizar muestras de aprendizaje con media por columna a 0\n"
                 " -m  => No utilizar muestras de aprendizaje con media por fila a 0\n"
                 " -in => Numero maximo de iteraciones en la red (200)\n"
                 " -tf => Error de parada de la red de sanger (0)\n"
                 " -af => Coeficiente inicial de la red de sanger (0.3)\n"
                 " -en => general report error every n pass\n"
                 " -s  => change calculation of overlapped variance (on)\n",
                 program);
    std::exit(1);
}

int lee_opciones(int argc, char* argv[], ajustes& a) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* valor = argv[i][1] == '\0' ? "" : argv[i] + 2;
        // A value that does not convert leaves the setting as it was; letters
        // the program does not know are passed over without a word.
        switch (argv[i][1]) {
            case 'a': std::sscanf(valor, "%f", &a.alfa); break;
            case 'i': std::sscanf(valor, "%u", &a.iteraciones); break;
            case 't': std::sscanf(valor, "%f", &a.error_parada); break;
            case 'e': std::sscanf(valor, "%d", &T2); break;
            case 'm': a.media_fila = false; break;
            case 'v': a.media_columna = true; break;
            case 's': a.varianza = !a.varianza; break;
            default: break;
        }
    }
    return i;
}

[[noreturn]] static void ejecuciones_erroneas(FILE* fichejec) {
    error_fatal(std::ferror(fichejec) ? "No se pudo leer fichero"
                                      : "Fichero de ejecuciones erroneo");
}

uint32_t lee_numero_ejecuciones(FILE* fichejec) {
    // Read wider than an int, so that a count beyond it is refused instead of
    // wrapping into a small one (-4294967295 would read as 1). The C library
    // holds a count beyond even this width at its largest or smallest value,
    // out of range all the same.
    long long n = 0;
    if (std::fscanf(fichejec, "%lld", &n) != 1 || n < 0 || n > INT_MAX)
        ejecuciones_erroneas(fichejec);
    return static_cast<uint32_t>(n);
}

static void lee_campo(FILE* fichejec, uint32_t& campo) {
    if (std::fscanf(fichejec, "%u", &campo) != 1) ejecuciones_erroneas(fichejec);
}

// A name is one word, as "%s" reads it, of any length.
static void lee_campo(FILE* fichejec, std::string& campo) {
    int c;
    while ((c = std::getc(fichejec)) != EOF && std::isspace(c)) {
    }
    if (c == EOF) ejecuciones_erroneas(fichejec);
    campo.clear();
    for (; c != EOF && !std::isspace(c); c = std::getc(fichejec))
        campo.push_back(static_cast<char>(c));
    if (std::ferror(fichejec)) ejecuciones_erroneas(fichejec);
    if (c != EOF) std::ungetc(c, fichejec);
}

void lee_ejecucion(FILE* fichejec, ejecucion& e) {
    lee_campo(fichejec, e.dimension);
    lee_campo(fichejec, e.nmuestras);
    lee_campo(fichejec, e.fichero_muestras);
    lee_campo(fichejec, e.nsalidas);
    lee_campo(fichejec, e.fichero_autovectores);
    lee_campo(fichejec, e.fichero_reducidas);
    lee_campo(fichejec, e.nreducir);
}
