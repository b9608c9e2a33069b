// Option reading and the paths built from it, on arguments split from the
// input at its NUL bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "markfeed/runsettings.h"
#include "markfeed/runsettings_testing.h"

namespace {

constexpr size_t MAX_ARGUMENTS = 64;

// The text ends within its buffer of size.
int ends(const char *text, size_t size)
{
    return strnlen(text, size) < size;
}

int endsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> words = {"markfeed"};
    for (size_t start = 0; start <= size && words.size() < MAX_ARGUMENTS;) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = size;
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    clearoptions();
    int asked = longoption(argc, argv.data());
    FUZZ_CHECK(asked == ASKED_NOTHING || asked == ASKED_HELP || asked == ASKED_VERSION ||
               asked == ASKED_CHECK);
    Overrides overrides;
    char letter = 0;
    int refusal = readoptions(argc, argv.data(), &overrides, &letter);
    if (refusal == 0)
        refusal = buildpaths(&letter);
    FUZZ_CHECK(refusal == 0 || refusal == REFUSE_TOO_LONG || refusal == REFUSE_NO_VALUE);
    FUZZ_CHECK(refusal == 0 || letter != 0);
    FUZZ_CHECK(ends(devicename, DEVICE_SIZE) && ends(portname, DEVICE_SIZE));
    FUZZ_CHECK(ends(socketport, SERVICE_SIZE) && ends(formlibtemp, NAME_SIZE));
    for (const char *path :
         {cfgname, semname, debugfilename, outputfilename, downloadname, runtimename})
        FUZZ_CHECK(ends(path, NAME_SIZE));
    if (refusal == 0) {
        // Each path ends with the names it was built from.
        FUZZ_CHECK(endsWith(cfgname, std::string("d_") + portname + ".cfg"));
        FUZZ_CHECK(endsWith(downloadname, std::string(formlibtemp) + ".dlf"));
        FUZZ_CHECK(endsWith(runtimename, std::string(formlibtemp) + ".rtp"));
        FUZZ_CHECK(endsWith(debugfilename, "scantest.log"));
        std::string lock = std::string("LOCK_") + portname;
        if (socketport[0] != '\0')
            lock += std::string("_") + socketport;
        FUZZ_CHECK(endsWith(semname, lock));
    }
    return 0;
}
