// What the fuzz targets do on a finding: say what was broken, and abort so
// that libFuzzer keeps the input.
#ifndef TESSARY_FUZZ_FINDING_H
#define TESSARY_FUZZ_FINDING_H

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void finding(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "\n*** %s\n%s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#endif
