// Helpers shared by the start-up tests: a pseudo-terminal that plays the
// scanner line, a process that holds the scanner lock, and readers for the
// trace and the operator's screen row.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "station.h"

namespace startup {

// A pseudo-terminal pair. The slave is the "serial device" given to -d; the
// test keeps a slave descriptor open so that the line's settings outlive
// markfeed's own descriptor and can be read after the run.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &slavePath() const { return slavepath_; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    // Bytes markfeed wrote to the line, collected for up to milliseconds.
    std::string drain(int milliseconds);
    void send(const std::string &bytes);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavepath_;
};

// The port name markfeed derives from a /dev/pts/N device is "pts/N", so its
// configuration file and lock file live in a "d_pts" and a "LOCK_pts"
// directory under the station directory. Creates both.
void makePtsDirs(const std::string &dir);
// d_pts/N.cfg for this pty, in dir.
std::string ptsCfgPath(const std::string &dir, const Pty &pty);

// The 30 settings of the port configuration file before any file is read,
// by position (index 0 is position 1).
extern const std::vector<int> builtInSettings;
// A configuration file holding the built-in values, one per line, with the
// given positions (1 to 30) replaced.
std::string cfgText(const std::vector<std::pair<int, long>> &changes);

// A run of markfeed with the pty as its device, standard input /dev/null.
// The test side waits for the first status request (the two bytes
// `request`) and then answers `answer`, or stays silent when answer is
// empty.
struct LineRun {
    int status = -1;
    std::string line;    // bytes markfeed sent on the line
    std::string trace;   // scantest.log after the run
    std::string errors;  // standard error
    bool requested = false;
    double secondsAfterRequest = -1;  // from the request to the end of the run
};
LineRun runOnLine(const harness::TempDir &dir, Pty &pty, const std::vector<std::string> &args,
                  const std::string &answer = "x\r\n", const std::string &request = "s3",
                  double limit = 20);

// The dump that follows a heading in the trace, up to the next empty line:
// "\nBAUD: 9600\nSIZE: 8\nPARITY: Even\nSTOPS: 1".
std::string dumpAfter(const std::string &trace, const std::string &heading);

// A run with standard input from /dev/null and standard output to a pipe,
// so that every message that waits for a key goes on at once.
struct QuickRun {
    int status = -1;
    std::string errors;
    std::string trace;
};
QuickRun quickRun(const harness::TempDir &dir, const std::vector<std::string> &args);

// The FILE PATHS block at the start of a trace, up to its closing line end.
std::string filePaths(const std::string &trace);

// Holds a lockf lock on one byte of a file from another process.
class LockHolder {
public:
    LockHolder(const std::string &path, off_t offset);
    ~LockHolder();
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};

// Whether byte offset of path is locked by some other process (lockf F_TEST).
bool byteLocked(const std::string &path, off_t offset);

// True while the process has not ended (does not reap it).
bool running(pid_t pid);

// The operator's screen row after the bytes written to standard error: each
// "\r" returns to the first column and later text overwrites earlier text.
std::string screenRow(const std::string &errors);

// Permission bits of a file, or -1.
int mode(const std::string &path);

}  // namespace startup
