// ndxmode's header logic on any file contents: the file is switched on,
// then off, as the tool is run on it. Whatever happens, only mode bytes
// change, and a refused file is left as it was.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz/support.h"

int ndxmode_main(int argc, char *argv[]);

namespace {

constexpr size_t HEADER_SIZE = 64;
constexpr size_t MODE_OFFSET = 17;
constexpr size_t COUNT_OFFSET = 60;

FILE *opened;  // the stream ndxmode opened in this run, if any

std::vector<uint8_t> readBack(const char *path)
{
    std::vector<uint8_t> bytes;
    FILE *file = ::fopen(path, "rb");
    FUZZ_CHECK(file != nullptr);
    int c;
    while ((c = getc(file)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(file);
    return bytes;
}

// Runs ndxmode with mode on path; checks what it did to before.
std::vector<uint8_t> runOn(const char *path, const char *mode, const std::vector<uint8_t> &before)
{
    char program[] = "ndxmode";
    std::vector<char> modeArgument(mode, mode + strlen(mode) + 1);
    std::vector<char> pathArgument(path, path + strlen(path) + 1);
    char *argv[] = {program, modeArgument.data(), pathArgument.data(), nullptr};
    opened = nullptr;
    int result = ndxmode_main(3, argv);
    if (result != 0 && opened != nullptr)
        fclose(opened);
    // -3 (not opened) cannot happen to the scratch file.
    FUZZ_CHECK(result == 0 || (result <= -4 && result >= -7));
    std::vector<uint8_t> after = readBack(path);
    FUZZ_CHECK(after.size() == before.size());
    uint8_t value = mode[2] == 'n' ? 4 : 0;
    for (size_t i = 0; i < after.size(); i++) {
        if (after[i] == before[i])
            continue;
        // -7 may leave the blocks before the one it could not write switched.
        FUZZ_CHECK((result == 0 || result == -7) && i % HEADER_SIZE == MODE_OFFSET &&
                   after[i] == value);
    }
    if (result == 0) {
        // Every header block the count names has been switched.
        FUZZ_CHECK(after.size() >= HEADER_SIZE);
        size_t count = after[COUNT_OFFSET] | after[COUNT_OFFSET + 1] << 8;
        FUZZ_CHECK(count < 0x8000 && (count + 1) * HEADER_SIZE <= after.size());
        for (size_t n = 0; n <= count; n++)
            FUZZ_CHECK(after[n * HEADER_SIZE + MODE_OFFSET] == value);
    }
    return after;
}

}  // namespace

FILE *ndxmodeOpen(const char *path, const char *mode)
{
    opened = ::fopen(path, mode);
    return opened;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // ndxmode reports on standard output; libFuzzer on standard error.
    FUZZ_CHECK(freopen("/dev/null", "w", stdout) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = scratchPath("fuzz.ndx");
    writeScratch(path, data, size);
    std::vector<uint8_t> contents(data, data + size);
    contents = runOn(path, "-On", contents);
    runOn(path, "-Off", contents);
    return 0;
}
