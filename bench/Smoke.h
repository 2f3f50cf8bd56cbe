#pragma once
// The one option of the timed benchmark programs: --smoke runs a program on
// a tiny input, once, so that the tests see it still works; its figures then
// mean nothing.
#include <cstring>

namespace bench {

inline bool Smoke(int argc, char** argv) {
    return argc == 2 && std::strcmp(argv[1], "--smoke") == 0;
}

}  // namespace bench
