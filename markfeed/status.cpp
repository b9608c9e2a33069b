#include "markfeed/status.h"
#include "markfeed/status_testing.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "markfeed/frames.h"
#include "markfeed/journal.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/termination.h"

namespace {

// The others read it through the const statusback of status.h.
namespace own {
char statusback[STATUS_SIZE];
}

}  // namespace

// constexpr: bound before any code runs, whatever order the files start in.
constexpr const char (&statusback)[STATUS_SIZE] = own::statusback;

namespace {

char request[3];    // the two request bytes, a string for the trace
int busycount = 2;  // busy answers left before WaitForIdle prompts, once a run

// Where a record stands in RecordReader::state.
enum RecordState { NORMAL, COUNT, REPEAT, END };

// The answers of askstatus.
enum Answer { ANSWER_MISSING, ANSWER_OK, ANSWER_WRONG_LENGTH };

constexpr int MAX_POLLS = 10;

int answerlength(int kind)
{
    return kind == LONG_STATUS ? 50 : (kind == SHORT_STATUS ? 3 : 4);
}

unsigned char requestcode(int kind)
{
    if (kind == LONG_STATUS)
        return LongStatusRequest;
    return kind == SHORT_STATUS ? ShortStatusRequest : DownloadStatusRequest;
}

// Sends a status request and reads its answer into statusback.
Answer askstatus(int kind, int timeout, const char *caller)
{
    request[0] = static_cast<char>(StatusControlCode);
    request[1] = static_cast<char>(requestcode(kind));
    request[2] = '\0';
    trace("\nFunction call to %s(%s).", caller, request);
    linewrite(request, 2);
    if (readrecord(own::statusback, STATUS_SIZE, timeout) < 0)
        return ANSWER_MISSING;
    bool whole = static_cast<int>(strlen(statusback)) == answerlength(kind);
    return whole ? ANSWER_OK : ANSWER_WRONG_LENGTH;
}

const char *modetimeout(int mode)
{
    switch (mode) {
    case 'w': return "S11:  Scanner not ready.  Check scanner LCD panel.  Press <ENTER>.";
    case 'd': return "S8:  Timed out switching to download mode.  Press <ENTER>.";
    case 't': return "S9:  Timed out switching to translate mode.  Press <ENTER>.";
    case 'i': return "S10:  Timed out switching to image mode.  Press <ENTER>.";
    default: return nullptr;
    }
}

// The character at position of a status answer; NUL past its end.
char charat(const char *answer, int position)
{
    size_t at = static_cast<size_t>(position);
    return strnlen(answer, at + 1) > at ? answer[at] : '\0';
}

bool flagset(const char *answer, int position, int mask)
{
    return (charat(answer, position) & mask) != 0;
}

// The condition of a long status whose feed or error flags are set.
int feedcondition(const char *status)
{
    if (flagset(status, ERROR_FLAGS, 0x04)) {
        if (flagset(status, READ_CHECK_LOW, 0x01))
            return READ_CHECK_LOW1;
        if (flagset(status, READ_CHECK_HIGH, 0x01))
            return READ_CHECK_HIGH1;
        if (flagset(status, READ_CHECK_LOW, 0x02))
            return READ_CHECK_LOW2;
        return READ_CHECK;
    }
    if (flagset(status, FEED_FLAGS, 0x02))
        return SKEW;
    if (flagset(status, ERROR_FLAGS, 0x08))
        return JAM;
    if (flagset(status, FEED_FLAGS, 0x01))
        return MULTIPLE_FEED;
    return NOT_READY;
}

}  // namespace

long long recordlimit(int waitseconds, int size, long charmicros)
{
    long long wait = waitseconds > 0 ? waitseconds * 1000LL : 0;
    return wait + (2LL * size * charmicros + 999) / 1000;
}

int recordstart(RecordReader *reader, const RecordLine &line, char *buf, int size, long long now)
{
    long long deadline = now + recordlimit(line.waitseconds, size, line.charmicros);
    *reader = {buf, size, line, deadline, NORMAL, 0, 0};
    return size >= 1;
}

int recordbyte(RecordReader *reader, int c)
{
    int room = reader->size - 1;
    switch (reader->state) {
    case NORMAL:
        if (c == reader->line.compress)
            reader->state = COUNT;
        else if (c == reader->line.eor1)
            reader->state = END;
        else if (c == reader->line.eor2 && reader->stored == 0)
            break;  // a leading line feed belongs to the previous record
        else if (reader->stored < room)
            reader->buf[reader->stored++] = static_cast<char>(c);
        break;
    case COUNT:
        reader->repeat = c & 0x3F;
        reader->state = REPEAT;
        break;
    case REPEAT:
        for (; reader->repeat > 0 && reader->stored < room; reader->repeat--)
            reader->buf[reader->stored++] = static_cast<char>(c);
        reader->state = NORMAL;
        break;
    case END:
        if (c == reader->line.eor2 && room >= 0) {
            reader->buf[reader->stored] = '\0';
            return reader->stored;
        }
        reader->state = NORMAL;  // a stray CR and the byte after it are dropped
        break;
    }
    return -1;
}

int readrecord(char *buf, int size, int timeout)
{
    trace("\nFunction call to readrecord().");
    stoppoint();
    own::statusback[0] = '\0';
    // Each character coming in time is not enough: a line that drips bytes
    // and never ends the record must not keep the run waiting.
    RecordLine line = {Eor1, Eor2, CompressCode, withdelay(timeout), linecharmicros()};
    RecordReader reader;
    if (!recordstart(&reader, line, buf, size, clockms()))
        return -1;
    for (;;) {
        int c = ReadChar(timeout, reader.deadline);
        if (c < 0) {
            stoppoint();
            return -1;
        }
        int count = recordbyte(&reader, c);
        if (count >= 0)
            return count;
    }
}

int getstatus(int kind, int timeout)
{
    Answer answer = askstatus(kind, timeout, "getstatus");
    if (answer == ANSWER_MISSING) {
        showmsg("S7:  No Communication with scanner.  Press <ENTER>.", 1);
        goodbye(EXIT_QUIT);
    }
    if (answer == ANSWER_WRONG_LENGTH) {
        showmsg("S6:  No communication with scanner.  Press <ENTER>.", 1);
        goodbye(EXIT_QUIT);
    }
    trace("\nReadrecord OK:  %s", statusback);
    return 1;
}

int quickstatus(int kind, int timeout)
{
    if (askstatus(kind, timeout, "quickstatus") == ANSWER_OK) {
        trace("\nReadrecord OK:  %s", statusback);
        return 1;
    }
    trace("\nReadrecord failed:  %s", statusback);
    return 0;
}

int testparity()
{
    trace("\nFunction call to testparity().");
    return quickstatus(LONG_STATUS, 5) && quickstatus(SHORT_STATUS, 5) &&
           quickstatus(DOWNLOAD_STATUS, 5);
}

int switchmode(int mode, int timeout)
{
    trace("\nFunction call to switchmode().  Switching to %c.", mode);
    getstatus(LONG_STATUS, timeout);
    if (statusback[MODE] == mode)
        return 1;
    if (mode != 'w' && statusback[MODE] != 'w' && !waitchange('w'))
        return 0;
    return waitchange(mode);
}

int waitchange(int mode)
{
    trace("\nFunction call to waitchange().");
    DlScanControl();
    unsigned char letter = static_cast<unsigned char>(mode);
    linewrite(&letter, 1);
    DlEnd();
    // The handshake asked for by the status read before the frame.
    if (statusback[HANDSHAKE] == 'A')
        DlAck();
    else if (statusback[HANDSHAKE] == 'I')
        DlInit();
    for (int polls = 1;; polls++) {
        getstatus(LONG_STATUS, 5);
        if (polls > MAX_POLLS) {
            const char *text = modetimeout(mode);
            if (text != nullptr)
                showmsg(text, 1);
            return 0;
        }
        if (statusback[MODE] == mode)
            return 1;
    }
}

int WaitForIdle()
{
    trace("\nFunction call to WaitForIdle().");
    for (;;) {
        getstatus(DOWNLOAD_STATUS, 5);
        if (statusback[IDLE] == '0')
            return 1;
        // The prompt comes once a run, at the third busy answer.
        if (busycount >= 0 && --busycount == -1 &&
            showmsg("Scanner is busy.  Reset message on scanner.  Press <ENTER>.", 1) ==
                ESCAPE_KEY) {
            journalescape();
            return 0;
        }
    }
}

int longcondition(const char *longstatus)
{
    if (flagset(longstatus, FEED_FLAGS, 0x03) || flagset(longstatus, ERROR_FLAGS, 0x0F))
        return feedcondition(longstatus);
    if (flagset(longstatus, PRINT_FLAGS, 0x08))
        return SHEET_AT_PRINT;
    return NEEDS_DOWNLOAD_STATUS;
}

int formcondition(const char *downloadstatus)
{
    static const struct {
        int position, mask, code;
    } flags[] = {{FORM_ERROR, 0x08, UNRECOGNISED_FORM8}, {FORM_ERROR, 0x04, UNRECOGNISED_FORM4},
                 {FORM_ERROR, 0x02, UNRECOGNISED_FORM2}, {FORM_ERROR, 0x01, UNRECOGNISED_FORM1},
                 {FORM_ERROR2, 0x04, BOOKLET_SEQUENCE},  {FORM_ERROR2, 0x02, FORM_EDIT},
                 {FORM_ERROR2, 0x01, UNRECOGNISED_FORM}};
    if (charat(downloadstatus, IDLE) != '?')
        return NO_CONDITION;
    for (const auto &flag : flags)
        if (flagset(downloadstatus, flag.position, flag.mask))
            return flag.code;
    return NO_CONDITION;
}

int DecodeStatus()
{
    trace("\nFunction call to DecodeStatus().");
    getstatus(LONG_STATUS, 5);
    int code = longcondition(statusback);
    if (code != NEEDS_DOWNLOAD_STATUS)
        return code;
    getstatus(DOWNLOAD_STATUS, 5);
    return formcondition(statusback);
}

const char *GetMsg(int code)
{
    trace("\nFunction call to GetMsg().");
    switch (code) {
    case NOT_READY: return "Scanner not ready.  Load forms and press <START> or <ENTER>.";
    case HOPPER_EMPTY: return "Input tray is empty.  Load forms and press <START> or <ENTER>.";
    case READ_CHECK_LOW2:
    case READ_CHECK_LOW1:
    case READ_CHECK:
    case READ_CHECK_HIGH1: return "Read check failed.  Clean heads and press <START> or <ENTER>.";
    case SKEW: return "Sheet skewed.  Reload last form and press <START> or <ENTER>.";
    case JAM: return "Sheet jam.  Clear jam and press <START> or <ENTER>.";
    case MULTIPLE_FEED: return "Multiple feed.  Reload last form and press <START> or <ENTER>.";
    case UNRECOGNISED_FORM8:
    case UNRECOGNISED_FORM4:
    case UNRECOGNISED_FORM2:
    case UNRECOGNISED_FORM1:
    case UNRECOGNISED_FORM: return "Unrecognized form.  Check form and press <RESTART> on scanner.";
    case BOOKLET_SEQUENCE:
        return "Booklet sequence error.  Check form and press <RESTART> on scanner.";
    case FORM_EDIT: return "Form edit error.  Check form and press <RESTART> on scanner.";
    case SHEET_AT_PRINT: return " ";
    default: formatmsg("S25:  Get message unknown: %d.  Press <ENTER>.", code); return msg;
    }
}

int WaitForStatusOk()
{
    trace("\nFunction call to WaitForStatusOk().");
    int shown = NO_CONDITION;
    for (;;) {
        int code = DecodeStatus();
        if (code == NO_CONDITION)
            return 1;
        // Nothing wrong but a sheet at the print position: the scanner fed
        // it, and its record did not come. No key would clear that.
        if (code == SHEET_AT_PRINT)
            return SHEET_WITHOUT_RECORD;
        if (code != shown) {
            showmsg(GetMsg(code), 0);
            shown = code;
        }
        int key = GetKey(1);
        stoppoint();
        if (key == ENTER_KEY)
            return 1;
        if (key == ESCAPE_KEY)
            return 0;
        if (key < 0)
            sleep(1);  // no keyboard to wait on: keep the one-second pace
    }
}

int initiatereply()
{
    DlInit();
    if (readrecord(own::statusback, STATUS_SIZE, 5) < 0)
        return -1;
    trace("\nReadrecord OK:  %s", statusback);
    return static_cast<unsigned char>(statusback[0]);
}

int S0SHEETATPRINT()
{
    return (statusback[PRINT_FLAGS] & 0x08) != 0;
}

int S0EMPTY()
{
    return (statusback[HOPPER_FLAGS] & 0x02) != 0;
}

int S0NOTREADY()
{
    return (statusback[HOPPER_FLAGS] & 0x01) != 0;
}

void setstatusback(const char *text)
{
    snprintf(own::statusback, sizeof own::statusback, "%s", text);
}
