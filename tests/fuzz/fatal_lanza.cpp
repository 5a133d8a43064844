// The fuzzers' fatal condition: a throw the harness catches, instead of the
// end of the process, so that one process can try millions of inputs.
#include "tests/fuzz/fuzz.hpp"

void error_fatal(const char* mensaje) {
    throw fallo_fatal{mensaje};
}
