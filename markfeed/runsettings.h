// Run settings, file paths and the open files of one markfeed run.
//
// Owner: runsettings.cpp (defined there), filled in by the start-up in
// main.cpp from the command line and the port configuration file. Every
// other module only reads them, except where noted:
//   DlDelay (link.h) is lowered by the communication test,
//   downloadreset is cleared by the first runtime parameter download,
//   socketport gets the default service name when the network link opens.
#pragma once

#include <cstdio>

constexpr int DEVICE_SIZE = 50;   // devicename, portname
constexpr int SERVICE_SIZE = 20;  // socketport
constexpr int NAME_SIZE = 100;    // formlibtemp, outputfiletemp, pathname, every path
constexpr int MSG_SIZE = 100;     // msg

extern char devicename[DEVICE_SIZE];
extern char portname[DEVICE_SIZE];
extern char socketport[SERVICE_SIZE];
extern char formlibtemp[NAME_SIZE];
extern char outputfiletemp[NAME_SIZE];
extern char pathname[NAME_SIZE];

extern int dmldatabase;
extern int debugflag;
extern int searching;
extern int testheads;
extern int cmode;
extern int u2pc;
extern int downloadreset;
extern int forcedownload;
extern int NoWait;

extern char cfgname[NAME_SIZE];
extern char semname[NAME_SIZE];
extern char debugfilename[NAME_SIZE];
extern char outputfilename[NAME_SIZE];
extern char downloadname[NAME_SIZE];
extern char runtimename[NAME_SIZE];

// The one buffer every module formats an operator message into.
extern char msg[MSG_SIZE];

extern FILE *Debugoutput;  // scantest.log; null until opened
extern FILE *Dataoutput;   // the data output file; null until opened

// Formats an operator message into msg, cut to fit.
void formatmsg(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Appends text and CR LF to the data output file and flushes it, so the
// line is on disk before the caller goes on (a stamped sheet must never
// lose its record). On failure shows S50 and ends the run with 88.
void writedataline(const char *text);

// A decimal number at the start of text, read as the host reads numbers:
// leading blanks, an optional sign, digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
long readnumber(const char *text);
