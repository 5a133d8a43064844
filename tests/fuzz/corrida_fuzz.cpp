// The whole program on a tiny generated batch: options, a runs file and two
// samples files made from the input bytes, run by the program's own main
// (compiled under another name), in a private folder. Sizes and cycles are
// bounded so that an input takes milliseconds.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "numeric/sanger.hpp"
#include "tests/fuzz/fuzz.hpp"

int sanger_main(int argc, char* argv[]);

namespace {

void escribe(const char* nombre, const uint8_t* datos, size_t n) {
    FILE* f = std::fopen(nombre, "wb");
    std::fwrite(datos, 1, n, f);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char carpeta[] = "/tmp/sanger-fuzz.XXXXXX";
    if (mkdtemp(carpeta) == nullptr || chdir(carpeta) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t n) {
    if (n < 5) return 0;
    std::vector<std::string> args{"sanger"};
    const uint8_t banderas = datos[0];
    if (banderas & 1) args.push_back("-m");
    if (banderas & 2) args.push_back("-v");
    if (banderas & 4) args.push_back("-s");
    if (banderas & 8) args.push_back("-s");
    static const char* const intervalos[] = {"-e0", "-e1", "-e2", "-e-1"};
    args.push_back(intervalos[banderas >> 4 & 3]);
    args.push_back("-i" + std::to_string(datos[1] % 6));
    static const char* const alfas[] = {"-a0.3", "-a0.01", "-a1e-3", "-a10", "-anan", "-a"};
    args.push_back(alfas[datos[2] % 6]);
    static const char* const paradas[] = {"-t0", "-t0.5", "-t1e30", "-tnan", "-tinf"};
    args.push_back(paradas[datos[3] % 5]);
    args.push_back("ejecuciones");

    // Up to three runs, five bytes each.
    const uint32_t corridas = datos[4] % 4;
    size_t usado = 5;
    std::string ejecuciones = std::to_string(corridas) + "\n";
    static const char* const autovectores[] = {"autovec", "A", "no/autovec", "/dev/full"};
    static const char* const reducidas[] = {"reduc", "reduc", "no/reduc", "/dev/full"};
    for (uint32_t r = 0; r < corridas && usado + 5 <= n; ++r, usado += 5) {
        const uint8_t* c = datos + usado;
        ejecuciones += std::to_string(c[0] % 21) + " " + std::to_string(c[1] % 9) + " " +
                       (c[4] & 1 ? "B" : "A") + " " + std::to_string(c[2] % 7) + " " +
                       autovectores[c[4] >> 1 & 3] + " " + reducidas[c[4] >> 3 & 3] + " " +
                       std::to_string(c[3] % 11) + "\n";
    }
    escribe("ejecuciones", reinterpret_cast<const uint8_t*>(ejecuciones.data()),
            ejecuciones.size());
    // The rest, halved, makes the two samples files.
    const size_t resto = n - usado, mitad = resto / 2;
    escribe("A", datos + usado, mitad);
    escribe("B", datos + usado + mitad, resto - mitad);

    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    T2 = 10000;
    try {
        sanger_main(static_cast<int>(args.size()), argv.data());
    } catch (const fallo_fatal&) {
    }
    return 0;
}
