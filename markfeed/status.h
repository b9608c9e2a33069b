// Scanner responses: records, status answers, modes and conditions.
//
// Owner of statusback (the last status answer or one-record reply),
// request and the run-long busy counter of WaitForIdle.
#pragma once

constexpr int STATUS_SIZE = 53;
extern char statusback[STATUS_SIZE];
extern char request[3];
extern int busycount;

// Status kinds and the exact length of their answers.
constexpr int LONG_STATUS = 1;      // 50 characters
constexpr int SHORT_STATUS = 2;     // 3 characters
constexpr int DOWNLOAD_STATUS = 3;  // 4 characters

// Reads one record (CR LF closed, run-length groups expanded) into buf,
// storing at most size - 1 characters and a NUL. Empties statusback first.
// Returns the count stored, or -1 when a character did not come in time.
int readrecord(char *buf, int size, int timeout);

// Asks for a status into statusback. Returns 1; a missing or wrong-length
// answer shows S7 or S6 and ends the run with 99.
int getstatus(int kind, int timeout);

// The same request, silent: 1 good answer, 0 otherwise.
int quickstatus(int kind, int timeout);

// Long, short and download status in turn: 1 when all three answered whole.
int testparity();

// Brings the scanner into mode (through 'w' when needed): 1 there, 0 after
// the time-out message.
int switchmode(int mode, int timeout);

// Sends one mode-change frame and polls until the mode shows: 1 or 0.
int waitchange(int mode);

// Polls the download status until idle: 1 idle, 0 the operator gave up.
int WaitForIdle();

// The scanner's condition as a code 0 (none) to 17.
int DecodeStatus();

// The operator text for a condition code (msg for an unknown code).
const char *GetMsg(int code);

// Shows the condition until it clears or a key decides: 1 cleared or
// <ENTER>, 0 <ESCAPE>.
int WaitForStatusOk();

// Flags of the long status in statusback.
int S0SHEETATPRINT();
int S0EMPTY();
int S0NOTREADY();
