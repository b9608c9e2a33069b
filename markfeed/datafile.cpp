#include "datafile.h"

#include <cstdio>

#include "operator.h"
#include "runsettings.h"
#include "termination.h"

namespace {

FILE *Dataoutput;  // null until opened

}  // namespace

int opendatafile(const char *path)
{
    Dataoutput = fopen(path, "w");
    return Dataoutput != nullptr;
}

void writedataline(const char *text)
{
    bool written = Dataoutput != nullptr && fputs(text, Dataoutput) >= 0 &&
                   fputs("\r\n", Dataoutput) >= 0 && fflush(Dataoutput) == 0;
    if (written)
        return;
    showmsgf(1, "S50:  Unable to write file %s.  Press <ENTER>.", outputfilename);
    goodbye(EXIT_FAILED);
}
