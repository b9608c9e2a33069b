// What the fuzz targets share: a scratch file to hold an input, and the
// check that makes a broken promise a crash the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>

// A failed check aborts, so that libFuzzer saves the input that broke it.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : fuzzFailed(#condition, __FILE__, __LINE__))

[[noreturn]] void fuzzFailed(const char *condition, const char *file, int line);

// A path in a scratch directory made once a process and removed at its end.
const char *scratchPath(const char *name);

// Replaces the file at path with the bytes; aborts when it cannot.
void writeScratch(const char *path, const uint8_t *data, size_t size);
