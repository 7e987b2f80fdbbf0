// Shared by the fuzz targets; each includes it once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/report.h"

// Reports are composed in full (their code runs under the sanitizers), then dropped unseen.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    report_set_sink([](const char*, const char*, const ErrorReport*) {});
    return 0;
}

// A broken invariant is a finding like a crash: abort so that libFuzzer keeps the input.
inline void fuzz_require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

// The bytes as a text on the heap, its zero the block's last byte: ASan sees a read past it.
// (A failed allocation aborts under ASan, so no caller checks for null.)
inline char* fuzz_copy_text(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = 0;
    return text;
}
