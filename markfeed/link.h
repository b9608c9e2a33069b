// The link to the scanner: a serial device or a TCP connection to a
// network terminal server. Every byte to or from the scanner goes through
// Comm; this module adds no framing or buffering.
//
// Owner of Comm and of the serial line's settings (applied and saved):
// only this module opens, closes or replaces the link. What only the tests
// call is in link_testing.h.
// The link shows its own failures on the message line but never ends the
// run: a failure that leaves nothing to do is a 0 from DlOpenComm (-1 when
// a stop signal cut the open short), with the line closed again, and the
// caller ends the run.
//
// Results: 1 success, 0 failure already shown to the operator, unless a
// function says otherwise.
#pragma once

#include <netinet/in.h>
#include <termios.h>

extern const int &Comm;  // the serial device or socket, read-only; -1 when closed

// Opens the link with these line settings (serial) or connects (network).
// -1 when a stop signal cut the open or connect short (nothing shown).
int DlOpenComm(int baud, int size, int parity, int stops);

// Takes the serial device's own lock on a descriptor of its own, held
// until the process ends, so that a second run reaching the device under
// another name is refused before it touches a file: 0 after S46 when
// another process holds it; 1 when locked now or before, for a network
// link, and for a device that cannot be opened yet (opening the line
// reports that).
int lockdevice();

// Connects Comm to portname at socketport (the default service when empty);
// -1 as DlOpenComm.
int EnableSocket();

// The address of a host name, else of a dotted address as it converts
// (all ones when it is neither).
void hostaddress(const char *name, struct in_addr *address);

// The TCP port that a connect to service (the default service when empty)
// reaches with -p (p 1) or without it (p 0), or -1 when a service name has
// no entry in the services database.
int dialledport(const char *service, int p);

// One byte from the link with bit 7 cleared, or -1 when none came in time
// or the link gives no data (16 attempts a second apart). Given up at
// deadline (a clockms time) as well: the wait is cut to what is left of
// it, and so are the attempts on a link without data.
int ReadChar(int seconds, long long deadline);

// Milliseconds on a clock that only goes forward, for deadlines.
long long clockms();

// Microseconds one character takes on the line: start, data, parity and
// stop bits at the speed applied to the serial line. A network link's
// speed cannot be known: 9600 there, with the longest character (12 bits).
long linecharmicros();

// Drops at most one pending byte, waiting at most a quarter second.
void FlushComm(int fd);

// Writes the speed, size, parity and stop bits of settings to the trace.
void checkio(const struct termios *settings);

// Writes len bytes to the link, ignoring the result as the protocol does;
// a write cut short by a signal or a full buffer is carried on.
void linewrite(const void *data, int len);

// 1 when the device is a network terminal server ("/net..."), else 0.
int isnetworkdevice(const char *device);

// Puts back the serial line's settings saved when it was first opened, if
// any, and writes them to the trace under the reset heading.
void restoreline();

// Puts back the serial line's saved settings without a trace and closes
// the link (between the trials of the communication test, and after an
// open that failed).
void closeline();
