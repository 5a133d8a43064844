// Matrix text speed: the C library's "%f" and "%g%c" against the program's
// reader and writer on the same large samples file, in one run, with the
// values and bytes compared (each time the best of three); then the whole
// program on that file.
//
//     build/bench/texto_bench [folder]     (default /tmp; needs about 250 MB)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "matrix/hermat.hpp"

namespace {

using reloj = std::chrono::steady_clock;

double segundos(reloj::time_point desde) {
    return std::chrono::duration<double>(reloj::now() - desde).count();
}

// The best of three runs: the machines are shared, and a neighbour's burst
// should not decide a ratio.
template <class F>
double mejor_de_tres(F&& medir) {
    double mejor = 1e30;
    for (int vez = 0; vez < 3; ++vez) mejor = std::min(mejor, medir());
    return mejor;
}

// Every stream gets the program's own buffer, so that only the number text
// differs between the two sides.
fichero abre(const std::string& ruta, const char* modo) {
    return abre_fichero(ruta.c_str(), modo, "No se pudo abrir fichero");
}

bool mismos_bytes(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    static char ba[1 << 16], bb[1 << 16];
    bool iguales = true;
    for (;;) {
        const size_t na = std::fread(ba, 1, sizeof ba, fa), nb = std::fread(bb, 1, sizeof bb, fb);
        if (na != nb || std::memcmp(ba, bb, na) != 0) iguales = false;
        if (!iguales || na == 0) break;
    }
    std::fclose(fa);
    std::fclose(fb);
    return iguales;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string carpeta = argc > 1 ? argv[1] : "/tmp";
    const std::string con_printf = carpeta + "/texto_bench_printf.txt";
    const std::string propio = carpeta + "/texto_bench_propio.txt";
    const uint32_t cols = 64, filas = 180000;  // 11.5 million values, about 100 MB
    const double valores = double{filas} * cols;

    // Values of the kind the program writes: six significant digits or fewer.
    matriz X = reserva_matriz(filas, cols);
    std::mt19937 azar(42);
    std::normal_distribution<float> normal(0.0f, 3.0f);
    for (uint32_t r = 0; r < filas; ++r)
        for (uint32_t c = 0; c < cols; ++c) X[r][c] = normal(azar);

    FILE* f = nullptr;
    const double t_fprintf = mejor_de_tres([&] {
        const auto inicio = reloj::now();
        fichero g = abre(con_printf, "w");
        for (uint32_t r = 0; r < filas; ++r)
            for (uint32_t c = 0; c < cols; ++c)
                std::fprintf(g.get(), "%g%c", static_cast<double>(X[r][c]),
                             c + 1 == cols ? '\n' : '\t');
        cierra_escritura(std::move(g));
        return segundos(inicio);
    });
    const double t_escribe = mejor_de_tres([&] {
        const auto inicio = reloj::now();
        fichero g = abre(propio, "w");
        escribe_matriz(g.get(), filas, cols, X);
        cierra_escritura(std::move(g));
        return segundos(inicio);
    });

    f = std::fopen(propio.c_str(), "r");
    std::fseek(f, 0, SEEK_END);
    const double mb = static_cast<double>(std::ftell(f)) / 1e6;
    std::fclose(f);

    matriz A = reserva_matriz(filas, cols);
    matriz B = reserva_matriz(filas, cols);
    bool completo = true;
    const double t_fscanf = mejor_de_tres([&] {
        const auto inicio = reloj::now();
        fichero g = abre(con_printf, "r");
        for (uint32_t r = 0; r < filas; ++r)
            for (uint32_t c = 0; c < cols; ++c)
                completo &= std::fscanf(g.get(), "%f", &A[r][c]) == 1;
        g.reset();
        return segundos(inicio);
    });
    uint32_t leidas = 0;
    const double t_lee = mejor_de_tres([&] {
        const auto inicio = reloj::now();
        fichero g = abre(con_printf, "r");
        leidas = lee_matriz(g.get(), filas, cols, B);
        g.reset();
        return segundos(inicio);
    });

    bool mismos_valores = completo && leidas == filas;
    for (uint32_t r = 0; r < filas && mismos_valores; ++r)
        mismos_valores = std::memcmp(A[r], B[r], cols * sizeof(float)) == 0;

    std::printf("file: %.1f MB, %.1f million values\n", mb, valores / 1e6);
    std::printf("write  fprintf(\"%%g%%c\") %7.3f s %7.1f MB/s\n", t_fprintf, mb / t_fprintf);
    std::printf("       escribe_matriz  %7.3f s %7.1f MB/s   %.1fx   bytes %s\n", t_escribe,
                mb / t_escribe, t_fprintf / t_escribe,
                mismos_bytes(con_printf, propio) ? "same" : "DIFFERENT");
    std::printf("read   fscanf(\"%%f\")    %7.3f s %7.1f MB/s\n", t_fscanf, mb / t_fscanf);
    std::printf("       lee_matriz      %7.3f s %7.1f MB/s   %.1fx   values %s\n", t_lee,
                mb / t_lee, t_fscanf / t_lee, mismos_valores ? "same" : "DIFFERENT");
    libera_matriz(filas, A);
    libera_matriz(filas, B);
    libera_matriz(filas, X);

    // The whole program with no training cycle: reads the file, writes the
    // pseudo-random eigenvectors, reads it again and writes 2 values a sample.
    const std::string ejecuciones = carpeta + "/texto_bench.run";
    f = std::fopen(ejecuciones.c_str(), "w");
    std::fprintf(f, "1\n%u %u %s 2 %s/texto_bench.autovec %s/texto_bench.reduc %u\n", cols, filas,
                 con_printf.c_str(), carpeta.c_str(), carpeta.c_str(), filas);
    std::fclose(f);
    std::string programa = SANGER_PROGRAM, i0 = "-i0", s = "-s";
    char* argv_sanger[] = {programa.data(), i0.data(), s.data(),
                           const_cast<char*>(ejecuciones.c_str()), nullptr};
    const auto inicio = reloj::now();
    pid_t pid;
    int estado = 0;
    if (posix_spawn(&pid, programa.c_str(), nullptr, nullptr, argv_sanger, environ) != 0) return 1;
    // Its peak memory, from its own high-water mark while it runs (the
    // child's rusage would count this process's pages too).
    long pico_kb = 0;
    while (waitpid(pid, &estado, WNOHANG) == 0) {
        if (FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r")) {
            char linea[256];
            while (std::fgets(linea, sizeof linea, status))
                if (std::strncmp(linea, "VmHWM:", 6) == 0)
                    pico_kb = std::max(pico_kb, std::atol(linea + 6));
            std::fclose(status);
        }
        usleep(2000);
    }
    const double t_sanger = segundos(inicio);
    std::printf(
        "sanger -i0 on the file: %.3f s, status %d, peak memory %.1f MB "
        "(the samples matrix: %.1f MB)\n",
        t_sanger, WEXITSTATUS(estado), static_cast<double>(pico_kb) / 1024,
        valores * sizeof(float) / 1e6);

    for (const std::string& ruta :
         {con_printf, propio, ejecuciones, carpeta + "/texto_bench.autovec",
          carpeta + "/texto_bench.reduc"})
        std::remove(ruta.c_str());
    return 0;
}
