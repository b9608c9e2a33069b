#include "markfeed/scanloop.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "markfeed/datafile.h"
#include "markfeed/frames.h"
#include "markfeed/journal.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/sheetcheck.h"
#include "markfeed/status.h"
#include "markfeed/termination.h"

namespace {

int sheetnum;              // the number shown for the next sheet
char outrec[OUTREC_SIZE];  // the sheet record, then its output record

// The loop's own steps return GO_ON to go on, or the result DlScan ends with;
// feedsheet also NO_RECORD.
constexpr int GO_ON = -1;
constexpr int NO_RECORD = -2;

// A negative delay (the -w value may be one) means no pause, not a huge one.
void pauseseconds(int seconds)
{
    if (seconds > 0)
        sleep(static_cast<unsigned>(seconds));
    stoppoint();
}

// Download mode, then the scanner must answer the initiate with 'G'.
int startscanner()
{
    if (!switchmode('w', 5) || !switchmode('d', 5))
        return EXIT_FAILED;
    int reply = initiatereply();
    if (reply < 0) {
        showmsg("S25:  Communications timed out.  Press <ENTER>.", 1);
        trace("\nReadrecord failed:  %s", statusback);
        return EXIT_FAILED;
    }
    if (reply != 'G') {
        showmsgf(1, "S26:  Scanner Initialization failed [%c].  Press <ENTER>.",
                 reply != 0 ? reply : ' ');
        return EXIT_FAILED;
    }
    getstatus(LONG_STATUS, 5);
    if (S0NOTREADY()) {
        DlStart();
        pauseseconds(withdelay(1));
    }
    return GO_ON;
}

// Waits while the hopper is empty; the batch is complete when it runs
// empty after an accepted sheet and the loop is not to wait for more.
int waitforforms(int accepted)
{
    while (S0EMPTY()) {
        trace("\nLooping while S0EMPTY().");
        if (accepted >= 1 && (NoWait || cmode)) {
            // The batch is complete: a stop signal only cuts the pause short.
            sleep(1);
            return EXIT_DONE;
        }
        showmsg("Scanner hopper empty.  Load forms or <ESCAPE> to quit.", 0);
        int key = GetKey(3);
        stoppoint();
        if (key == ESCAPE_KEY)
            return EXIT_QUIT;
        getstatus(LONG_STATUS, 5);
    }
    return GO_ON;
}

// Asks for one sheet until its record is in outrec, or until the sheet
// stands at the print position without it (NO_RECORD); the operator may
// quit while a scanner condition is shown.
int feedsheet()
{
    for (;;) {
        DlAck();
        showmsgf(0, "Scanning sheet %d.  Please Wait...", sheetnum);
        if (readrecord(outrec, OUTREC_SIZE, 5) >= 0) {
            journalsheet();
            return GO_ON;
        }
        int cleared = WaitForStatusOk();
        if (cleared == SHEET_WITHOUT_RECORD)
            return NO_RECORD;
        // A scanner that answers but never delivers must not keep the
        // operator from quitting.
        if (!cleared || pollkey() == ESCAPE_KEY)
            return EXIT_QUIT;
        getstatus(LONG_STATUS, 5);
        DlReset();
        DlStart();
    }
}

// A sheet whose record never came is rejected as a bad record is: to the
// alternate hopper unstamped, and the operator scans it again. The loop
// then goes on as after any rejected sheet.
void rejectunread()
{
    DlAltHopper();
    showmsg("S52:  No data received for the sheet.  Rescan sheet.  Press <ENTER>.", 1);
}

}  // namespace

int DlScan()
{
    sheetnum = 1;
    trace("\nFunction call to DlScan().");
    int result = startscanner();
    if (result != GO_ON)
        return result;

    int accepted = 0;
    for (bool firstpass = true;; firstpass = false) {
        trace("\nEntering main scanning loop.");
        getstatus(LONG_STATUS, 5);
        trace("\nChecking S0SHEETATPRINT().");
        if (S0SHEETATPRINT() && !firstpass)
            DlRel();
        trace("\nChecking S0EMPTY().");
        result = waitforforms(accepted);
        if (result != GO_ON)
            return result;
        trace("\nChecking S0NOTREADY().");
        if (S0NOTREADY()) {
            DlStart();
            pauseseconds(DlDelay);
        }
        result = feedsheet();
        if (result == NO_RECORD) {
            rejectunread();
            continue;
        }
        if (result != GO_ON)
            return result;
        if (outrec[0] != '\0' && editform(outrec)) {
            accepted++;
            sheetnum++;
            // The record is on disk before the sheet is stamped as accepted.
            writedataline(outrec);
            writedata(0, printstr);
            journalaccepted(printstr);
        }
    }
}
