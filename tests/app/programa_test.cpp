// The program end to end: whole standard error, status and files compared.
#include "programa.hpp"

namespace {

const char* const uso =
    "Usar: sanger [opciones] fichejec\n"
    "Opciones:\n"
    " -v  => Utilizar muestras de aprendizaje con media por columna a 0\n"
    " -m  => No utilizar muestras de aprendizaje con media por fila a 0\n"
    " -in => Numero maximo de iteraciones en la red (200)\n"
    " -tf => Error de parada de la red de sanger (0)\n"
    " -af => Coeficiente inicial de la red de sanger (0.3)\n"
    " -en => general report error every n pass\n"
    " -s  => change calculation of overlapped variance (on)\n";

// The pseudo-random start of a 3 × 2 network.
const char* const inicio_3x2 = "0.542222\t0.279489\n0.19071\t0.566027\n0.721244\t0.726554\n";

using Sanger = Programa;

TEST_F(Sanger, UsageWhenNoRunsFileIsNamed) {
    for (auto args : {std::vector<std::string>{}, {"-a0.1", "-s", "-"}}) {
        resultado r = ejecuta(args);
        EXPECT_EQ(r.estado, 1);
        EXPECT_EQ(r.errores, uso);
        EXPECT_EQ(r.salida, "");
    }
}

TEST_F(Sanger, ZeroRunsWriteNothing) {
    escribe("ejecuciones", "0\n3 1 datos 2 autovec reduc 0\n");
    resultado r = ejecuta({"ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(r.errores, "");
    EXPECT_FALSE(existe("autovec"));
}

TEST_F(Sanger, NoCycleWritesThePseudoRandomStart) {
    escribe("ejecuciones", "1 3 2 datos 2 autovec reduc 0");
    escribe("datos", "1 2 3 4 5 7");
    for (const char* opcion : {"-i0", "-tnan"}) {
        SCOPED_TRACE(opcion);
        resultado r = ejecuta({opcion, "-s", "ejecuciones"});
        EXPECT_EQ(r.estado, 0);
        EXPECT_EQ(r.errores, "");
        EXPECT_EQ(lee("autovec"), inicio_3x2);
    }
}

// Zero samples change no weight and give an error of 0, so training runs
// every allowed cycle and the report shows nu falling by alfa / iteraciones.
TEST_F(Sanger, ProgressReportEveryIntervalWithFallingNu) {
    escribe("ejecuciones", "1 3 2 ceros 2 autovec reduc 0");
    escribe("ceros", "0 0 0 0 0 0");
    struct caso {
        std::vector<std::string> opciones;
        std::string informe;
    } casos[] = {
        {{"-i4", "-e1"},
         informe_ciclo("1", "0.300000", "0.000000") + informe_ciclo("2", "0.225000", "0.000000") +
             informe_ciclo("3", "0.150000", "0.000000") +
             informe_ciclo("4", "0.075000", "0.000000")},
        {{"-i5", "-e2", "-a1"},
         informe_ciclo("1", "1.000000", "0.000000") + informe_ciclo("3", "0.600000", "0.000000") +
             informe_ciclo("5", "0.200000", "0.000000")},
        {{"-i4"}, informe_ciclo("1", "0.300000", "0.000000")},
        {{"-i4", "-e-1"}, informe_ciclo("1", "0.300000", "0.000000")},
        {{"-i4", "-e0"}, ""},
        {{"-i4", "-e1", "-t0.5"}, informe_ciclo("1", "0.300000", "0.000000")},
    };
    for (auto& c : casos) {
        c.opciones.push_back("-s");
        c.opciones.push_back("ejecuciones");
        resultado r = ejecuta(c.opciones);
        EXPECT_EQ(r.estado, 0);
        EXPECT_EQ(r.errores, c.informe);
        EXPECT_EQ(r.salida, "");
        EXPECT_EQ(lee("autovec"), inicio_3x2);
    }
}

// The first six iris samples, as read: the error falls below 0.43 at cycle 5.
TEST_F(Sanger, StopErrorEndsTrainingAtTheFirstCycleBelowIt) {
    escribe("ejecuciones", "1 4 6 datos 1 autovec reduc 0");
    escribe("datos",
            "5.1 3.5 1.4 0.2\n4.9 3 1.4 0.2\n4.7 3.2 1.3 0.2\n"
            "4.6 3.1 1.5 0.2\n5 3.6 1.4 0.2\n5.4 3.9 1.7 0.4\n");
    resultado r = ejecuta({"-m", "-s", "-a0.01", "-i8", "-e3", "-t0.43", "ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(r.errores, informe_ciclo("1", "0.010000", "32.949310") +
                             informe_ciclo("4", "0.006250", "0.441658"));
    const std::string parada = lee("autovec");

    r = ejecuta({"-m", "-s", "-a0.01", "-i8", "-e1", "-t0.43", "ejecuciones"});
    EXPECT_EQ(r.errores.find("ciclo:      5"), r.errores.rfind("ciclo:"));
    EXPECT_EQ(lee("autovec"), parada);

    r = ejecuta({"-m", "-s", "-a0.01", "-i8", "ejecuciones"});
    EXPECT_NE(lee("autovec"), parada);
}

// With nothing to average over, the error is 0/0: reported once, then training stops.
TEST_F(Sanger, DegenerateSizesGiveANanErrorAndStopAfterCycleOne) {
    escribe("datos", "1 2 3 4 5 6");
    for (const char* entrada : {"1 3 2 datos 0 autovec reduc 0", "1 3 0 datos 2 autovec reduc 0",
                                "1 0 2 datos 2 autovec reduc 0"}) {
        SCOPED_TRACE(entrada);
        escribe("ejecuciones", entrada);
        resultado r = ejecuta({"-e1", "-s", "ejecuciones"});
        EXPECT_EQ(r.estado, 0);
        EXPECT_EQ(r.errores, informe_ciclo("1", "0.300000", nan_creado().c_str()));
    }
    EXPECT_EQ(lee("autovec"), "");
}

// Both runs start from the pseudo-random weights and train to the same known
// eigenvectors: nothing of the first run's training passes to the second.
TEST_F(Sanger, RunsOfTheSameSizesTrainFromTheSameStart) {
    escribe("ejecuciones", "2\n3 2 datos 2 uno reduc1 0\n3 2 datos 2 dos reduc2 0\n");
    escribe("datos", "1 -2 0.5\n3 4 -1\n");
    resultado r = ejecuta({"-a0.1", "-i50", "-s", "ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(r.errores, informe_ciclo("1", "0.100000", "2.722024") +
                             informe_ciclo("1", "0.100000", "2.722024"));
    const char* const entrenados =
        "-0.151393\t0.770767\n-0.62021\t-0.546779\n0.771604\t-0.221921\n";
    EXPECT_EQ(lee("uno"), entrenados);
    EXPECT_EQ(lee("dos"), entrenados);
}

// The shipped example, byte for byte: standard error, the eigenvectors and
// the reduced samples of its two runs, as kept in tests/app/ejemplo/.
TEST_F(Sanger, TheShippedExampleGivesItsKnownFiles) {
    const std::filesystem::path ejemplos = SANGER_FUENTES "/examples";
    const std::filesystem::path esperados = SANGER_FUENTES "/tests/app/ejemplo";
    for (const char* nombre : {"iris.txt", "iris.run", "iris4.run"})
        std::filesystem::copy_file(ejemplos / nombre, carpeta / nombre);
    for (const std::string corrida : {"iris", "iris4"}) {
        SCOPED_TRACE(corrida);
        resultado r = ejecuta({"-m", "-v", "-a0.01", corrida + ".run"});
        EXPECT_EQ(r.estado, 0);
        EXPECT_EQ(r.salida, "");
        EXPECT_EQ(r.errores, lee_fichero(esperados / (corrida + "-errores.txt")));
        for (const std::string fichero : {"-autovectores.txt", "-reducidas.txt"})
            EXPECT_EQ(lee(corrida + fichero), lee_fichero(esperados / (corrida + fichero)))
                << corrida + fichero;
    }
}

TEST_F(Sanger, LongNamesAndMoreOutputsThanInputsAreAccepted) {
    const std::string largo(200, 'n');
    escribe("ejecuciones", "1 1 1 " + largo + " 3 " + largo + ".a " + largo + ".r 0");
    escribe(largo, "2");
    resultado r = ejecuta({"-i0", "-s", "ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(lee(largo + ".a"), "0.542222\t0.279489\t0.19071\n");
}

// Centring at load time is the same as training on samples centred beforehand
// with centring off; the data's means are exact, so the bits must agree.
TEST_F(Sanger, CentringOptionsActBeforeTraining) {
    escribe("crudas", "1 2 3 6\n2 2 2 2\n0 0 0 0\n5 2 3 6\n");
    escribe("por_filas", "-2 -1 0 3\n0 0 0 0\n0 0 0 0\n1 -2 -1 2\n");
    escribe("por_columnas", "-1 0.5 1 2.5\n0 0.5 0 -1.5\n-2 -1.5 -2 -3.5\n3 0.5 1 2.5\n");
    escribe("por_ambas",
            "-1.75 -0.25 0.25 1.75\n0.25 0.75 0.25 -1.25\n0.25 0.75 0.25 -1.25\n"
            "1.25 -1.25 -0.75 0.75\n");
    auto autovectores = [&](const char* muestras, std::vector<std::string> opciones) {
        escribe("ejecuciones", std::string("1 4 4 ") + muestras + " 2 autovec reduc 0");
        for (const char* o : {"-a0.01", "-i30", "-s", "ejecuciones"}) opciones.push_back(o);
        EXPECT_EQ(ejecuta(opciones).estado, 0);
        return lee("autovec");
    };
    const std::string sin_centrar = autovectores("crudas", {"-m"});
    EXPECT_EQ(autovectores("crudas", {}), autovectores("por_filas", {"-m"}));
    EXPECT_EQ(autovectores("crudas", {"-m", "-v"}), autovectores("por_columnas", {"-m"}));
    EXPECT_EQ(autovectores("crudas", {"-v"}), autovectores("por_ambas", {"-m"}));
    EXPECT_NE(autovectores("por_filas", {"-m"}), sin_centrar);
    EXPECT_NE(autovectores("por_ambas", {"-m"}), autovectores("por_filas", {"-m"}));
}

TEST_F(Sanger, ReductionWritesOneLinePerWholeSampleAndTheReport) {
    escribe("ejecuciones", "1 2 2 datos 2 autovec reduc 9");
    escribe("datos", "3 4\n-1 0.5\n6");
    const std::string varianza =
        "Varianza en la entrada:  13.125000\n"
        "Varianza en la salida:   7.767704\n"
        "% varianza representada: 59.182507%\n";
    resultado r = ejecuta({"-i0", "-m", "ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(r.salida, "");
    EXPECT_EQ(r.errores, varianza);
    EXPECT_EQ(lee("reduc"), "2.38951\t3.10257\n-0.446867\t0.0035249\n");

    r = ejecuta({"-i0", "-m", "-s", "ejecuciones"});
    EXPECT_EQ(r.errores, "");
    EXPECT_EQ(lee("reduc"), "2.38951\t3.10257\n-0.446867\t0.0035249\n");
    r = ejecuta({"-i0", "-m", "-s", "-s", "ejecuciones"});
    EXPECT_EQ(r.errores, varianza);
}

// Column means belong to training alone; row centring applies to both.
TEST_F(Sanger, ReductionRepeatsRowCentringOnly) {
    escribe("ejecuciones", "1 2 3 datos 2 autovec reduc 3");
    escribe("datos", "3 4\n-1 0.5\n6 2\n");
    auto reducidas = [&](std::vector<std::string> opciones) {
        for (const char* o : {"-i0", "-s", "ejecuciones"}) opciones.push_back(o);
        EXPECT_EQ(ejecuta(opciones).estado, 0);
        return lee("reduc");
    };
    EXPECT_EQ(reducidas({"-m", "-v"}), reducidas({"-m"}));
    EXPECT_EQ(reducidas({"-v"}), reducidas({}));
    EXPECT_NE(reducidas({}), reducidas({"-m"}));
}

// The eigenvectors overwrite the samples, and the reduction reads them back.
TEST_F(Sanger, EigenvectorsWrittenOverTheSamplesAreWhatIsReduced) {
    escribe("ejecuciones", "1 2 1 datos 2 datos reduc 5");
    escribe("datos", "1 2");
    resultado r = ejecuta({"-i0", "-m", "ejecuciones"});
    EXPECT_EQ(r.estado, 0);
    EXPECT_EQ(lee("datos"), "0.542222\t0.279489\n0.19071\t0.566027\n");
    EXPECT_EQ(lee("reduc"), "0.347306\t0.309743\n0.211354\t0.373688\n");
    EXPECT_EQ(r.errores,
              "Varianza en la entrada:  0.364438\n"
              "Varianza en la salida:   0.200438\n"
              "% varianza representada: 54.999165%\n");
}

TEST_F(Sanger, ReductionFailuresKeepWhatWasWritten) {
    // Training needs two samples; the third token fails only when reducing.
    escribe("ejecuciones", "1 2 2 datos 1 autovec reduc 3");
    escribe("datos", "3 4 6 8 x");
    resultado r = ejecuta({"-i0", "-m", "ejecuciones"});
    EXPECT_EQ(r.estado, 255);
    EXPECT_EQ(r.errores, "Error:Tipo erroneo de fichero de entrada.");
    EXPECT_EQ(lee("reduc"), "2.74462\n5.48924\n");

    escribe("ejecuciones", "1 2 2 datos 1 autovec no/reduc 3");
    r = ejecuta({"-i0", "-m", "ejecuciones"});
    EXPECT_EQ(r.estado, 255);
    EXPECT_EQ(r.errores, "Error:No se pudo abrir fichero de las muestras reducidas.");

    // A full disk shows itself only when the file is closed, after the report.
    escribe("ejecuciones", "1 2 2 datos 1 autovec /dev/full 2");
    r = ejecuta({"-i0", "-m", "ejecuciones"});
    EXPECT_EQ(r.estado, 255);
    EXPECT_EQ(r.errores,
              "Varianza en la entrada:  62.500000\n"
              "Varianza en la salida:   18.832365\n"
              "% varianza representada: 30.131783%\n"
              "Error:No se pudo escribir fichero.");
}

}  // namespace
