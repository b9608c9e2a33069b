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

#include "markfeed/check.h"
#include "markfeed/commtest.h"
#include "markfeed/datafile.h"
#include "markfeed/download.h"
#include "markfeed/frames.h"
#include "markfeed/journal.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"
#include "markfeed/portcfg.h"
#include "markfeed/runsettings.h"
#include "markfeed/safefile.h"
#include "markfeed/scanloop.h"
#include "markfeed/status.h"
#include "markfeed/termination.h"

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

[[noreturn]] void refuse(int refusal, char letter)
{
    if (refusal == REFUSE_TOO_LONG)
        showmsgf(1, "S48:  Value of option -%c is too long.  Press <ENTER>.", letter);
    else
        showmsgf(1, "S49:  Option -%c needs a value.  Press <ENTER>.", letter);
    goodbye(EXIT_FAILED);
}

// The scanner lock: one byte at offset 4 of the lock file, held until the
// process ends. Taken before any other file is touched, so that a run on a
// busy scanner leaves the running batch's files alone.
void takelock()
{
    // Never through a link: a planted one would have another file emptied.
    const char *reason;
    int lock = opensafely(semname, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, REGULAR_ONLY, &reason);
    if (lock < 0) {
        showmsg("S44:  Could not create scanner lock file.  Press <ENTER>.", 1);
        showmsgf(1, "Check permissions on %s.  Press <ENTER>.", semname);
        goodbye(EXIT_FAILED);
    }
    // Meant, though the file was just emptied: the read finds nothing, "lock" goes in.
    char first;
    if (read(lock, &first, 1) != 1 && write(lock, "lock", 4) != 4) {
        showmsg("S45:  Could not initialize scanner lock file.  Press <ENTER>.", 1);
        goodbye(EXIT_FAILED);
    }
    // Tested and taken in one call, so that no other run can slip between.
    if (lockf(lock, F_TLOCK, 1) == 0)
        return;
    if (errno == EACCES || errno == EAGAIN)
        showmsg("S46:  Scanner currently in use.  Press <ENTER>.", 1);
    else
        showmsg("S47:  Could not lock scanner.  Press <ENTER>.", 1);
    goodbye(EXIT_FAILED);
}

// The device itself is locked before any file is emptied: a run that
// reaches a busy scanner under another name leaves the running batch's
// files alone.
void takedevicelock()
{
    if (!lockdevice())
        goodbye(EXIT_FAILED);
}

// The data output file is opened and locked first, and emptied only once
// the trace is open: a run that finds another run on it empties neither.
void openfiles()
{
    const char *datareason = "";
    int datarefused = 0;
    int data = opendatafile(outputfilename, &datareason, &datarefused);
    if (data == DATA_LOCKED) {
        showmsgf(1, "S51:  Data file %s is in use by another run.  Press <ENTER>.", outputfilename);
        goodbye(EXIT_FAILED);
    }
    if (opentrace(debugfilename) != 1) {
        showmsgf(1, "S42:  Unable to open file %s.  Press <ENTER>.", debugfilename);
        goodbye(EXIT_FAILED);
    }
    if (data == DATA_FAILED) {
        if (datarefused)
            trace("\nUnable to open %s:  %s", outputfilename, datareason);
        showmsgf(1, "S43:  Unable to open file %s.  Press <ENTER>.", outputfilename);
        goodbye(EXIT_FAILED);
    }
    emptydatafile();
    if (data == DATA_UNLOCKED)
        trace("\nUnable to lock %s:  %s", outputfilename, datareason);
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
    requireopen(DlOpenComm(Baud, Size, Parity, Stops));
    if (!testparity()) {
        showmsg("Network scanner communication test failed.  Press <ENTER>.", 1);
        goodbye(EXIT_FAILED);
    }
    writedataline(socketport);
    showmsgf(1, "Scanner on %s communicating on port %s.  Press <ENTER>.", devicename, socketport);
    goodbye(EXIT_DONE);
}

// Runtime parameters first; only when the scanner rejects them (or -r
// forces it) memory initialisation and the form definition as well.
void downloadform()
{
    int result = DlRunTime(0);
    if (result >= 0)
        return;
    if (result == -1 || !DlClearMem() || !DlDef() || DlRunTime(1) < 0)
        goodbye(EXIT_FAILED);
}

[[noreturn]] void normalrun()
{
    trace("\nOpening device using DlOpenComm.");
    requireopen(DlOpenComm(Baud, Size, Parity, Stops));
    FlushComm(Comm);
    DlReset();
    if (!WaitForIdle())
        goodbye(EXIT_FAILED);
    if (formlibtemp[0] != '\0')
        downloadform();
    if (forcedownload)
        goodbye(EXIT_DONE);
    goodbye(DlScan());
}

// A closed standard descriptor would be taken by the first file opened,
// and operator messages would land in it.
void openstandard()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
            _exit(EXIT_FAILED);
}

}  // namespace

int main(int argc, char **argv)
{
    openstandard();
    // A scanner connection closed by the far end must not kill the run, and
    // a full file or file system is reported, not fatal.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    catchstopsignals();
    int asked = longoption(argc, argv);
    if (asked == ASKED_VERSION) {
        printf("markfeed %s\n", MARKFEED_VERSION);
        return EXIT_DONE;
    }
    if (asked == ASKED_CHECK)
        return checkstation(argc, argv);
    journalopen(argc, argv);
    setupterminal();
    if (argc < 2 || asked == ASKED_HELP) {
        journalusage();
        for (const char *text : usage)
            fputs(text, stderr);
        goodbye(EXIT_QUIT);
    }
    Overrides overrides;
    char letter = 0;
    int refusal = readoptions(argc, argv, &overrides, &letter);
    if (refusal == 0)
        refusal = buildpaths(&letter);
    if (refusal != 0)
        refuse(refusal, letter);

    umask(0);
    takelock();
    takedevicelock();
    openfiles();
    int network = isnetworkdevice(devicename);
    journalstart(network, network ? dialledport(socketport, u2pc) : -1);
    tracepaths();
    DlCfg(cfgname);
    applyoverrides(&overrides);

    if (!searching)
        normalrun();
    if (isnetworkdevice(devicename))
        networktest();
    goodbye(checkcomm() ? EXIT_DONE : EXIT_FAILED);
}
