// ndxmode - switch the mode byte of every header block of an index file.
//
//   ndxmode <-On|-Off> <indexfilename.ndx>
//
// An index file starts with 64-byte header blocks. Block 0 holds at offset
// 60 the number of header blocks that follow it; every header block holds
// the mode byte at offset 17 (4 = on, 0 = off). The tool only touches a file
// that holds no index data yet, and writes nothing but the mode byte.
//
// Results (exit status is the low eight bits):
//    0  every header block switched
//   -1  fewer than two arguments
//   -2  no mode given
//   -3  file cannot be opened (or its name does not fit)
//   -4  block 0 unreadable, or its header count is damaged
//   -5  file holds index data
//   -6  header block n unreadable (nothing has been written), or the file
//       changed size while it ran (blocks before n are switched)
//   -7  header block n could not be written

#include <cstdio>
#include <cstring>

// Identification strings for `what`. They are referenced by nothing, so
// they are given external linkage and marked used to keep them in the image.
// The SCO build is made with NDXMODE_SCO defined.
#if defined(__GNUC__)
#define NDX_KEEP __attribute__((used))
#else
#define NDX_KEEP
#endif

#if defined(_WIN32)
#define NDX_RELEASE "@(#)V10.31"
#define NDX_MODULE "@(#)M006"
#define NDX_PLATFORM "@(#)PMS1"
#else
#define NDX_RELEASE "@(#)V10.30"
#define NDX_MODULE "@(#)M007"
#if defined(NDXMODE_SCO)
#define NDX_PLATFORM "@(#)PI05"
#else
#define NDX_PLATFORM "@(#)PLX2"
#endif
#endif

extern volatile const char ndxRelease[];
extern volatile const char ndxModule[];
extern volatile const char ndxPlatform[];
NDX_KEEP volatile const char ndxRelease[] = NDX_RELEASE;
NDX_KEEP volatile const char ndxModule[] = NDX_MODULE;
NDX_KEEP volatile const char ndxPlatform[] = NDX_PLATFORM;

enum {
    HEADERSIZE = 64,   // bytes in one header block
    HEADERSHIFT = 6,   // block n starts at n << HEADERSHIFT
    MODEOFFSET = 17,   // mode byte in every header block
    COUNTOFFSET = 60,  // header count, block 0 only
    NAMESIZE = 256,    // file name buffer, terminator included
    MODEON = 4,
    MODEOFF = 0,
    NOMODE = -1
};

static int mode = NOMODE;
static const char *filearg = "";  // last argument that is not a mode
static char indexname[NAMESIZE];
static unsigned char header[HEADERSIZE];

// Read header block n. Returns 1 when a whole block was read, 0 when the
// end of the file was met or the read failed.
int readHeader(FILE *fp, int n, unsigned char *buffer)
{
    long where = static_cast<long>(n) << HEADERSHIFT;

    if (fseek(fp, where, SEEK_SET) != 0)
        return 0;
    size_t got = fread(buffer, HEADERSIZE, 1, fp);
    if (feof(fp))
        return 0;
    return static_cast<int>(got);
}

// Write header block n. Returns 1 when the block reached the file, else 0.
// The stream is flushed so that a failing write is reported for this block
// and not later at close.
int writeHeader(FILE *fp, int n, unsigned char *buffer)
{
    long where = static_cast<long>(n) << HEADERSHIFT;

    if (fseek(fp, where, SEEK_SET) != 0)
        return 0;
    size_t put = fwrite(buffer, HEADERSIZE, 1, fp);
    if (fflush(fp) != 0)
        return 0;
    return static_cast<int>(put);
}

// Take the mode and the file name from the arguments; the last of a kind wins.
static int scanArgs(int argc, char *argv[])
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-On") == 0)
            mode = MODEON;
        else if (strcmp(argv[i], "-Off") == 0)
            mode = MODEOFF;
        else
            filearg = argv[i];
    }
    return mode;
}

// Copy the chosen file name into its buffer. Returns 0 when it does not fit.
static int copyName()
{
    size_t len = strlen(filearg);

    if (len >= sizeof indexname)
        return 0;
    memcpy(indexname, filearg, len + 1);
    return 1;
}

// The header count: signed 16-bit little-endian, whatever the host's order.
static int headerCount(const unsigned char *block)
{
    int count = block[COUNTOFFSET] | (block[COUNTOFFSET + 1] << 8);

    if (count >= 0x8000)
        count -= 0x10000;
    return count;
}

// The file's size in bytes, or -1 when it cannot be taken.
static long long fileSize(FILE *fp)
{
#if defined(_WIN32)
    if (_fseeki64(fp, 0, SEEK_END) != 0)
        return -1;
    return _ftelli64(fp);
#else
    if (fseek(fp, 0L, SEEK_END) != 0)
        return -1;
    return ftell(fp);
#endif
}

// A file holds no index data while its size is at most
// ((count + 8) / 2) * 128 bytes, the division truncating toward zero.
// A size that cannot be taken is treated as too large.
static int holdsIndexData(long long size, int count)
{
    long long limit = static_cast<long long>((count + 8) / 2) * 128;

    return size < 0 || size > limit;
}

// Read every header block before any is written, so that a short or
// unreadable file is refused untouched. Returns the first block that cannot
// be read, or -1 when all can.
static int checkHeaders(FILE *fp, int count)
{
    for (int n = 0; n <= count; n++) {
        if (readHeader(fp, n, header) != 1)
            return n;
    }
    return -1;
}

// Switch the mode byte of blocks 0 to count in a file of size bytes.
// Returns a program result.
static int switchHeaders(FILE *fp, int count, long long size)
{
    for (int n = 0; n <= count; n++) {
        // A file cut short since it was read would be regrown with a hole
        // by the write: block n as read no longer stands.
        if (readHeader(fp, n, header) != 1 || fileSize(fp) != size) {
            printf("ERROR: Could not read header #%d\n", n);
            return -6;
        }
        header[MODEOFFSET] = static_cast<unsigned char>(mode & 0xff);
        if (writeHeader(fp, n, header) != 1) {
            printf("ERROR: Could not write header #%d\n", n);
            return -7;
        }
    }
    return 0;
}

// Check the opened file and switch it. Returns a program result.
static int switchFile(FILE *fp)
{
    if (readHeader(fp, 0, header) != 1) {
        printf("ERROR: COuld not read first header form index file.\n");
        return -4;
    }
    int count = headerCount(header);
    long long size = fileSize(fp);
    if (holdsIndexData(size, count)) {
        printf("ERROR: Index file contains index data.\n");
        return -5;
    }
    // A negative count cannot describe any header blocks.
    if (count < 0) {
        printf("ERROR: COuld not read first header form index file.\n");
        return -4;
    }
    int bad = checkHeaders(fp, count);
    if (bad >= 0) {
        printf("ERROR: Could not read header #%d\n", bad);
        return -6;
    }
    return switchHeaders(fp, count, size);
}

int main(int argc, char *argv[])
{
    if (argc < 3) {
        printf("ERROR: No arguments specified.\n");
        printf("Usage: %s <-On|-Off> <indexfilename.ndx>\n",
               argc > 0 && argv[0] != nullptr ? argv[0] : "ndxmode");
        return -1;
    }
    if (scanArgs(argc, argv) == NOMODE) {
        printf("ERROR: neither of mode -On or -Off was specified.\n");
        return -2;
    }

    FILE *fp = nullptr;
    if (copyName())
        fp = fopen(indexname, "r+b");
    if (fp == nullptr) {
        printf("ERROR: Cannot open index file %s.\n", filearg);
        return -3;
    }

    // On a failure the file is left for the system to close.
    int result = switchFile(fp);
    if (result == 0)
        fclose(fp);
    return result;
}
