// Preloaded into ndxmode under test: the file it works on is cut short
// while it runs, as another program may cut it, right after the second
// read of one block (the read before that block is written back).
// Built by ndxmode's tests, whose driver also builds on its own.
//
// SHRINK_BLOCK_AT  byte offset of the block whose second read is followed
//                  by the cut
// SHRINK_TO        the length the file is cut to
#define _GNU_SOURCE
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

typedef size_t (*fread_fn)(void *, size_t, size_t, FILE *);

static int reads;  // reads of the block so far

static void cutAfter(long at, FILE *stream)
{
    const char *block = getenv("SHRINK_BLOCK_AT");
    const char *to = getenv("SHRINK_TO");
    if (block == NULL || to == NULL || at != atol(block) || ++reads != 2)
        return;
    if (ftruncate(fileno(stream), atol(to)) != 0)
        abort();
}

size_t fread(void *buffer, size_t size, size_t count, FILE *stream)
{
    fread_fn real = (fread_fn)dlsym(RTLD_NEXT, "fread");
    long at = ftell(stream);
    size_t got = real(buffer, size, count, stream);
    cutAfter(at, stream);
    return got;
}

// The fortified entry point that glibc uses under _FORTIFY_SOURCE.
size_t __fread_chk(void *buffer, size_t buffersize, size_t size, size_t count, FILE *stream)
{
    (void)buffersize;
    return fread(buffer, size, count, stream);
}
