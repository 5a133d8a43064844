#include "app/driver.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "numeric/sanger.hpp"
#include "tests/comun.hpp"

namespace {

struct escaneo {
    ajustes a;
    int T2;
    int fichejec;  // index of the runs file argument
};

escaneo escanea(std::vector<std::string> args) {
    argumentos argv(std::move(args));
    T2 = 10000;
    escaneo e;
    e.fichejec = lee_opciones(argv.argc(), argv.argv.data(), e.a);
    e.T2 = T2;
    T2 = 10000;
    return e;
}

TEST(LeeOpciones, DefaultsAndGluedValues) {
    escaneo e = escanea({"runs"});
    EXPECT_EQ(e.fichejec, 1);
    EXPECT_EQ(e.a.alfa, 0.3f);
    EXPECT_EQ(e.a.iteraciones, 200u);
    EXPECT_EQ(e.a.error_parada, 0.0f);
    EXPECT_EQ(e.T2, 10000);
    EXPECT_TRUE(e.a.media_fila);
    EXPECT_FALSE(e.a.media_columna);
    EXPECT_TRUE(e.a.varianza);

    e = escanea({"-a0.05", "-i500", "-t1e-3", "-e-7", "-m", "-v", "runs", "-i9"});
    EXPECT_EQ(e.fichejec, 7);
    EXPECT_EQ(e.a.alfa, 0.05f);
    EXPECT_EQ(e.a.iteraciones, 500u);
    EXPECT_EQ(e.a.error_parada, 0.001f);
    EXPECT_EQ(e.T2, -7);
    EXPECT_FALSE(e.a.media_fila);
    EXPECT_TRUE(e.a.media_columna);
}

TEST(LeeOpciones, Quirks) {
    // A value that does not convert keeps the last one that did.
    EXPECT_EQ(escanea({"-a"}).a.alfa, 0.3f);
    EXPECT_EQ(escanea({"-a0.1", "-ax", "-a"}).a.alfa, 0.1f);
    // A spaced value is the runs file, and the option keeps its default.
    escaneo e = escanea({"-i", "500"});
    EXPECT_EQ(e.a.iteraciones, 200u);
    EXPECT_EQ(e.fichejec, 2);
    // A minus sign wraps an unsigned value.
    EXPECT_EQ(escanea({"-i-1"}).a.iteraciones, 4294967295u);
    // Flags do not combine: only the letter right after the hyphen counts.
    e = escanea({"-ms"});
    EXPECT_FALSE(e.a.media_fila);
    EXPECT_TRUE(e.a.varianza);
    // -s toggles.
    EXPECT_FALSE(escanea({"-s"}).a.varianza);
    EXPECT_TRUE(escanea({"-s", "-s"}).a.varianza);
    EXPECT_FALSE(escanea({"-s", "-sx", "-s"}).a.varianza);
    // Unknown letters, capitals, digits, a lone or doubled hyphen: silently passed over.
    e = escanea({"-x", "-A0.9", "-1", "-", "--", "--a0.9"});
    EXPECT_EQ(e.fichejec, 7);
    EXPECT_EQ(e.a.alfa, 0.3f);
}

}  // namespace
