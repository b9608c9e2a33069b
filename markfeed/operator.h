// The operator's side: the message line on standard error, keys from
// standard input, and the debug trace.
//
// Owner of the operator's terminal state and of the trace stream. Nothing
// here ends the run; the one way out is goodbye (termination.h).
//
// Results: showmsg gives the key read when it waits (-1 at end of input or
// on a stop signal) and 0 when it does not; GetKey gives the key, 0 when no
// key came in time (also when input has ended: it then waits its whole
// time, as a keyboard nobody touches), -1 when the wait failed or a stop
// signal came; pollkey gives a key already typed at a terminal, else 0;
// opentrace gives 1 when the trace is open, else SAFE_FAILED or
// SAFE_REFUSED (safefile.h).
#pragma once

// The keys the operator answers with. <ENTER> arrives as a carriage return:
// the terminal does no CR/LF translation.
constexpr int ENTER_KEY = 13;
constexpr int ESCAPE_KEY = 27;

// Puts the operator's terminal into single-key mode: curses when standard
// input and output are terminals of a known type, else the terminal modes
// set by hand, else (input not a terminal) bytes as they come. The screen
// is never switched: what is written stays after the run.
void setupterminal();

// Gives the terminal back the modes it had before setupterminal; on a
// terminal, the cursor goes to a fresh line below the last message.
void restoreterminal();

// Shows text centred on the 79-column message line; with wait 1 reads one
// key first.
int showmsg(const char *text, int wait);

// Formats the message into msg (cut to fit) and shows it.
int showmsgf(int wait, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Waits up to seconds + DlDelay for a key.
int GetKey(int seconds);

// A key the operator has already typed at the terminal, without waiting;
// input from a file or pipe is left for later prompts.
int pollkey();

// SIGINT, SIGTERM and SIGHUP only set a flag; the waits then return, and
// the run ends at the next safe point (termination.h).
void catchstopsignals();
int stoprequested();

// Opens (creates or empties) the trace file. Until then nothing is traced.
int opentrace(const char *path);

// Writes to the debug trace when -x is on and the trace is open.
void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
