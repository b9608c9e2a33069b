#include "fuzz/support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string scratchDir;

void removeScratch()
{
    std::string command = "rm -rf '" + scratchDir + "'";
    if (system(command.c_str()) != 0)
        fprintf(stderr, "fuzz: could not remove %s\n", scratchDir.c_str());
}

}  // namespace

void fuzzFailed(const char *condition, const char *file, int line)
{
    fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
    abort();
}

const char *scratchPath(const char *name)
{
    static std::string path;
    if (scratchDir.empty()) {
        // Memory rather than disk when there is a choice: every input is a
        // file written and read again, thousands of times a second.
        const char *tmp = getenv("TMPDIR");
        if (tmp == nullptr || tmp[0] == '\0')
            tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(tmp) + "/fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr);
        scratchDir = pattern;
        atexit(removeScratch);
    }
    path = scratchDir + "/" + name;
    return path.c_str();
}

void writeScratch(const char *path, const uint8_t *data, size_t size)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    close(fd);
}
