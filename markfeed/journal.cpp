#include "markfeed/journal.h"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "markfeed/runsettings.h"

namespace {

constexpr size_t LINE_SIZE = 1024;  // one log line, cut to fit
constexpr size_t VALUE_SIZE = 512;  // one value after quoting, cut to fit
constexpr size_t STAMP_SIZE = 100;
constexpr size_t CODE_SIZE = 8;

struct Facility {
    const char *name;
    int facility;
};
const Facility facilities[] = {
    {"user", LOG_USER},     {"daemon", LOG_DAEMON}, {"local0", LOG_LOCAL0}, {"local1", LOG_LOCAL1},
    {"local2", LOG_LOCAL2}, {"local3", LOG_LOCAL3}, {"local4", LOG_LOCAL4}, {"local5", LOG_LOCAL5},
    {"local6", LOG_LOCAL6}, {"local7", LOG_LOCAL7},
};

bool logon;
int argumentcount;
char **arguments;
struct timespec started;
bool startlogged;
int sheets, accepted, rejected;
char laststamp[STAMP_SIZE];
char lastcode[CODE_SIZE];
bool escaped, linklost, usagescreen;

struct LogLine {
    char text[LINE_SIZE];
    size_t used;
};

void addtext(LogLine *line, const char *text)
{
    size_t room = sizeof line->text - line->used;
    size_t length = strnlen(text, room - 1);
    memcpy(line->text + line->used, text, length);
    line->used += length;
    line->text[line->used] = '\0';
}

// key=value with value as logvalue gives it, "" when empty.
void addvalue(LogLine *line, const char *key, const char *value)
{
    char quoted[VALUE_SIZE];
    logvalue(value, quoted, sizeof quoted);
    addtext(line, " ");
    addtext(line, key);
    addtext(line, "=");
    addtext(line, quoted);
}

// key=value, "-" for a value not known.
void addfield(LogLine *line, const char *key, const char *value)
{
    addvalue(line, key, value[0] != '\0' ? value : "-");
}

void addnumber(LogLine *line, const char *key, long number)
{
    char text[24];
    snprintf(text, sizeof text, "%ld", number);
    addfield(line, key, text);
}

bool needsquotes(const char *value)
{
    if (value[0] == '\0')
        return true;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(value); *c; c++)
        if (*c <= ' ' || *c == '"' || *c == '\\' || *c == 0x7f)
            return true;
    return false;
}

// The arguments as given, one space apart; one with a blank or a quote in
// single quotes, as a shell would take it back.
void joinarguments(LogLine *joined)
{
    for (int i = 1; i < argumentcount; i++) {
        const char *argument = arguments[i];
        if (i > 1)
            addtext(joined, " ");
        if (argument[0] != '\0' && strpbrk(argument, " \t'\"") == nullptr) {
            addtext(joined, argument);
            continue;
        }
        addtext(joined, "'");
        for (const char *c = argument; *c; c++) {
            char one[2] = {*c, '\0'};
            addtext(joined, *c == '\'' ? "'\\''" : one);
        }
        addtext(joined, "'");
    }
}

// text into out, cut to fit.
void copytext(char *out, size_t size, const char *text)
{
    size_t length = strnlen(text, size - 1);
    memcpy(out, text, length);
    out[length] = '\0';
}

// A path made absolute without changing what it names: the directory as
// the system resolves it, else the path from the working directory.
void absolutepath(const char *path, char *out, size_t size)
{
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) {
        copytext(out, size, resolved);
        return;
    }
    copytext(out, size, path);
    char cwd[PATH_MAX];
    if (path[0] == '/' || getcwd(cwd, sizeof cwd) == nullptr)
        return;
    LogLine joined = {"", 0};
    addtext(&joined, cwd);
    addtext(&joined, "/");
    addtext(&joined, path);
    copytext(out, size, joined.text);
}

// The station directory: where the trace is.
void stationdir(char *out, size_t size)
{
    char dir[NAME_SIZE];
    directoryof(debugfilename, dir, sizeof dir);
    absolutepath(dir, out, size);
}

void adduser(LogLine *line)
{
    struct passwd *user = getpwuid(getuid());
    if (user != nullptr)
        addfield(line, "user", user->pw_name);
    else
        addnumber(line, "user", static_cast<long>(getuid()));
}

// What start says of the run: user, device, directory, data file, form and
// the arguments; a run refused early knows only some of them.
void addrun(LogLine *line)
{
    adduser(line);
    if (devicename[0] != '\0')
        addfield(line, "device", devicename);
    if (debugfilename[0] != '\0') {
        char path[PATH_MAX];
        stationdir(path, sizeof path);
        addfield(line, "dir", path);
        absolutepath(outputfilename, path, sizeof path);
        addfield(line, "data", path);
        addfield(line, "form", formlibtemp);
    }
    LogLine options = {"", 0};
    joinarguments(&options);
    addvalue(line, "options", options.text);  // a run without arguments: options=""
}

double elapsed()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - started.tv_sec) +
           static_cast<double>(now.tv_nsec - started.tv_nsec) / 1e9;
}

// Why a run ended with 88 or 99: a stop signal, a lost link, the
// operator's <ESCAPE>, the usage screen, else the last numbered message.
const char *endreason(int status, int stopped)
{
    if (status == 0)
        return "-";
    // A run already on its way out with 88 keeps that status and its
    // message as the reason; the signal is the reason of a 99 alone.
    if (stopped && status == 99)
        return "signal";
    if (linklost)
        return "link";
    if (escaped)
        return "escape";
    if (usagescreen)
        return "usage";
    return lastcode[0] != '\0' ? lastcode : "-";
}

int endpriority(int status)
{
    return status == 0 ? LOG_INFO : (status == 99 ? LOG_WARNING : LOG_ERR);
}

void logline(int priority, const LogLine &line)
{
    if (logon)
        syslog(priority, "%s", line.text);
}

}  // namespace

int logsetting(const char *value, int *facility)
{
    *facility = LOG_USER;
    if (value == nullptr || value[0] == '\0')
        return LOG_SETTING_ON;
    if (strcasecmp(value, "off") == 0)
        return LOG_SETTING_OFF;
    for (const Facility &known : facilities)
        if (strcasecmp(value, known.name) == 0) {
            *facility = known.facility;
            return LOG_SETTING_ON;
        }
    return LOG_SETTING_UNKNOWN;
}

const char *facilityname(int facility)
{
    for (const Facility &known : facilities)
        if (known.facility == facility)
            return known.name;
    return "user";
}

int messagecode(const char *text, char *code, size_t size)
{
    size_t digits = 0;
    while (digits < CODE_SIZE && isdigit(static_cast<unsigned char>(text[1 + digits])))
        digits++;
    if (text[0] != 'S' || digits == 0 || text[1 + digits] != ':')
        return 0;
    snprintf(code, size, "%.*s", static_cast<int>(digits + 1), text);
    return 1;
}

size_t logvalue(const char *value, char *out, size_t size)
{
    if (!needsquotes(value)) {
        copytext(out, size, value);
        return strlen(out);
    }
    size_t used = 0;
    out[used++] = '"';
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(value); *c; c++) {
        char piece[5];
        if (*c == '"' || *c == '\\')
            snprintf(piece, sizeof piece, "\\%c", *c);
        else if (*c < ' ' || *c == 0x7f)
            snprintf(piece, sizeof piece, "\\x%02x", *c);
        else
            snprintf(piece, sizeof piece, "%c", *c);
        size_t length = strlen(piece);
        if (used + length + 2 > size)
            break;  // room kept for the closing quote and the NUL
        memcpy(out + used, piece, length);
        used += length;
    }
    out[used++] = '"';
    out[used] = '\0';
    return used;
}

void journalopen(int argc, char **argv)
{
    argumentcount = argc;
    arguments = argv;
    clock_gettime(CLOCK_MONOTONIC, &started);
    int facility;
    if (logsetting(getenv(LOG_VARIABLE), &facility) == LOG_SETTING_OFF)
        return;
    openlog("markfeed", LOG_PID, facility);
    logon = true;
}

void journalstart(int network, int port)
{
    LogLine line = {"start", strlen("start")};
    addrun(&line);
    if (network) {
        addfield(&line, "host", portname);
        if (port >= 0)
            addnumber(&line, "port", port);
        else
            addfield(&line, "port", "-");
    }
    logline(LOG_INFO, line);
    startlogged = true;
}

void journalshown(const char *text)
{
    char code[CODE_SIZE];
    if (!messagecode(text, code, sizeof code))
        return;
    memcpy(lastcode, code, sizeof lastcode);
    if (!startlogged)
        return;  // the end line of a refused run says it
    LogLine line = {"message", strlen("message")};
    addfield(&line, "code", code);
    addfield(&line, "text", text);
    logline(LOG_NOTICE, line);
}

void journalescape()
{
    escaped = true;
}

void journallinklost()
{
    linklost = true;
}

void journalsheet()
{
    sheets++;
}

void journalaccepted(const char *stamp)
{
    accepted++;
    copytext(laststamp, sizeof laststamp, stamp);
    size_t length = strlen(laststamp);
    while (length > 0 && laststamp[length - 1] == ' ')
        laststamp[--length] = '\0';
}

void journalrejected()
{
    rejected++;
}

void journalusage()
{
    usagescreen = true;
}

void journalend(int status, int stopped)
{
    LogLine line = {"end", strlen("end")};
    addnumber(&line, "status", status);
    addfield(&line, "reason", endreason(status, stopped));
    addnumber(&line, "sheets", sheets);
    addnumber(&line, "accepted", accepted);
    addnumber(&line, "rejected", rejected);
    double seconds = elapsed();
    addnumber(&line, "seconds", static_cast<long>(seconds));
    char rate[32];
    snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? accepted * 60.0 / seconds : 0.0);
    addfield(&line, "rate", rate);
    addfield(&line, "last", laststamp);
    if (!startlogged)
        addrun(&line);
    logline(endpriority(status), line);
}
