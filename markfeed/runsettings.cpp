#include "markfeed/runsettings.h"
#include "markfeed/runsettings_testing.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

// The settings themselves. Only this file writes them; the others read
// them through the const names of runsettings.h, bound below.
namespace own {
char devicename[DEVICE_SIZE];
char portname[DEVICE_SIZE];
char socketport[SERVICE_SIZE];
char formlibtemp[NAME_SIZE];

int dmldatabase;
int debugflag;
int searching;
int testheads;
int cmode;
int u2pc;
int forcedownload;
int NoWait = 1;

int Baud = 19200;
int Size = 7;
int Parity = 2;
int Stops = 2;
int DlDelay;

char cfgname[NAME_SIZE];
char semname[NAME_SIZE];
char debugfilename[NAME_SIZE];
char outputfilename[NAME_SIZE];
char downloadname[NAME_SIZE];
char runtimename[NAME_SIZE];

char msg[MSG_SIZE];
}  // namespace own

}  // namespace

// constexpr: bound before any code runs, whatever order the files start in.
constexpr const char (&devicename)[DEVICE_SIZE] = own::devicename;
constexpr const char (&portname)[DEVICE_SIZE] = own::portname;
constexpr const char (&socketport)[SERVICE_SIZE] = own::socketport;
constexpr const char (&formlibtemp)[NAME_SIZE] = own::formlibtemp;

constexpr const int &dmldatabase = own::dmldatabase;
constexpr const int &debugflag = own::debugflag;
constexpr const int &searching = own::searching;
constexpr const int &testheads = own::testheads;
constexpr const int &cmode = own::cmode;
constexpr const int &u2pc = own::u2pc;
constexpr const int &forcedownload = own::forcedownload;
constexpr const int &NoWait = own::NoWait;

constexpr const int &Baud = own::Baud;
constexpr const int &Size = own::Size;
constexpr const int &Parity = own::Parity;
constexpr const int &Stops = own::Stops;
constexpr const int &DlDelay = own::DlDelay;

constexpr const char (&cfgname)[NAME_SIZE] = own::cfgname;
constexpr const char (&semname)[NAME_SIZE] = own::semname;
constexpr const char (&debugfilename)[NAME_SIZE] = own::debugfilename;
constexpr const char (&outputfilename)[NAME_SIZE] = own::outputfilename;
constexpr const char (&downloadname)[NAME_SIZE] = own::downloadname;
constexpr const char (&runtimename)[NAME_SIZE] = own::runtimename;

constexpr const char (&msg)[MSG_SIZE] = own::msg;

namespace {

char outputfiletemp[NAME_SIZE];
char pathname[NAME_SIZE];
int downloadreset;

// The letter of each option as the operator typed it, for S48 on paths.
char typed[128];

// Copies an option's value into its buffer; a value that does not fit is
// refused rather than cut.
int takevalue(char *buffer, size_t size, const char *value)
{
    size_t length = strlen(value);
    if (length >= size)
        return REFUSE_TOO_LONG;
    memcpy(buffer, value, length + 1);
    return 0;
}

int digitvalue(char c)
{
    return isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0;
}

// "speed[:SPS]": the speed, and the size, parity letter and stop bits of
// the second colon-separated piece.
int splitbaud(const char *value, Overrides *overrides)
{
    char text[MSG_SIZE];
    if (takevalue(text, sizeof text, value) != 0)
        return REFUSE_TOO_LONG;
    overrides->baud = static_cast<int>(readnumber(text));
    const char *piece = text;
    while (*piece == ':')
        piece++;
    const char *colon = strchr(piece, ':');
    if (colon == nullptr)
        return 0;
    const char *suffix = colon;
    while (*suffix == ':')
        suffix++;
    if (*suffix == '\0')
        return 0;
    size_t length = strcspn(suffix, ":");
    overrides->size = digitvalue(suffix[0]);
    overrides->parity =
        length > 1 ? static_cast<char>(toupper(static_cast<unsigned char>(suffix[1]))) : 0;
    overrides->stops = length > 2 ? digitvalue(suffix[2]) : 0;
    return 0;
}

int splitdelay(const char *value, Overrides *overrides)
{
    char text[MSG_SIZE];
    if (takevalue(text, sizeof text, value) != 0)
        return REFUSE_TOO_LONG;
    overrides->delay = static_cast<int>(readnumber(text));
    return 0;
}

int setdevice(const char *value)
{
    if (takevalue(own::devicename, sizeof own::devicename, value) != 0)
        return REFUSE_TOO_LONG;
    size_t length = strlen(devicename);
    return takevalue(own::portname, sizeof own::portname, length > 5 ? devicename + 5 : "");
}

bool takesvalue(char option)
{
    return strchr("dlfobwmu", option) != nullptr;
}

// One option with its value (null for a flag): 0 or a refusal.
int takeoption(char option, const char *value, Overrides *overrides)
{
    switch (option) {
    case 'd': return setdevice(value);
    case 'l': return takevalue(pathname, sizeof pathname, value);
    case 'f': return takevalue(own::formlibtemp, sizeof own::formlibtemp, value);
    case 'o': return takevalue(outputfiletemp, sizeof outputfiletemp, value);
    case 'u': return takevalue(own::socketport, sizeof own::socketport, value);
    case 'b': return splitbaud(value, overrides);
    case 'w': return splitdelay(value, overrides);
    case 'm': own::dmldatabase = static_cast<int>(readnumber(value)); return 0;
    case 'x': own::debugflag = 1; return 0;
    case 'r': downloadreset = own::forcedownload = 1; return 0;
    case 's': own::searching = 1; return 0;
    case 'p': own::u2pc = 1; return 0;
    case 'c':
        own::cmode = 1;
        overrides->continuous = true;
        return 0;
    case 't': own::testheads = 1; return 0;
    default: return 0;
    }
}

// Appends the pieces to path: 0, or REFUSE_TOO_LONG when it would not fit.
int appendpath(char *path, std::initializer_list<const char *> pieces)
{
    for (const char *piece : pieces) {
        size_t used = strlen(path);
        size_t length = strlen(piece);
        if (used + length >= NAME_SIZE)
            return REFUSE_TOO_LONG;
        memcpy(path + used, piece, length + 1);
    }
    return 0;
}

// The argument after argv[i] and, when argv[i] is an option that takes
// one, its value.
int nextword(char **argv, int i)
{
    const char *argument = argv[i];
    bool valued = argument[0] == '-' && argument[1] != '-' && argument[1] != '\0' &&
                  takesvalue(static_cast<char>(tolower(static_cast<unsigned char>(argument[1]))));
    return valued ? i + 2 : i + 1;
}

// The int setting at a position of the port configuration file, or null
// where the position holds a control code.
int *portsettingat(int position)
{
    switch (position) {
    case 23: return &own::DlDelay;
    case 26: return &own::Baud;
    case 27: return &own::Size;
    case 28: return &own::Parity;
    case 29: return &own::Stops;
    case 30: return &own::NoWait;
    default: return nullptr;
    }
}

struct Part {
    char option;
    const char *value;
};

// The option to name when a path does not fit: the one whose value is the
// longest part of the path.
char blamed(std::initializer_list<Part> parts)
{
    Part longest = *parts.begin();
    for (const Part &part : parts)
        if (strlen(part.value) > strlen(longest.value))
            longest = part;
    char letter = typed[static_cast<unsigned char>(longest.option)];
    return letter != 0 ? letter : longest.option;
}

// Builds one path; on a refusal names the blamed option in *letter.
int makepath(char *path, std::initializer_list<const char *> pieces,
             std::initializer_list<Part> parts, char *letter)
{
    if (appendpath(path, pieces) == 0)
        return 0;
    *letter = blamed(parts);
    return REFUSE_TOO_LONG;
}

}  // namespace

int readoptions(int argc, char **argv, Overrides *overrides, char *letter)
{
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        // "--" words are no option letter: --help and --version are
        // answered before the options are read, any other is ignored.
        if (argument[0] != '-' || argument[1] == '\0' || argument[1] == '-')
            continue;
        *letter = argument[1];
        char option = static_cast<char>(tolower(static_cast<unsigned char>(*letter)));
        if (static_cast<unsigned char>(option) < sizeof typed)
            typed[static_cast<unsigned char>(option)] = *letter;
        const char *value = nullptr;
        if (takesvalue(option)) {
            if (i + 1 >= argc)
                return REFUSE_NO_VALUE;
            value = argv[++i];
        }
        int refusal = takeoption(option, value, overrides);
        if (refusal != 0)
            return refusal;
    }
    return 0;
}

void clearoptions()
{
    for (char *text : {own::devicename, own::portname, own::socketport, own::formlibtemp,
                       outputfiletemp, pathname, own::cfgname, own::semname, own::debugfilename,
                       own::outputfilename, own::downloadname, own::runtimename})
        text[0] = '\0';
    own::dmldatabase = own::debugflag = own::searching = own::testheads = own::cmode = own::u2pc =
        0;
    own::forcedownload = downloadreset = 0;
    memset(typed, 0, sizeof typed);
}

void setdebugflag(int on)
{
    own::debugflag = on;
}

int buildpaths(char *letter)
{
    size_t length = strlen(pathname);
    if (length > 0 && pathname[length - 1] != '/') {
        if (length + 1 >= sizeof pathname) {
            *letter = blamed({{'l', pathname}});
            return REFUSE_TOO_LONG;
        }
        pathname[length] = '/';
        pathname[length + 1] = '\0';
    }
    const Part l = {'l', pathname};
    const Part d = {'d', portname};
    const Part f = {'f', formlibtemp};
    int refusal = makepath(own::cfgname, {pathname, "d_", portname, ".cfg"}, {l, d}, letter);
    if (refusal == 0)
        refusal = makepath(own::semname, {pathname, "LOCK_", portname}, {l, d}, letter);
    if (refusal == 0 && socketport[0] != '\0')
        refusal = makepath(own::semname, {"_", socketport}, {l, d, {'u', socketport}}, letter);
    if (refusal == 0 && outputfiletemp[0] != '\0')
        refusal = makepath(own::outputfilename, {outputfiletemp}, {{'o', outputfiletemp}}, letter);
    else if (refusal == 0)
        refusal = makepath(own::outputfilename, {pathname, "SCAN.DAT"}, {l}, letter);
    if (refusal == 0)
        refusal = makepath(own::debugfilename, {pathname, "scantest.log"}, {l}, letter);
    if (refusal == 0)
        refusal = makepath(own::downloadname, {pathname, formlibtemp, ".dlf"}, {l, f}, letter);
    if (refusal == 0)
        refusal = makepath(own::runtimename, {pathname, formlibtemp, ".rtp"}, {l, f}, letter);
    return refusal;
}

void directoryof(const char *path, char *dir, size_t size)
{
    snprintf(dir, size, "%s", path);
    char *slash = strrchr(dir, '/');
    if (slash == nullptr)
        snprintf(dir, size, ".");
    else if (slash == dir)
        slash[1] = '\0';
    else
        *slash = '\0';
}

void applyoverrides(const Overrides *overrides)
{
    if (overrides->baud != 0)
        own::Baud = overrides->baud;
    if (overrides->size != 0)
        own::Size = overrides->size;
    if (overrides->parity == 'E')
        own::Parity = 1;
    else if (overrides->parity == 'O')
        own::Parity = 2;
    else if (overrides->parity == 'N')
        own::Parity = 3;
    if (overrides->stops != 0)
        own::Stops = overrides->stops;
    if (overrides->delay != 0)
        own::DlDelay = overrides->delay;
    if (overrides->continuous)
        own::NoWait = 0;
}

int setportsetting(int position, int value)
{
    int *setting = portsettingat(position);
    if (setting == nullptr)
        return 0;
    *setting = value;
    return 1;
}

int portsetting(int position)
{
    const int *setting = portsettingat(position);
    return setting != nullptr ? *setting : 0;
}

void setdelay(int seconds)
{
    own::DlDelay = seconds;
}

int withdelay(int seconds)
{
    long long total = static_cast<long long>(seconds) + DlDelay;
    if (total > INT_MAX)
        return INT_MAX;
    return total < INT_MIN ? INT_MIN : static_cast<int>(total);
}

int longoption(int argc, char **argv)
{
    for (int i = 1; i < argc; i = nextword(argv, i)) {
        if (strcmp(argv[i], "--help") == 0)
            return ASKED_HELP;
        if (strcmp(argv[i], "--version") == 0)
            return ASKED_VERSION;
        if (strcmp(argv[i], "--check") == 0)
            return ASKED_CHECK;
    }
    return ASKED_NOTHING;
}

int asksforhelp(int argc, char **argv)
{
    for (int i = 1; i < argc; i = nextword(argv, i))
        if (strcmp(argv[i], "--help") == 0)
            return 1;
    return 0;
}

void usedefaultservice()
{
    if (socketport[0] == '\0')
        snprintf(own::socketport, sizeof own::socketport, "%s", DEFAULT_SERVICE);
}

int takedownloadreset()
{
    int reset = downloadreset;
    downloadreset = 0;
    return reset;
}

void formatmsg(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vformatmsg(format, args);
    va_end(args);
}

void vformatmsg(const char *format, va_list args)
{
    vsnprintf(own::msg, sizeof own::msg, format, args);
}

long readnumber(const char *text)
{
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
           *text == '\v')
        text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    long value = 0;
    for (; isdigit(static_cast<unsigned char>(*text)); text++) {
        int digit = *text - '0';
        if (value > (INT_MAX - digit) / 10) {
            value = INT_MAX;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}
