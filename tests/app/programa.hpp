// Runs the built program in a temporary folder of its own and collects its
// status, standard output and standard error, for whole-output comparisons.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/comun.hpp"

// A whole file as bytes.
inline std::string lee_fichero(const std::filesystem::path& ruta) {
    std::ifstream f(ruta, std::ios::binary);
    std::ostringstream texto;
    texto << f.rdbuf();
    return texto.str();
}

struct resultado {
    int estado = -1;
    std::string salida;   // standard output: always empty
    std::string errores;  // standard error
};

class Programa : public testing::Test {
   protected:
    std::filesystem::path carpeta;
    // Address space the program may use, in bytes (0: no limit), so that a
    // refused allocation does not depend on the machine's memory.
    rlim_t limite_memoria = 0;

    void SetUp() override {
        std::string plantilla = (std::filesystem::temp_directory_path() / "sanger.XXXXXX").string();
        ASSERT_NE(mkdtemp(plantilla.data()), nullptr);
        carpeta = plantilla;
    }

    void TearDown() override {
        std::filesystem::remove_all(carpeta);
    }

    void escribe(const std::string& nombre, const std::string& texto) {
        std::ofstream(carpeta / nombre, std::ios::binary) << texto;
    }

    std::string lee(const std::string& nombre) {
        return lee_fichero(carpeta / nombre);
    }

    bool existe(const std::string& nombre) {
        return std::filesystem::exists(carpeta / nombre);
    }

    // Runs sanger with args in the test's folder, as the user would type it.
    resultado ejecuta(std::vector<std::string> args) {
        argumentos argv(std::move(args));
#ifdef SANGER_EMULADOR
        // The emulator runs the program under the name the user typed.
        const char* const emulador[] = {SANGER_EMULADOR, "-0"};
        argv.argv.insert(argv.argv.begin() + 1, const_cast<char*>(SANGER_PROGRAM));
        for (size_t i = std::size(emulador); i-- > 0;)
            argv.argv.insert(argv.argv.begin(), const_cast<char*>(emulador[i]));
#endif
        const std::string salida = (carpeta / ".salida").string();
        const std::string errores = (carpeta / ".errores").string();
        const rlimit limite{limite_memoria, limite_memoria};

        // vfork, not fork: the child only makes system calls before exec, and
        // under qemu-i386 a fork by the C library never returns in the child.
        pid_t pid = vfork();
        if (pid == 0) {
            if (chdir(carpeta.c_str()) != 0) _exit(127);
            if (limite_memoria != 0) setrlimit(RLIMIT_AS, &limite);
            int nulo = open("/dev/null", O_RDONLY);
            int out = open(salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errores.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(nulo, 0);
            dup2(out, 1);
            dup2(err, 2);
#ifdef SANGER_EMULADOR
            execvp(argv.argv[0], argv.argv.data());
#else
            execv(SANGER_PROGRAM, argv.argv.data());
#endif
            _exit(127);
        }
        resultado r;
        int estado = 0;
        waitpid(pid, &estado, 0);
        r.estado = WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
        r.salida = lee(".salida");
        r.errores = lee(".errores");
        std::filesystem::remove(salida);
        std::filesystem::remove(errores);
        return r;
    }
};

// The report that training prints for one cycle.
inline std::string informe_ciclo(const char* ciclo, const char* nu, const char* error) {
    return std::string("\nNumero de ciclo:      ") + ciclo + "\nNu actual:            " + nu +
           "\nMErrAct/RatioAct:     " + error + "\n---------------------------------------------\n";
}

// How the program prints a NaN that an invalid operation creates: "-nan" on
// x86, "nan" on ARM. The sign is the CPU's; the volatile keeps the compiler
// from folding 0/0 into a NaN of its own choosing.
inline std::string nan_creado() {
    volatile float cero = 0.0f;
    char texto[16];
    std::snprintf(texto, sizeof texto, "%f", static_cast<double>(cero / cero));
    return texto;
}
