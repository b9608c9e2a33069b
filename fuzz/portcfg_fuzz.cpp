// The port configuration file d_<port>.cfg, as markfeed reads it and as
// scannersim reads the same file: both must find the same numbers, or the
// station and its scanner would speak with different control codes.
#include <cstdint>
#include <string>

#include "fuzz/support.h"
#include "markfeed/frames.h"
#include "markfeed/portcfg.h"
#include "markfeed/runsettings.h"
#include "scannersim/codes.h"

namespace {

constexpr int POSITIONS = 30;

// The numbers next_param reads from path, at most 30 as DlCfg takes them.
int readNumbers(const char *path, long values[POSITIONS])
{
    int count = 0;
    int value = 0;
    while (count < POSITIONS && next_param(path, &value) == 0)
        values[count++] = value;
    next_param(nullptr, &value);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = scratchPath("d_fuzz.cfg");
    writeScratch(path, data, size);

    long ours[POSITIONS] = {0};
    int count = readNumbers(path, ours);
    long theirs[POSITIONS] = {0};
    std::string text(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(scannersim::scanConfigNumbers(text, theirs) == count);
    for (int i = 0; i < count; i++)
        FUZZ_CHECK(ours[i] == theirs[i]);

    DlCfg(path);
    int value;
    next_param(nullptr, &value);
    // Each position read holds its number: a code its low eight bits.
    for (int position = 1; position <= count; position++) {
        int code = controlcode(position);
        if (code >= 0)
            FUZZ_CHECK(code == (ours[position - 1] & 0xFF));
        else
            FUZZ_CHECK(portsetting(position) == ours[position - 1]);
    }
    return 0;
}
