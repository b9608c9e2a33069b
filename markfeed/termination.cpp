#include "markfeed/termination.h"

#include <cstdlib>

#include "markfeed/journal.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"

void goodbye(int code)
{
    journalend(code, stoprequested());
    // A network link has no line settings to give back.
    if (!isnetworkdevice(devicename)) {
        restoreline();
        trace("\n\nPROGRAM TERMINATED.  RETURN VALUE = %d.", code);
        trace("\n=======================================\n");
    }
    restoreterminal();
    exit(code);
}

void stoppoint()
{
    if (stoprequested())
        goodbye(EXIT_QUIT);
}

void requireopen(int opened)
{
    if (opened < 0)
        goodbye(EXIT_QUIT);
    if (opened == 0)
        goodbye(EXIT_FAILED);
}
