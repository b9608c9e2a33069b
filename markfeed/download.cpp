#include "markfeed/download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "markfeed/frames.h"
#include "markfeed/link.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"
#include "markfeed/safefile.h"
#include "markfeed/status.h"

namespace {

char definitionbuf[DEFINITION_LIMIT];
char runtimeline[RUNTIME_LINE];

constexpr const char *MEMORY_INIT = "APL,000,N;";

// What one download sends, the mode the scanner works in after it, and the
// operator's message for each step that can fail.
struct Download {
    void (*lead)();  // the frame's lead code sender
    const char *payload;
    int length;
    int mode;
    int timeout;  // of the first status request of the mode switch
    const char *waitfailed;
    const char *modefailed;
    const char *noreply;
};

// Pending input dropped, Stop, wait mode, the frame, the working mode, then
// Initiate and the reply. The reply character, or -1 after the message of
// the step that failed.
int download(const Download &step)
{
    FlushComm(Comm);
    DlStop();
    if (!switchmode('w', 5)) {
        showmsg(step.waitfailed, 1);
        return -1;
    }
    step.lead();
    linewrite(step.payload, step.length);
    DlEnd();
    if (!switchmode(step.mode, step.timeout)) {
        showmsg(step.modefailed, 1);
        return -1;
    }
    int reply = initiatereply();
    if (reply < 0) {
        trace("\nReadrecord failed:  %s", statusback);
        showmsg(step.noreply, 1);
    }
    return reply;
}

// The scanner wants its acknowledgement after a download's reply, whatever
// the reply. 1 when the reply was the expected one.
int acknowledged(int reply, int expected, const char *what)
{
    DlAck();
    bool ok = reply == expected;
    trace(ok ? "\nUpload of %s ok." : "\nUpload of %s failed.", what);
    return ok;
}

// The reply character as the operator can read it; an empty reply is a blank.
char shown(int reply)
{
    return reply > 0 ? static_cast<char>(reply) : ' ';
}

// A form file to read, or null; a file refused as untrusted says why in
// the trace.
FILE *openform(const char *path)
{
    const char *reason;
    int fd = opensafely(path, O_RDONLY, REGULAR_ONLY, &reason);
    if (fd == SAFE_REFUSED)
        trace("\nUnable to open %s:  %s", path, reason);
    if (fd < 0)
        return nullptr;
    FILE *form = fdopen(fd, "r");
    if (form == nullptr)
        close(fd);
    return form;
}

}  // namespace

int countcommas(const char *line)
{
    int commas = 0;
    for (; *line; line++)
        commas += *line == ',';
    return commas;
}

int DlClearMem()
{
    trace("\nFunction call to DlClearMem().");
    showmsg("Initializing scanner memory.  Please wait...", 0);
    int reply = download({DlDownload, MEMORY_INIT, static_cast<int>(strlen(MEMORY_INIT)), 't', 5,
                          "S27:  Timed out switching scanner to wait mode.  Press <ENTER>.",
                          "S28:  Timed out switching to translate mode.  Press <ENTER>.",
                          "S29:  Timed out reading response from scanner.  Press <ENTER>."});
    if (reply < 0)
        return 0;
    if (acknowledged(reply, 'V', "form initialization file"))
        return 1;
    showmsgf(1, "S30:  Scanner initialization error:  %c/%s.  Press <ENTER>.", shown(reply),
             formlibtemp);
    return 0;
}

int DlDef()
{
    trace("\nFunction call to DlDef().");
    showmsg("Downloading form definition file.  Please wait...", 0);
    FILE *definition = openform(downloadname);
    size_t length = 0;
    bool read = false;
    if (definition != nullptr) {
        length = fread(definitionbuf, 1, sizeof definitionbuf, definition);
        read = !ferror(definition);
        if (!read)
            trace("\nUnable to read %s:  %s", downloadname, strerror(errno));
        fclose(definition);
    }
    // A definition that cannot be read whole is not sent at all.
    if (!read) {
        showmsgf(1, "S31:  Unable to open file %s.  Press <ENTER>.", formlibtemp);
        return 0;
    }
    int reply = download({DlDownload, definitionbuf, static_cast<int>(length), 't', 60,
                          "S32:  Timed out switching to wait mode.  Press <ENTER>.",
                          "S33:  Timed out switching to translate mode.  Press <ENTER>.",
                          "S34:  Timed out reading response from scanner.  Press <ENTER>."});
    if (reply < 0)
        return 0;
    if (acknowledged(reply, 'G', "form definition file"))
        return 1;
    showmsgf(1, "S35:  Download Error:  %c, %s.  Press <ENTER>.", shown(reply), formlibtemp);
    return 0;
}

int DlRunTime(int flag)
{
    trace("\nFunction call to DlRunTime().");
    if (flag == 1)
        showmsg("Downloading runtime parameters.  Please wait...", 0);
    if (takedownloadreset())
        return -2;
    FILE *parameters = openform(runtimename);
    if (parameters == nullptr) {
        showmsgf(1, "S36:  Unable to open file %s.  Press <ENTER>.", runtimename);
        return -1;
    }
    bool gotline = fgets(runtimeline, sizeof runtimeline, parameters) != nullptr;
    fclose(parameters);
    if (!gotline || countcommas(runtimeline) != RUNTIME_COMMAS) {
        showmsg("S37:  Invalid number of runtime parameters.  Press <ENTER>.", 1);
        return -1;
    }
    int reply = download({DlRun, runtimeline, static_cast<int>(strlen(runtimeline)), 'd', 5,
                          "S38:  Timed out switching to wait mode.  Press <ENTER>.",
                          "S39:  Timed out switching to download mode.  Press <ENTER>.",
                          "S40:  Timed out reading response from scanner.  Press <ENTER>."});
    if (reply < 0)
        return -1;
    if (reply == 'G') {
        trace("\nUpload of runtime parameters ok.");
        return 0;
    }
    trace("\nUpload of runtime parameters failed.");
    return -2;
}
