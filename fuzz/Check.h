#pragma once

// How a fuzz target reports a broken invariant: one line naming the target and the rule, then
// an abort, which the fuzzer and the regression runner both take as a finding.

#include <cstdio>
#include <cstdlib>

#ifndef DS_FUZZ_TARGET
#error "define DS_FUZZ_TARGET as the target's name before including Check.h"
#endif

namespace {

[[noreturn]] inline void Violation(const char *what, const char *detail = nullptr) {
    if (detail)
        std::fprintf(stderr, DS_FUZZ_TARGET ": invariant violated: %s: \"%s\"\n", what, detail);
    else
        std::fprintf(stderr, DS_FUZZ_TARGET ": invariant violated: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char *what) {
    if (!ok)
        Violation(what);
}

} // namespace
