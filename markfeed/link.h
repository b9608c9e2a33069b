// The link to the scanner: a serial device or a TCP connection to a
// network terminal server. Every byte to or from the scanner goes through
// Comm; this module adds no framing or buffering.
//
// Owner of Comm, Term, OldTerm, the line settings and DlDelay.
#pragma once

#include <csignal>
#include <termios.h>

extern int Comm;                          // the serial device or socket
extern struct termios Term;               // settings applied to the serial device
extern struct termios OldTerm;            // the device's settings before the change
extern int OldTermSaved;                  // 1 once OldTerm holds the device's settings
extern int Baud, Size, Parity, Stops;     // Parity: 1 even, 2 odd, 3 none
extern int DlDelay;                       // seconds added to every wait (may be negative)
extern volatile sig_atomic_t AlarmFired;  // set by alarm_exit

// Opens the link with these line settings (serial) or connects (network).
// 1 open; 0 not, after the operator has been told why.
int DlOpenComm(int baud, int size, int parity, int stops);

// Connects Comm to portname at socketport. 1 connected; 0 when no socket
// could be made. Every other failure ends the run with 88.
int EnableSocket();

// SIGALRM handler of the 4-second open guard: only records that it fired,
// so the blocked open or connect returns with EINTR.
void alarm_exit(int signum);

// select on Comm for seconds + DlDelay: >0 input, 0 time-out, -1 error.
int wait_socket(int seconds);

// One byte from the link with bit 7 cleared, or -1 when none came in time
// or the link gives no data (16 attempts a second apart).
int ReadChar(int seconds);

// Drops at most one pending byte, waiting at most a quarter second.
void FlushComm(int fd);

// Writes the speed, size, parity and stop bits of settings to the trace.
void checkio(const struct termios *settings);

// Writes len bytes to the link, ignoring the result as the protocol does;
// a write cut short by a signal or a full buffer is carried on.
void linewrite(const void *data, int len);
