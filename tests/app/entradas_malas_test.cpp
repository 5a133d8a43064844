// Bad input, row by row as the README's table lists it: the exact standard
// error and status of each, and the files of the run before it intact.
#include "programa.hpp"

namespace {

// The runs file or a samples file as a row wants it.
const char* const no_existe = "<missing>";
const char* const directorio = "<directory>";

struct fila {
    const char* nombre;
    const char* ejecuciones;  // the whole runs file, or a marker; nullptr: a good run, then linea
    const char* linea;        // the bad run's entry, after a good run
    const char* muestras;     // the file "malas", or a marker
    std::vector<std::string> opciones;
    const char* errores;  // standard error, whole
    int estado;
    int lineas_reducidas = -1;  // of "r", when the row says
    rlim_t memoria = 0;         // address-space limit, when the row needs one
};

const std::string nombre_largo(10000, 'n');
const std::string linea_larga = "1 1 " + nombre_largo + " 1 a r 1";

const fila filas[] = {
    {"runs file missing",
     no_existe,
     nullptr,
     "",
     {},
     "Error:No se puede abrir fichero de ejecuciones.",
     255},
    {"runs file is a directory",
     directorio,
     nullptr,
     "",
     {},
     "Error:No se pudo leer fichero.",
     255},
    {"runs file empty", "", nullptr, "", {}, "Error:Fichero de ejecuciones erroneo.", 255},
    {"runs file of binary garbage",
     "\x7f"
     "ELF\x02\x01\x01\x00\xff\xfe",
     nullptr,
     "",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"negative run count, then a whole entry",
     "-1\n3 2 malas 1 a r 2\n",
     nullptr,
     "1 2 3\n4 5 6\n",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"run count below the range of int, then a whole entry",
     "-4294967295\n3 2 malas 1 a r 2\n",
     nullptr,
     "1 2 3\n4 5 6\n",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"run count above the range of int, then a whole entry",
     "4294967297\n3 2 malas 1 a r 2\n",
     nullptr,
     "1 2 3\n4 5 6\n",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"run count not a number",
     "dos\n",
     nullptr,
     "",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"fewer entries than the count",
     nullptr,
     "",
     "",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"a run entry field not a number",
     nullptr,
     "3 dos malas 1 a r 2",
     "1 2 3",
     {},
     "Error:Fichero de ejecuciones erroneo.",
     255},
    {"samples file missing",
     nullptr,
     "3 2 malas 1 a r 2",
     no_existe,
     {},
     "Error:No se pudo abrir fichero de muestras.",
     255},
    {"samples file is a directory",
     nullptr,
     "3 2 malas 1 a r 2",
     directorio,
     {},
     "Error:No se pudo leer fichero.",
     255},
    {"samples file empty", nullptr, "3 2 malas 1 a r 2", "", {}, "", 0, 0},
    {"samples file of binary garbage",
     nullptr,
     "3 2 malas 1 a r 2",
     "\x01\x02\xff\xfe garbage",
     {},
     "Error:Tipo erroneo de fichero de entrada.",
     255},
    {"CRLF line ends", nullptr, "3 2 malas 1 a r 2", "1 2 3\r\n4 5 6\r\n", {}, "", 0, 2},
    {"NaN and infinite values",
     nullptr,
     "3 2 malas 1 a r 2",
     "nan 1 inf\n-inf 2 3\n",
     {},
     "",
     0,
     2},
    {"numbers out of range",
     nullptr,
     "3 2 malas 1 a r 2",
     "1e39 -1e39 1e-50\n3.5e38 2 3\n",
     {},
     "",
     0,
     2},
    {"not a number while training",
     nullptr,
     "3 2 malas 1 a r 2",
     "1 2 3\n4 x 6\n",
     {},
     "Error:Tipo erroneo de fichero de entrada.",
     255},
    {"not a number while reducing",
     nullptr,
     "3 2 malas 1 a r 3",
     "1 2 3\n4 5 6\nx",
     {},
     "Error:Tipo erroneo de fichero de entrada.",
     255,
     2},
    {"counts too large for memory",
     nullptr,
     "1 4000000000 malas 1 a r 1",
     "1",
     {},
     "Error:Falta memoria.",
     255,
     -1,
     rlim_t{1} << 30},
    {"-i-1, stopped by -t",
     nullptr,
     "3 2 malas 1 a r 2",
     "1 2 3\n4 5 6\n",
     {"-i-1", "-t1e30"},
     "",
     0,
     2},
    {"eigenvectors into a missing folder",
     nullptr,
     "3 2 malas 1 no/a r 2",
     "1 2 3\n4 5 6\n",
     {},
     "Error:No se pudo abrir fichero de autovectores.",
     255},
    {"reduced samples into a missing folder",
     nullptr,
     "3 2 malas 1 a no/r 2",
     "1 2 3\n4 5 6\n",
     {},
     "Error:No se pudo abrir fichero de las muestras reducidas.",
     255},
    {"eigenvectors to a full disk",
     nullptr,
     "3 2 malas 1 /dev/full r 2",
     "1 2 3\n4 5 6\n",
     {},
     "Error:No se pudo escribir fichero.",
     255},
    {"reduced samples to a full disk",
     nullptr,
     "3 2 malas 1 a /dev/full 2",
     "1 2 3\n4 5 6\n",
     {},
     "Error:No se pudo escribir fichero.",
     255},
    {"a name of 10,000 characters",
     nullptr,
     linea_larga.c_str(),
     "",
     {},
     "Error:No se pudo abrir fichero de muestras.",
     255},
    {"more outputs than inputs", nullptr, "3 2 malas 5 a r 2", "1 2 3\n4 5 6\n", {}, "", 0, 2},
};

using EntradasMalas = Programa;

TEST_F(EntradasMalas, EachRowOfTheTable) {
    // The good run that comes first; alone, it makes the reference files.
    escribe("buenas", "1 2\n3 4\n5 6\n");
    const std::string buena = "2 3 buenas 1 previo.a previo.r 3\n";
    auto opciones = [](std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"-e0", "-s", "-a0.01", "-i3"});
        extra.push_back("ejecuciones");
        return extra;
    };

    for (const fila& f : filas) {
        SCOPED_TRACE(f.nombre);
#ifdef __SANITIZE_ADDRESS__
        if (f.memoria != 0) continue;  // the sanitizer needs more address space than the limit
#endif
        for (const char* viejo : {"ejecuciones", "malas", "previo.a", "previo.r", "a", "r"})
            std::filesystem::remove_all(carpeta / viejo);
        const bool con_previa = f.ejecuciones == nullptr;
        std::string previo_a, previo_r;
        if (con_previa) {
            escribe("ejecuciones", "1\n" + buena);
            ASSERT_EQ(ejecuta(opciones(f.opciones)).estado, 0);
            previo_a = lee("previo.a");
            previo_r = lee("previo.r");
            escribe("ejecuciones", "2\n" + buena + f.linea + "\n");
        } else if (f.ejecuciones == directorio) {
            std::filesystem::create_directory(carpeta / "ejecuciones");
        } else if (f.ejecuciones != no_existe) {
            escribe("ejecuciones", f.ejecuciones);
        }
        if (f.muestras == directorio)
            std::filesystem::create_directory(carpeta / "malas");
        else if (f.muestras != no_existe)
            escribe("malas", f.muestras);

        limite_memoria = f.memoria;
        const resultado r = ejecuta(opciones(f.opciones));
        limite_memoria = 0;
        EXPECT_EQ(r.errores, f.errores);
        EXPECT_EQ(r.estado, f.estado);
        EXPECT_EQ(r.salida, "");
        if (con_previa) {
            EXPECT_EQ(lee("previo.a"), previo_a);
            EXPECT_EQ(lee("previo.r"), previo_r);
        } else {
            // A runs file refused whole runs nothing: no file is written.
            EXPECT_FALSE(existe("a"));
            EXPECT_FALSE(existe("r"));
        }
        if (f.lineas_reducidas >= 0) {
            const std::string reducidas = lee("r");
            EXPECT_EQ(std::count(reducidas.begin(), reducidas.end(), '\n'), f.lineas_reducidas);
        }
    }
}

}  // namespace
