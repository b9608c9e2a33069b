// Run settings: what one markfeed run was asked to do, read from the
// command line and the port configuration file, and the file paths built
// from them. Data only: nothing here reads or writes a file or the screen.
//
// Owner: runsettings.cpp. Only it can write these globals: the others see
// them const, and change the few that change after start-up through the
// functions below (setdelay, usedefaultservice, takedownloadreset, and the
// port configuration file's setportsetting). What only the tests call is in
// runsettings_testing.h.
//
// Results: readoptions and buildpaths return 0 when done, or the number of
// the refusal to show (REFUSE_TOO_LONG, REFUSE_NO_VALUE) with the option's
// letter as typed; setportsetting returns 1 when the position is one of
// its settings, 0 when not.
#pragma once

#include <cstdarg>
#include <cstddef>

constexpr int DEVICE_SIZE = 50;   // devicename, portname
constexpr int SERVICE_SIZE = 20;  // socketport
constexpr int NAME_SIZE = 100;    // formlibtemp, outputfiletemp, pathname, every path
constexpr int MSG_SIZE = 100;     // msg, and the -b and -w values

// The refusals of option reading: S48 and S49.
constexpr int REFUSE_TOO_LONG = 48;
constexpr int REFUSE_NO_VALUE = 49;

// Read-only views: runsettings.cpp holds the settings themselves.
extern const char (&devicename)[DEVICE_SIZE];
extern const char (&portname)[DEVICE_SIZE];
extern const char (&socketport)[SERVICE_SIZE];
extern const char (&formlibtemp)[NAME_SIZE];

extern const int &dmldatabase;
extern const int &debugflag;
extern const int &searching;
extern const int &testheads;
extern const int &cmode;
extern const int &u2pc;
extern const int &forcedownload;
extern const int &NoWait;

// The line settings passed to the link, and the seconds added to every
// wait (it may be negative).
extern const int &Baud;
extern const int &Size;
extern const int &Parity;  // 1 even, 2 odd, 3 none
extern const int &Stops;
extern const int &DlDelay;

extern const char (&cfgname)[NAME_SIZE];
extern const char (&semname)[NAME_SIZE];
extern const char (&debugfilename)[NAME_SIZE];
extern const char (&outputfilename)[NAME_SIZE];
extern const char (&downloadname)[NAME_SIZE];
extern const char (&runtimename)[NAME_SIZE];

// The one buffer every module formats an operator message into.
extern const char (&msg)[MSG_SIZE];

// The -b, -w and -c values, held apart until the port configuration file
// has been read, so that the options win over it.
struct Overrides {
    int baud = 0;
    int size = 0;
    char parity = 0;
    int stops = 0;
    int delay = 0;
    bool continuous = false;
};

// Reads the options into the settings and overrides. A value that does not
// fit its buffer, or an option that needs a value but comes last, stops
// the reading with its refusal and *letter.
int readoptions(int argc, char **argv, Overrides *overrides, char *letter);

// Builds the file paths from the settings. A path that would not fit
// names the option whose value is the longest part of it.
int buildpaths(char *letter);

// The directory that holds path, into dir cut to fit: "." for a bare name,
// "/" for a name in the root.
void directoryof(const char *path, char *dir, size_t size);

// Applies the -b, -w and -c values over the port configuration file.
void applyoverrides(const Overrides *overrides);

// Position 23 (delay) and 26 to 30 (line settings, NoWait) of the port
// configuration file.
int setportsetting(int position, int value);
int portsetting(int position);

void setdelay(int seconds);

// seconds + DlDelay, held within an int instead of overflowing.
int withdelay(int seconds);

// Scans the arguments as the option reading does for --help, --version and
// --check, which end the run before any file is touched; the first wins. A
// value of an option that takes one is not an option, so "-o --help" names
// a file.
int longoption(int argc, char **argv);
constexpr int ASKED_NOTHING = 0;
constexpr int ASKED_HELP = 1;
constexpr int ASKED_VERSION = 2;
constexpr int ASKED_CHECK = 3;
// 1 when --help stands among the arguments (not as a value), else 0.
int asksforhelp(int argc, char **argv);

// Gives socketport the default service name when -u named none.
constexpr char DEFAULT_SERVICE[] = "sheetsrv";
void usedefaultservice();

// 1 once when -r forced a reload of the form (then cleared), else 0.
int takedownloadreset();

// Formats an operator message into msg, cut to fit.
void formatmsg(const char *format, ...) __attribute__((format(printf, 1, 2)));
void vformatmsg(const char *format, va_list args) __attribute__((format(printf, 1, 0)));

// A decimal number at the start of text, read as the host reads numbers:
// leading blanks, an optional sign, digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
long readnumber(const char *text);
