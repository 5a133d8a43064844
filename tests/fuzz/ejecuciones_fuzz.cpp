// The option scan and the runs file on arbitrary bytes: the first line holds
// the arguments, separated by blanks; the rest is the runs file.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.hpp"
#include "numeric/sanger.hpp"
#include "tests/fuzz/fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t n) {
    const uint8_t* salto = std::find(datos, datos + n, '\n');
    std::istringstream linea(std::string(datos, salto));
    std::vector<std::string> args{"sanger"};
    for (std::string arg; linea >> arg && args.size() < 12;) args.push_back(arg);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    T2 = 10000;
    ajustes a;
    const int i = lee_opciones(static_cast<int>(args.size()), argv.data(), a);
    if (i > static_cast<int>(args.size())) __builtin_trap();

    const size_t resto = salto == datos + n ? 0 : static_cast<size_t>(datos + n - salto - 1);
    fichero f = abre_bytes(salto + (resto > 0 ? 1 : 0), resto);
    try {
        const uint32_t corridas = lee_numero_ejecuciones(f.get());
        ejecucion e;
        for (uint32_t r = 0; r < corridas && r < 64; ++r) lee_ejecucion(f.get(), e);
    } catch (const fallo_fatal&) {
    }
    return 0;
}
