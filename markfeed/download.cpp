#include "download.h"

#include <cstring>

#include "frames.h"
#include "link.h"
#include "operator.h"
#include "runsettings.h"
#include "status.h"

char definitionbuf[DEFINITION_LIMIT];
char runtimeline[RUNTIME_LINE];

namespace {

constexpr const char *MEMORY_INIT = "APL,000,N;";

// Sends Initiate and reads the scanner's one-record reply into statusback.
// Returns the reply character, or -1 when no reply came in time.
int initiatereply()
{
    DlInit();
    if (readrecord(statusback, STATUS_SIZE, 5) < 0) {
        trace("\nReadrecord failed:  %s", statusback);
        return -1;
    }
    trace("\nReadrecord OK:  %s", statusback);
    return static_cast<unsigned char>(statusback[0]);
}

// The reply character as the operator can read it; an empty reply is a blank.
char shown(int reply)
{
    return reply > 0 ? static_cast<char>(reply) : ' ';
}

int failed(const char *text)
{
    showmsg(text, 1);
    return 0;
}

int countcommas(const char *line)
{
    int commas = 0;
    for (; *line; line++)
        commas += *line == ',';
    return commas;
}

}  // namespace

int DlClearMem()
{
    trace("\nFunction call to DlClearMem().");
    showmsg("Initializing scanner memory.  Please wait...", 0);
    FlushComm(Comm);
    DlStop();
    if (!switchmode('w', 5))
        return failed("S27:  Timed out switching scanner to wait mode.  Press <ENTER>.");
    DlDownload();
    linewrite(MEMORY_INIT, static_cast<int>(strlen(MEMORY_INIT)));
    DlEnd();
    if (!switchmode('t', 5))
        return failed("S28:  Timed out switching to translate mode.  Press <ENTER>.");
    int reply = initiatereply();
    if (reply < 0)
        return failed("S29:  Timed out reading response from scanner.  Press <ENTER>.");
    DlAck();
    if (reply == 'V') {
        trace("\nUpload of form initialization file ok.");
        return 1;
    }
    trace("\nUpload of form initialization file failed.");
    formatmsg("S30:  Scanner initialization error:  %c/%s.  Press <ENTER>.", shown(reply),
              formlibtemp);
    return failed(msg);
}

int DlDef()
{
    trace("\nFunction call to DlDef().");
    showmsg("Downloading form definition file.  Please wait...", 0);
    FILE *definition = fopen(downloadname, "r");
    if (definition == nullptr) {
        formatmsg("S31:  Unable to open file %s.  Press <ENTER>.", formlibtemp);
        return failed(msg);
    }
    size_t length = fread(definitionbuf, 1, sizeof definitionbuf, definition);
    fclose(definition);
    FlushComm(Comm);
    DlStop();
    if (!switchmode('w', 5))
        return failed("S32:  Timed out switching to wait mode.  Press <ENTER>.");
    DlDownload();
    linewrite(definitionbuf, static_cast<int>(length));
    DlEnd();
    if (!switchmode('t', 60))
        return failed("S33:  Timed out switching to translate mode.  Press <ENTER>.");
    int reply = initiatereply();
    if (reply < 0)
        return failed("S34:  Timed out reading response from scanner.  Press <ENTER>.");
    DlAck();
    if (reply == 'G') {
        trace("\nUpload of form definition file ok.");
        return 1;
    }
    trace("\nUpload of form definition file failed.");
    formatmsg("S35:  Download Error:  %c, %s.  Press <ENTER>.", shown(reply), formlibtemp);
    return failed(msg);
}

int DlRunTime(int flag)
{
    trace("\nFunction call to DlRunTime().");
    if (flag == 1)
        showmsg("Downloading runtime parameters.  Please wait...", 0);
    if (downloadreset) {
        downloadreset = 0;
        return -2;
    }
    FILE *parameters = fopen(runtimename, "r");
    if (parameters == nullptr) {
        formatmsg("S36:  Unable to open file %s.  Press <ENTER>.", runtimename);
        showmsg(msg, 1);
        return -1;
    }
    bool gotline = fgets(runtimeline, sizeof runtimeline, parameters) != nullptr;
    fclose(parameters);
    if (!gotline || countcommas(runtimeline) != 8) {
        showmsg("S37:  Invalid number of runtime parameters.  Press <ENTER>.", 1);
        return -1;
    }
    FlushComm(Comm);
    DlStop();
    if (!switchmode('w', 5)) {
        showmsg("S38:  Timed out switching to wait mode.  Press <ENTER>.", 1);
        return -1;
    }
    DlRun();
    linewrite(runtimeline, static_cast<int>(strlen(runtimeline)));
    DlEnd();
    if (!switchmode('d', 5)) {
        showmsg("S39:  Timed out switching to download mode.  Press <ENTER>.", 1);
        return -1;
    }
    int reply = initiatereply();
    if (reply < 0) {
        showmsg("S40:  Timed out reading response from scanner.  Press <ENTER>.", 1);
        return -1;
    }
    if (reply == 'G') {
        trace("\nUpload of runtime parameters ok.");
        return 0;
    }
    trace("\nUpload of runtime parameters failed.");
    return -2;
}
