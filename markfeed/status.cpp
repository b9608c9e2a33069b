#include "status.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "frames.h"
#include "link.h"
#include "operator.h"
#include "runsettings.h"

char statusback[STATUS_SIZE];
char request[3];
int busycount = 2;

namespace {

enum RecordState { NORMAL, COUNT, REPEAT, END };

constexpr int MODE_POSITION = 48;
constexpr int HANDSHAKE_POSITION = 34;
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
// 1 good answer, 0 no answer in time, -1 wrong length.
int askstatus(int kind, int timeout, const char *caller)
{
    request[0] = static_cast<char>(StatusControlCode);
    request[1] = static_cast<char>(requestcode(kind));
    request[2] = '\0';
    trace("\nFunction call to %s(%s).", caller, request);
    linewrite(request, 2);
    if (readrecord(statusback, STATUS_SIZE, timeout) < 0)
        return 0;
    return static_cast<int>(strlen(statusback)) == answerlength(kind) ? 1 : -1;
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

int formerror()
{
    static const struct {
        int position, mask, code;
    } flags[] = {{2, 0x08, 10}, {2, 0x04, 11}, {2, 0x02, 12}, {2, 0x01, 13},
                 {3, 0x04, 14}, {3, 0x02, 15}, {3, 0x01, 16}};
    for (const auto &flag : flags)
        if (statusback[flag.position] & flag.mask)
            return flag.code;
    return 0;
}

}  // namespace

int readrecord(char *buf, int size, int timeout)
{
    trace("\nFunction call to readrecord().");
    statusback[0] = '\0';
    if (size < 1)
        return -1;
    RecordState state = NORMAL;
    int stored = 0;
    int repeat = 0;
    for (;;) {
        int c = ReadChar(timeout);
        if (c < 0)
            return -1;
        switch (state) {
        case NORMAL:
            if (c == CompressCode)
                state = COUNT;
            else if (c == Eor1)
                state = END;
            else if (c == Eor2 && stored == 0)
                break;  // a leading line feed belongs to the previous record
            else if (stored < size - 1)
                buf[stored++] = static_cast<char>(c);
            break;
        case COUNT:
            repeat = c & 0x3F;
            state = REPEAT;
            break;
        case REPEAT:
            for (; repeat > 0 && stored < size - 1; repeat--)
                buf[stored++] = static_cast<char>(c);
            state = NORMAL;
            break;
        case END:
            if (c == Eor2) {
                buf[stored] = '\0';
                return stored;
            }
            state = NORMAL;  // a stray CR and the byte after it are dropped
            break;
        }
    }
}

int getstatus(int kind, int timeout)
{
    int answer = askstatus(kind, timeout, "getstatus");
    if (answer == 0) {
        showmsg("S7:  No Communication with scanner.  Press <ENTER>.", 1);
        goodbye(99);
    }
    if (answer < 0) {
        showmsg("S6:  No communication with scanner.  Press <ENTER>.", 1);
        goodbye(99);
    }
    trace("\nReadrecord OK:  %s", statusback);
    return 1;
}

int quickstatus(int kind, int timeout)
{
    if (askstatus(kind, timeout, "quickstatus") == 1) {
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
    if (statusback[MODE_POSITION] == mode)
        return 1;
    if (mode != 'w' && statusback[MODE_POSITION] != 'w' && !waitchange('w'))
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
    if (statusback[HANDSHAKE_POSITION] == 'A')
        DlAck();
    else if (statusback[HANDSHAKE_POSITION] == 'I')
        DlInit();
    for (int polls = 1;; polls++) {
        getstatus(LONG_STATUS, 5);
        if (polls > MAX_POLLS) {
            const char *text = modetimeout(mode);
            if (text != nullptr)
                showmsg(text, 1);
            return 0;
        }
        if (statusback[MODE_POSITION] == mode)
            return 1;
    }
}

int WaitForIdle()
{
    trace("\nFunction call to WaitForIdle().");
    for (;;) {
        getstatus(DOWNLOAD_STATUS, 5);
        if (statusback[1] == '0')
            return 1;
        // The prompt comes once a run, at the third busy answer.
        if (busycount >= 0 && --busycount == -1 &&
            showmsg("Scanner is busy.  Reset message on scanner.  Press <ENTER>.", 1) == 27)
            return 0;
    }
}

int DecodeStatus()
{
    trace("\nFunction call to DecodeStatus().");
    getstatus(LONG_STATUS, 5);
    char feed = statusback[6];
    char error = statusback[7];
    if ((feed & 0x03) || (error & 0x0F)) {
        if (error & 0x04) {
            if (statusback[32] & 0x01)
                return 4;
            if (statusback[33] & 0x01)
                return 6;
            if (statusback[32] & 0x02)
                return 3;
            return 5;
        }
        if (feed & 0x02)
            return 7;
        if (error & 0x08)
            return 8;
        if (feed & 0x01)
            return 9;
        return 1;
    }
    if (S0SHEETATPRINT())
        return 17;
    getstatus(DOWNLOAD_STATUS, 5);
    if (statusback[1] != '?')
        return 0;
    return formerror();
}

const char *GetMsg(int code)
{
    trace("\nFunction call to GetMsg().");
    switch (code) {
    case 1: return "Scanner not ready.  Load forms and press <START> or <ENTER>.";
    case 2: return "Input tray is empty.  Load forms and press <START> or <ENTER>.";
    case 3:
    case 4:
    case 5:
    case 6: return "Read check failed.  Clean heads and press <START> or <ENTER>.";
    case 7: return "Sheet skewed.  Reload last form and press <START> or <ENTER>.";
    case 8: return "Sheet jam.  Clear jam and press <START> or <ENTER>.";
    case 9: return "Multiple feed.  Reload last form and press <START> or <ENTER>.";
    case 10:
    case 11:
    case 12:
    case 13:
    case 16: return "Unrecognized form.  Check form and press <RESTART> on scanner.";
    case 14: return "Booklet sequence error.  Check form and press <RESTART> on scanner.";
    case 15: return "Form edit error.  Check form and press <RESTART> on scanner.";
    case 17: return " ";
    default: formatmsg("S25:  Get message unknown: %d.  Press <ENTER>.", code); return msg;
    }
}

int WaitForStatusOk()
{
    trace("\nFunction call to WaitForStatusOk().");
    int shown = 0;
    for (;;) {
        int code = DecodeStatus();
        if (code == 0)
            return 1;
        if (code != shown) {
            showmsg(GetMsg(code), 0);
            shown = code;
        }
        int key = GetKey(1);
        if (key == 13)
            return 1;
        if (key == 27)
            return 0;
        if (key < 0)
            sleep(1);  // no keyboard to wait on: keep the one-second pace
    }
}

int S0SHEETATPRINT()
{
    return (statusback[8] & 0x08) != 0;
}
int S0EMPTY()
{
    return (statusback[9] & 0x02) != 0;
}
int S0NOTREADY()
{
    return (statusback[9] & 0x01) != 0;
}
