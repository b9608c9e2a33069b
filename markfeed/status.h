// Scanner responses: records, status answers, modes and conditions. The
// record and condition decoders take plain inputs and do no I/O; readrecord
// and DecodeStatus do the reads, the requests and the trace around them.
//
// Owner of statusback, the last status answer or one-record reply: only
// the readers below write it; the flag tests and other modules read it.
// What only the tests call is in status_testing.h.
//
// Results: 1 success, 0 failure already shown (or, for quickstatus and
// testparity, silent), unless a function says otherwise. getstatus never
// fails: a missing or wrong answer ends the run with 99.
#pragma once

constexpr int STATUS_SIZE = 53;
extern const char (&statusback)[STATUS_SIZE];  // read-only

// Status kinds and the exact length of their answers.
constexpr int LONG_STATUS = 1;      // 50 characters
constexpr int SHORT_STATUS = 2;     // 3 characters
constexpr int DOWNLOAD_STATUS = 3;  // 4 characters

// Positions in the long status answer.
constexpr int FEED_FLAGS = 6;        // 0x01 multiple feed, 0x02 skew
constexpr int ERROR_FLAGS = 7;       // 0x03 not ready, 0x04 read check, 0x08 jam
constexpr int PRINT_FLAGS = 8;       // 0x08 a sheet at the print position
constexpr int HOPPER_FLAGS = 9;      // 0x01 not ready, 0x02 hopper empty
constexpr int READ_CHECK_LOW = 32;   // read check details
constexpr int READ_CHECK_HIGH = 33;  // read check details
constexpr int HANDSHAKE = 34;        // 'A' wants PositiveResponse, 'I' Initiate
constexpr int MODE = 48;             // the scanner's mode letter

// Positions in the download status answer.
constexpr int IDLE = 1;         // '0' idle, '?' a form error follows
constexpr int FORM_ERROR = 2;   // 0x08 0x04 0x02 0x01: unrecognised form
constexpr int FORM_ERROR2 = 3;  // 0x04 booklet sequence, 0x02 edit, 0x01 unrecognised

// The scanner's condition as DecodeStatus sums it up, one code each, and as
// GetMsg words it for the operator.
enum Condition {
    NO_CONDITION = 0,
    NOT_READY = 1,
    HOPPER_EMPTY = 2,      // has a text, never decoded
    READ_CHECK_LOW2 = 3,   // read check, low detail 0x02
    READ_CHECK_LOW1 = 4,   // read check, low detail 0x01
    READ_CHECK = 5,        // read check without detail
    READ_CHECK_HIGH1 = 6,  // read check, high detail 0x01
    SKEW = 7,
    JAM = 8,
    MULTIPLE_FEED = 9,
    UNRECOGNISED_FORM8 = 10,
    UNRECOGNISED_FORM4 = 11,
    UNRECOGNISED_FORM2 = 12,
    UNRECOGNISED_FORM1 = 13,
    BOOKLET_SEQUENCE = 14,
    FORM_EDIT = 15,
    UNRECOGNISED_FORM = 16,
    SHEET_AT_PRINT = 17,
};

// Reads one record (CR LF closed, run-length groups expanded) into buf,
// storing at most size - 1 characters and a NUL. Empties statusback first.
// Returns the count stored, or -1 when a character did not come in time
// or the record as a whole took longer than recordlimit allows.
int readrecord(char *buf, int size, int timeout);

// How long one record may take as a whole, in milliseconds: the wait for
// one character (waitseconds, DlDelay included; a negative wait counts as
// none) and twice the time a full buffer of size characters takes on a
// line where one character takes charmicros microseconds.
long long recordlimit(int waitseconds, int size, long charmicros);

// The record decoder under readrecord, without I/O: what it is given, and
// where one record stands. The codes come in as the port configuration
// file left them; characters as the link gives them (bit 7 cleared), so a
// code above 0x7F never matches.
struct RecordLine {
    int eor1, eor2, compress;  // end of record, and the run-length lead
    int waitseconds;           // the wait for one character, DlDelay included
    long charmicros;           // the time one character takes on the line
};
struct RecordReader {
    char *buf;
    int size;
    RecordLine line;
    long long deadline;  // the clockms time the whole record must be in by
    int state;           // where the decoding stands
    int stored;          // characters in buf so far
    int repeat;          // what is left of a run-length group
};

// Starts a record into buf (size characters, the NUL included) at clock
// time now: its deadline is now plus recordlimit. 0 when size leaves no
// room even for the NUL: no record can be read into it.
int recordstart(RecordReader *reader, const RecordLine &line, char *buf, int size, long long now);

// Takes the record's next character: the count stored once the record is
// complete (its NUL written after it), else -1.
int recordbyte(RecordReader *reader, int c);

// Asks for a status into statusback.
int getstatus(int kind, int timeout);

// The same request, silent.
int quickstatus(int kind, int timeout);

// Long, short and download status in turn: 1 when all three answered whole.
int testparity();

// Brings the scanner into mode (through 'w' when needed).
int switchmode(int mode, int timeout);

// Sends one mode-change frame and polls until the mode shows.
int waitchange(int mode);

// Polls the download status until idle: 1 idle, 0 the operator gave up.
int WaitForIdle();

// The scanner's condition (a Condition).
int DecodeStatus();

// The condition decoder under DecodeStatus, without I/O. Positions past
// the end of an answer count as clear. The condition that a long status
// shows, or NEEDS_DOWNLOAD_STATUS when it shows none and the download
// status decides (it is asked for only then).
constexpr int NEEDS_DOWNLOAD_STATUS = -1;
int longcondition(const char *longstatus);

// The form error that a download status shows, NO_CONDITION for none.
int formcondition(const char *downloadstatus);

// The operator text for a condition (msg for an unknown code).
const char *GetMsg(int code);

// Shows the condition until it clears or a key decides: 1 cleared or
// <ENTER>, 0 <ESCAPE>, SHEET_WITHOUT_RECORD when a sheet stands at the
// print position and the scanner reports nothing else (it fed the sheet,
// and the sheet's record did not come).
constexpr int SHEET_WITHOUT_RECORD = 2;
int WaitForStatusOk();

// Sends Initiate and reads the scanner's one-record reply into statusback.
// The reply character (0 for an empty reply), or -1 when none came in
// time; only a reply that came is traced.
int initiatereply();

// Flags of the long status in statusback.
int S0SHEETATPRINT();
int S0EMPTY();
int S0NOTREADY();
