// markfeed: runs one scanner station for one batch.
//
// Start-up and run sequence: terminal, options, file paths, port
// configuration, scanner lock, trace and data output file, then either
// the communication test or the normal run. Every end goes through goodbye
// with exit status 0, 88 or 99.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "commtest.h"
#include "download.h"
#include "frames.h"
#include "link.h"
#include "operator.h"
#include "portcfg.h"
#include "runsettings.h"
#include "scanloop.h"
#include "status.h"

namespace {

const char *const usage[] = {
    "\r\nusage -- markfeed [options] [-dlfobwmxrsupc]               Updated: 1/18/2005",
    "\r\n===========================================================================",
    "\r\n[-d devicename]   Scanner device name /dev/tty# /net/#.#.#.# /net/hostname.",
    "\r\n[-l pathname]     Directory that all markfeed files will be maintained.",
    "\r\n[-f filename]     Dlf filename for download definition file.",
    "\r\n[-o datafile]     Filename for output data returned from scanner.",
    "\r\n[-b baudrate]     Baud rate with optional size/parity/stops (Ex: 9600:8N1)",
    "\r\n[-w waittime]     Add n second delay for slow communication networks.",
    "\r\n[-m dataset]      Vantorel dataset that form belongs to.",
    "\r\n[-x]              Output debug information to file scantest.log.",
    "\r\n[-r]              Initialize scanner, download form definition file.",
    "\r\n[-s]              Test scanner communications/return communication config.",
    "\r\n[-u]              Assign socket port /etc/service name or number.",
    "\r\n[-p]              Check networking that stores the sign in different order.",
    "\r\n[-c]              Activate continous feed mode.",
    "\r\n[-t]              Process read head alignment form.",
    "\r\n===========================================================================\r\n\r\n",
};

// The -b and -w values, held apart until the port configuration file has
// been read, so that the options win over it.
struct Overrides {
    int baud = 0;
    int size = 0;
    char parity = 0;
    int stops = 0;
    int delay = 0;
    bool continuous = false;
};

// The letter of each option as the operator typed it, for S48 on paths.
char typed[128];

[[noreturn]] void refuse(const char *format, char letter)
{
    formatmsg(format, letter);
    showmsg(msg, 1);
    goodbye(88);
}

[[noreturn]] void toolong(char letter)
{
    refuse("S48:  Value of option -%c is too long.  Press <ENTER>.", letter);
}

// Copies an option's value into its buffer; a value that does not fit is
// refused rather than cut.
void takevalue(char *buffer, size_t size, const char *value, char letter)
{
    if (strlen(value) >= size)
        toolong(letter);
    memcpy(buffer, value, strlen(value) + 1);
}

int digitvalue(char c)
{
    return isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0;
}

// "speed[:SPS]": the speed, and the size, parity letter and stop bits of
// the second colon-separated piece.
void splitbaud(const char *value, char letter, Overrides &overrides)
{
    takevalue(msg, sizeof msg, value, letter);
    overrides.baud = static_cast<int>(readnumber(msg));
    const char *piece = msg;
    while (*piece == ':')
        piece++;
    const char *colon = strchr(piece, ':');
    if (colon == nullptr)
        return;
    const char *suffix = colon;
    while (*suffix == ':')
        suffix++;
    if (*suffix == '\0')
        return;
    size_t length = strcspn(suffix, ":");
    overrides.size = digitvalue(suffix[0]);
    overrides.parity =
        length > 1 ? static_cast<char>(toupper(static_cast<unsigned char>(suffix[1]))) : 0;
    overrides.stops = length > 2 ? digitvalue(suffix[2]) : 0;
}

void setdevice(const char *value, char letter)
{
    takevalue(devicename, sizeof devicename, value, letter);
    size_t length = strlen(devicename);
    takevalue(portname, sizeof portname, length > 5 ? devicename + 5 : "", letter);
}

bool takesvalue(char option)
{
    return strchr("dlfobwmu", option) != nullptr;
}

void readoptions(int argc, char **argv, Overrides &overrides)
{
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (argument[0] != '-' || argument[1] == '\0')
            continue;
        char letter = argument[1];
        char option = static_cast<char>(tolower(static_cast<unsigned char>(letter)));
        if (static_cast<unsigned char>(option) < sizeof typed)
            typed[static_cast<unsigned char>(option)] = letter;
        const char *value = nullptr;
        if (takesvalue(option)) {
            if (i + 1 >= argc)
                refuse("S49:  Option -%c needs a value.  Press <ENTER>.", letter);
            value = argv[++i];
        }
        switch (option) {
        case 'd': setdevice(value, letter); break;
        case 'l': takevalue(pathname, sizeof pathname, value, letter); break;
        case 'f': takevalue(formlibtemp, sizeof formlibtemp, value, letter); break;
        case 'o': takevalue(outputfiletemp, sizeof outputfiletemp, value, letter); break;
        case 'u': takevalue(socketport, sizeof socketport, value, letter); break;
        case 'b': splitbaud(value, letter, overrides); break;
        case 'w':
            takevalue(msg, sizeof msg, value, letter);
            overrides.delay = static_cast<int>(readnumber(msg));
            break;
        case 'm': dmldatabase = static_cast<int>(readnumber(value)); break;
        case 'x': debugflag = 1; break;
        case 'r':
            downloadreset = 1;
            forcedownload = 1;
            break;
        case 's': searching = 1; break;
        case 'p': u2pc = 1; break;
        case 'c':
            cmode = 1;
            overrides.continuous = true;
            break;
        case 't': testheads = 1; break;
        default: break;
        }
    }
}

// Appends the pieces to path; a path that would not fit is refused,
// naming the option whose value made it too long.
void buildpath(char *path, const char *const *pieces, char letter)
{
    for (; *pieces != nullptr; pieces++) {
        size_t used = strlen(path);
        size_t length = strlen(*pieces);
        if (used + length >= NAME_SIZE)
            toolong(letter);
        memcpy(path + used, *pieces, length + 1);
    }
}

struct Part {
    char option;
    const char *value;
};

// The option to name when a path does not fit: the one whose value is the
// longest part of the path.
char blamed(std::initializer_list<Part> parts)
{
    Part longest = *parts.begin();
    for (const Part &part : parts)
        if (strlen(part.value) > strlen(longest.value))
            longest = part;
    char letter = typed[static_cast<unsigned char>(longest.option)];
    return letter != 0 ? letter : longest.option;
}

void buildpaths()
{
    size_t length = strlen(pathname);
    if (length > 0 && pathname[length - 1] != '/') {
        if (length + 1 >= sizeof pathname)
            toolong(blamed({{'l', pathname}}));
        pathname[length] = '/';
        pathname[length + 1] = '\0';
    }
    const char *const cfg[] = {pathname, "d_", portname, ".cfg", nullptr};
    buildpath(cfgname, cfg, blamed({{'l', pathname}, {'d', portname}}));
    const char *const lock[] = {pathname, "LOCK_", portname, nullptr};
    buildpath(semname, lock, blamed({{'l', pathname}, {'d', portname}}));
    if (socketport[0] != '\0') {
        const char *const service[] = {"_", socketport, nullptr};
        buildpath(semname, service, blamed({{'l', pathname}, {'d', portname}, {'u', socketport}}));
    }
    if (outputfiletemp[0] != '\0') {
        const char *const output[] = {outputfiletemp, nullptr};
        buildpath(outputfilename, output, blamed({{'o', outputfiletemp}}));
    } else {
        const char *const output[] = {pathname, "SCAN.DAT", nullptr};
        buildpath(outputfilename, output, blamed({{'l', pathname}}));
    }
    const char *const debug[] = {pathname, "scantest.log", nullptr};
    buildpath(debugfilename, debug, blamed({{'l', pathname}}));
    const char *const definition[] = {pathname, formlibtemp, ".dlf", nullptr};
    buildpath(downloadname, definition, blamed({{'l', pathname}, {'f', formlibtemp}}));
    const char *const runtime[] = {pathname, formlibtemp, ".rtp", nullptr};
    buildpath(runtimename, runtime, blamed({{'l', pathname}, {'f', formlibtemp}}));
}

void settlesettings(const Overrides &overrides)
{
    DlCfg(cfgname);
    if (overrides.baud != 0)
        Baud = overrides.baud;
    if (overrides.size != 0)
        Size = overrides.size;
    if (overrides.parity == 'E')
        Parity = 1;
    else if (overrides.parity == 'O')
        Parity = 2;
    else if (overrides.parity == 'N')
        Parity = 3;
    if (overrides.stops != 0)
        Stops = overrides.stops;
    if (overrides.delay != 0)
        DlDelay = overrides.delay;
    if (overrides.continuous)
        NoWait = 0;
}

// The scanner lock: one byte at offset 4 of the lock file, held until the
// process ends. Taken before any other file is touched, so that a run on a
// busy scanner leaves the running batch's files alone.
void takelock()
{
    int lock = open(semname, O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (lock < 0) {
        showmsg("S44:  Could not create scanner lock file.  Press <ENTER>.", 1);
        formatmsg("Check permissions on %s.  Press <ENTER>.", semname);
        showmsg(msg, 1);
        goodbye(88);
    }
    char first;
    if (read(lock, &first, 1) != 1 && write(lock, "lock", 4) != 4) {
        showmsg("S45:  Could not initialize scanner lock file.  Press <ENTER>.", 1);
        goodbye(88);
    }
    if (lockf(lock, F_TEST, 1) != 0 && (errno == EACCES || errno == EAGAIN)) {
        showmsg("S46:  Scanner currently in use.  Press <ENTER>.", 1);
        goodbye(88);
    }
    if (lockf(lock, F_LOCK, 1) != 0) {
        showmsg("S47:  Could not lock scanner.  Press <ENTER>.", 1);
        goodbye(88);
    }
}

void openfiles()
{
    Debugoutput = fopen(debugfilename, "w");
    if (Debugoutput == nullptr) {
        formatmsg("S42:  Unable to open file %s.  Press <ENTER>.", debugfilename);
        showmsg(msg, 1);
        goodbye(88);
    }
    Dataoutput = fopen(outputfilename, "w");
    if (Dataoutput == nullptr) {
        formatmsg("S43:  Unable to open file %s.  Press <ENTER>.", outputfilename);
        showmsg(msg, 1);
        goodbye(88);
    }
}

void tracepaths()
{
    trace("\nFILE PATHS");
    trace("\n==========");
    if (devicename[0])
        trace("\nScanner device     = %s", devicename);
    if (cfgname[0])
        trace("\nCfg config file    = %s", cfgname);
    if (semname[0])
        trace("\nSemifore lock file = %s", semname);
    if (outputfilename[0])
        trace("\nData output file   = %s", outputfilename);
    if (formlibtemp[0]) {
        trace("\nDownload file      = %s", downloadname);
        trace("\nRuntime file       = %s", runtimename);
    }
    if (debugfilename[0])
        trace("\nDebug file         = %s", debugfilename);
    trace("\n");
}

[[noreturn]] void networktest()
{
    if (!DlOpenComm(Baud, Size, Parity, Stops))
        goodbye(88);
    if (!testparity()) {
        showmsg("Network scanner communication test failed.  Press <ENTER>.", 1);
        goodbye(88);
    }
    writedataline(socketport);
    formatmsg("Scanner on %s communicating on port %s.  Press <ENTER>.", devicename, socketport);
    showmsg(msg, 1);
    goodbye(0);
}

// Runtime parameters first; only when the scanner rejects them (or -r
// forces it) memory initialisation and the form definition as well.
void downloadform()
{
    int result = DlRunTime(0);
    if (result >= 0)
        return;
    if (result == -1 || !DlClearMem() || !DlDef() || DlRunTime(1) < 0)
        goodbye(88);
}

[[noreturn]] void normalrun()
{
    trace("\nOpening device using DlOpenComm.");
    if (!DlOpenComm(Baud, Size, Parity, Stops))
        goodbye(88);
    FlushComm(Comm);
    DlReset();
    if (!WaitForIdle())
        goodbye(88);
    if (formlibtemp[0] != '\0')
        downloadform();
    if (forcedownload)
        goodbye(0);
    goodbye(DlScan() == 99 ? 99 : 0);
}

}  // namespace

int main(int argc, char **argv)
{
    // A scanner connection closed by the far end must not kill the run.
    signal(SIGPIPE, SIG_IGN);
    setupterminal();
    if (argc < 2) {
        for (const char *text : usage)
            fputs(text, stderr);
        goodbye(99);
    }
    Overrides overrides;
    readoptions(argc, argv, overrides);
    buildpaths();
    settlesettings(overrides);

    umask(0);
    takelock();
    openfiles();
    tracepaths();

    if (!searching)
        normalrun();
    if (strncmp(devicename, "/net", 4) == 0)
        networktest();
    goodbye(checkcomm() ? 0 : 88);
}
