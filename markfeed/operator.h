// Operator messages, keyboard waits, the debug trace and the one way out.
//
// Owner of the operator's terminal state. The message line is written to
// standard error; keys are read from standard input one at a time.
#pragma once

// Puts the operator's terminal into single-key mode: curses when standard
// input and output are terminals of a known type, else the terminal modes
// set by hand, else (input not a terminal) bytes as they come.
void setupterminal();

// Shows text centred on the 79-column message line. With wait 1 reads one
// key and returns it (-1 at end of input); otherwise returns 0.
int showmsg(const char *text, int wait);

// Waits up to seconds + DlDelay for a key: the key, 0 on time-out, -1 when
// the wait failed (a negative total included) or input has ended.
int GetKey(int seconds);

// Restores the serial port and the terminal, writes the termination lines
// to the trace and ends the process with code (0, 88 or 99).
[[noreturn]] void goodbye(int code);

// Writes to the debug trace when -x is on and the trace is open.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
