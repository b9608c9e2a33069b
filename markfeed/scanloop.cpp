#include "scanloop.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "frames.h"
#include "link.h"
#include "operator.h"
#include "runsettings.h"
#include "sheetcheck.h"
#include "status.h"

int sheetnum;

namespace {

// A negative delay (the -w value may be one) means no pause, not a huge one.
void pauseseconds(int seconds)
{
    if (seconds > 0)
        sleep(static_cast<unsigned>(seconds));
}

// Download mode, then the scanner must answer the initiate with 'G'.
// 0 ready to scan, 88 not (the operator has been told).
int startscanner()
{
    if (!switchmode('w', 5) || !switchmode('d', 5))
        return 88;
    DlInit();
    if (readrecord(statusback, STATUS_SIZE, 5) < 0) {
        showmsg("S25:  Communications timed out.  Press <ENTER>.", 1);
        trace("\nReadrecord failed:  %s", statusback);
        return 88;
    }
    trace("\nReadrecord OK:  %s", statusback);
    if (statusback[0] != 'G') {
        formatmsg("S26:  Scanner Initialization failed [%c].  Press <ENTER>.",
                  statusback[0] != '\0' ? statusback[0] : ' ');
        showmsg(msg, 1);
        return 88;
    }
    getstatus(LONG_STATUS, 5);
    if (S0NOTREADY()) {
        DlStart();
        pauseseconds(DlDelay + 1);
    }
    return 0;
}

// Waits while the hopper is empty. 1 go on feeding, 0 the batch is
// complete, 99 the operator quit.
int waitforforms(int accepted)
{
    while (S0EMPTY()) {
        trace("\nLooping while S0EMPTY().");
        if (accepted >= 1 && (NoWait || cmode)) {
            sleep(1);
            return 0;
        }
        showmsg("Scanner hopper empty.  Load forms or <ESCAPE> to quit.", 0);
        if (GetKey(3) == 27)
            return 99;
        getstatus(LONG_STATUS, 5);
    }
    return 1;
}

// Asks for one sheet until its record arrives. 1 a record is in outrec,
// 99 the operator quit while a scanner condition was shown.
int feedsheet()
{
    for (;;) {
        DlAck();
        formatmsg("Scanning sheet %d.  Please Wait...", sheetnum);
        showmsg(msg, 0);
        if (readrecord(outrec, OUTREC_SIZE, 5) >= 0)
            return 1;
        if (!WaitForStatusOk())
            return 99;
        getstatus(LONG_STATUS, 5);
        DlReset();
        DlStart();
    }
}

}  // namespace

int DlScan()
{
    sheetnum = 1;
    trace("\nFunction call to DlScan().");
    int started = startscanner();
    if (started != 0)
        return started;

    int accepted = 0;
    for (bool firstpass = true;; firstpass = false) {
        trace("\nEntering main scanning loop.");
        getstatus(LONG_STATUS, 5);
        trace("\nChecking S0SHEETATPRINT().");
        if (S0SHEETATPRINT() && !firstpass)
            DlRel();
        trace("\nChecking S0EMPTY().");
        int forms = waitforforms(accepted);
        if (forms != 1)
            return forms;
        trace("\nChecking S0NOTREADY().");
        if (S0NOTREADY()) {
            DlStart();
            pauseseconds(DlDelay);
        }
        if (feedsheet() == 99)
            return 99;
        if (outrec[0] != '\0' && editform(outrec)) {
            accepted++;
            sheetnum++;
            // The record is on disk before the sheet is stamped as accepted.
            writedataline(outrec);
            writedata(0, printstr);
        }
    }
}
