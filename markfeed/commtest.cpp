#include "markfeed/commtest.h"

#include <cstdio>

#include "markfeed/datafile.h"
#include "markfeed/frames.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/status.h"
#include "markfeed/termination.h"

namespace {

char parityletter(int parity)
{
    return parity == 1 ? 'E' : (parity == 2 ? 'O' : 'N');
}

// One trial: 1 the scanner answered at these settings (reported), 0 not.
int trial(int speed, int parity, int size, int stops)
{
    char letter = parityletter(parity);
    showmsgf(0, "Testing scanner on %s at %d:%d%c%d.  Please wait...", devicename, speed, size,
             letter, stops);
    requireopen(DlOpenComm(speed, size, parity, stops));
    DlReset();
    if (!testparity()) {
        closeline();
        return 0;
    }
    char found[32];
    snprintf(found, sizeof found, "%d:%d%c%d", speed, size, letter, stops);
    writedataline(found);
    showmsgf(1, "Scanner on %s communicating at %s.  Press <ENTER>.", devicename, found);
    return 1;
}

}  // namespace

int checkcomm()
{
    static const int speeds[] = {9600, 19200, 38400};
    static const int parities[] = {2, 3, 1};  // odd, none, even
    static const int sizes[] = {7, 8};
    setdelay(-4);  // one second for each reply byte instead of five
    for (int speed : speeds) {
        for (int parity : parities) {
            for (int size : sizes) {
                int first = parity == 2 ? 2 : 1;
                if (trial(speed, parity, size, first) || trial(speed, parity, size, 3 - first))
                    return 1;
            }
        }
    }
    showmsg("Communications test failed.  Press <ENTER>.", 1);
    return 0;
}
