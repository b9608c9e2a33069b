#include "markfeed/check.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "markfeed/download.h"
#include "markfeed/frames.h"
#include "markfeed/journal.h"
#include "markfeed/link.h"
#include "markfeed/portcfg.h"
#include "markfeed/procfs.h"
#include "markfeed/runsettings.h"

namespace {

int errors, warnings;

void say(const char *format, ...) __attribute__((format(printf, 1, 2)));
void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
}

constexpr bool ERROR = true;
constexpr bool WARNING = false;

void problem(bool error, const char *format, ...) __attribute__((format(printf, 2, 3)));
void problem(bool error, const char *format, ...)
{
    fputs(error ? "error: " : "warning: ", stdout);
    (error ? errors : warnings)++;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    putchar('\n');
}

const char *username()
{
    struct passwd *user = getpwuid(getuid());
    return user != nullptr ? user->pw_name : "with this uid";
}

// What a run finds where it opens a file.
enum Found { FOUND_MISSING, FOUND_FILE, FOUND_DEVICE, FOUND_NOTHING_USABLE };

// A file that a run opens for writing (and reading: access), created when
// missing; a character device where device is true. S-code: the message a
// run would give.
Found checkwritten(const char *subject, const char *path, int access, bool device, const char *code,
                   struct stat *found)
{
    say("%s: %s", subject, path);
    if (stat(path, found) != 0) {
        int error = errno;
        char dir[NAME_SIZE];
        directoryof(path, dir, sizeof dir);
        if (error != ENOENT)
            problem(ERROR, "%s: cannot be looked at: %s (%s)", subject, strerror(error), code);
        else if (::access(dir, W_OK | X_OK) != 0)
            problem(ERROR, "%s: user %s may not create it in %s (%s)", subject, username(), dir,
                    code);
        else
            say("%s: missing; a run creates it", subject);
        return error == ENOENT ? FOUND_MISSING : FOUND_NOTHING_USABLE;
    }
    if (!S_ISREG(found->st_mode) && !(device && S_ISCHR(found->st_mode))) {
        problem(ERROR, "%s: not a regular file (%s)", subject, code);
        return FOUND_NOTHING_USABLE;
    }
    if (::access(path, access) != 0) {
        problem(ERROR, "%s: user %s may not %s it (%s)", subject, username(),
                access & R_OK ? "read and write" : "write", code);
        return FOUND_NOTHING_USABLE;
    }
    return S_ISREG(found->st_mode) ? FOUND_FILE : FOUND_DEVICE;
}

// Whether another process holds a lock that would stop a run.
void checkheld(const char *subject, const struct stat &file, const char *kind, long long offset,
               const char *holder, const char *code)
{
    long pid = 0;
    int held = lockheld(file.st_dev, file.st_ino, kind, offset, &pid);
    char by[32] = "";
    if (pid > 0)
        snprintf(by, sizeof by, " (pid %ld)", pid);
    if (held == 0)
        say("%s: free", subject);
    else if (held > 0)
        problem(ERROR, "%s: held by %s%s (%s)", subject, holder, by, code);
    else
        problem(WARNING, "%s: not known whether it is held (/proc/locks cannot be read)", subject);
}

void checklock()
{
    struct stat found;
    struct stat link;
    if (lstat(semname, &link) == 0 && S_ISLNK(link.st_mode)) {
        say("lock file: %s", semname);
        problem(ERROR, "lock file: a symbolic link, which a run refuses (S44)");
        return;
    }
    Found lock = checkwritten("lock file", semname, R_OK | W_OK, false, "S44", &found);
    if (lock == FOUND_FILE)
        checkheld("scanner lock", found, nullptr, 4, "another run", "S46");
    else if (lock == FOUND_MISSING)
        say("scanner lock: free");
}

// The lines a run would empty: line ends, and a last line without one.
long countlines(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    long lines = 0;
    char block[65536];
    char last = '\n';
    ssize_t got;
    while ((got = read(fd, block, sizeof block)) > 0) {
        for (ssize_t i = 0; i < got; i++)
            lines += block[i] == '\n';
        last = block[got - 1];
    }
    int error = errno;
    close(fd);
    errno = error;
    return got < 0 ? -1 : lines + (last != '\n');
}

void checkdata()
{
    struct stat found;
    const char *subject = "data output file";
    Found data = checkwritten(subject, outputfilename, W_OK, true, "S43", &found);
    if (data == FOUND_DEVICE)
        say("%s: a character device, shared and not locked", subject);
    if (data == FOUND_MISSING)
        say("data output file lock: free");
    if (data != FOUND_FILE)
        return;
    long lines = countlines(outputfilename);
    if (lines == 0)
        say("%s: empty", subject);
    else if (lines < 0)
        problem(WARNING, "%s: its lines cannot be counted: %s", subject, strerror(errno));
    if (lines > 0) {
        say("%s: %ld line%s", subject, lines, lines == 1 ? "" : "s");
        problem(WARNING, "%s: %ld line%s that a run would empty; the host has not imported them",
                subject, lines, lines == 1 ? "" : "s");
    }
    checkheld("data output file lock", found, nullptr, -1, "another run or an import", "S51");
}

void checktrace()
{
    struct stat found;
    checkwritten("trace", debugfilename, W_OK, true, "S42", &found);
}

// The names of the port configuration file's positions.
const char *const positionnames[30] = {
    "Eoi",
    "Eor1",
    "Eor2",
    "Start",
    "Stop",
    "Initiate",
    "PositiveResponse",
    "StatusControlCode",
    "LongStatusRequest",
    "ShortStatusRequest",
    "BarCodeRequest",
    "ScannerControlCode",
    "DownloadControlChar",
    "RunCode",
    "RelCode",
    "PrintPosCode",
    "PrintDataCode",
    "CompressCode",
    "SelectScanner",
    "SelectAux",
    "AuxPortData",
    "SelectFromAux",
    "DlDelay",
    "DownloadStatusRequest",
    "SelectStacker",
    "Baud",
    "Size",
    "Parity",
    "Stops",
    "NoWait",
};

// The option that set a position over the file, or null.
const char *optionof(int position, const Overrides &overrides)
{
    switch (position) {
    case 23: return overrides.delay != 0 ? "option -w" : nullptr;
    case 26: return overrides.baud != 0 ? "option -b" : nullptr;
    case 27: return overrides.size != 0 ? "option -b" : nullptr;
    case 28:
        return overrides.parity != 0 && strchr("EON", overrides.parity) ? "option -b" : nullptr;
    case 29: return overrides.stops != 0 ? "option -b" : nullptr;
    case 30: return overrides.continuous ? "option -c" : nullptr;
    default: return nullptr;
    }
}

// Reads the file as a run does, into the settings and *file; the numbers
// read, and whether more than 30 numbers stand in it.
int readconfig(PortNumbers *file, bool *more)
{
    DlCfg(cfgname, file);
    int value = 0;
    *more = next_param(cfgname, &value) == 0;
    next_param(nullptr, &value);
    int numbers = 0;
    for (bool got : file->read)
        numbers += got;
    return numbers;
}

void checkconfigfile(PortNumbers *file)
{
    say("port configuration file: %s", cfgname);
    struct stat found;
    if (stat(cfgname, &found) != 0) {
        say("port configuration file: missing; a run uses the built-in values");
        return;
    }
    if (!S_ISREG(found.st_mode) || access(cfgname, R_OK) != 0) {
        problem(WARNING, "port configuration file: %s; a run uses the built-in values",
                S_ISREG(found.st_mode) ? "this user may not read it" : "not a regular file");
        return;
    }
    bool more;
    int numbers = readconfig(file, &more);
    say("port configuration file: %d number%s read", numbers, numbers == 1 ? "" : "s");
    if (numbers < 30)
        problem(WARNING,
                "port configuration file: %d number%s for 30 positions; positions %d to 30 keep "
                "their built-in values",
                numbers, numbers == 1 ? "" : "s", numbers + 1);
    if (more)
        problem(WARNING, "port configuration file: more than 30 numbers; a run reads the first 30 "
                         "(a digit in a comment shifts every later value)");
}

// A line setting that no scanner takes, as a run would use it.
void judgeline(int position, int value)
{
    const char *name = positionnames[position - 1];
    if (position == 26 && value != 0 && value != 9600 && value != 19200 && value != 38400)
        problem(WARNING, "position 26 %s: %d is not 9600, 19200 or 38400; a run sets 9600", name,
                value);
    if (position == 27 && value != 0 && value != 7 && value != 8)
        problem(WARNING, "position 27 %s: %d is not 7 or 8; a run sets 8", name, value);
    if (position == 28 && (value < 0 || value > 3))
        problem(WARNING,
                "position 28 %s: %d is not 1 (even), 2 (odd) or 3 (none); a run keeps the "
                "device's parity",
                name, value);
    if (position == 29 && (value < 0 || value > 2))
        problem(WARNING, "position 29 %s: %d is not 1 or 2; a run keeps the device's stop bits",
                name, value);
}

void checkpositions(const PortNumbers &file, const Overrides &overrides)
{
    bool network = isnetworkdevice(devicename);
    for (int position = 1; position <= 30; position++) {
        const char *name = positionnames[position - 1];
        const char *option = optionof(position, overrides);
        const char *source = option ? option : (file.read[position - 1] ? "file" : "built-in");
        int code = controlcode(position);
        int value = code >= 0 ? code : portsetting(position);
        if (code >= 0)
            say("position %d %s: 0x%02X (%s)", position, name, code, source);
        else
            say("position %d %s: %d (%s)", position, name, value, source);
        int raw = file.values[position - 1];
        if (code >= 0 && file.read[position - 1] && (raw < 0 || raw > 255))
            problem(WARNING, "position %d %s: %d does not fit in a byte; a run uses 0x%02X",
                    position, name, raw, code);
        if (!network)
            judgeline(position, value);
    }
}

void checkconfig(const Overrides &overrides)
{
    PortNumbers file = {};
    checkconfigfile(&file);
    applyoverrides(&overrides);
    checkpositions(file, overrides);
}

// A form file that a run reads: 1 when it can be read.
int checkform(const char *subject, const char *path, const char *code, struct stat *found)
{
    say("%s: %s", subject, path);
    if (stat(path, found) != 0)
        problem(ERROR, "%s: %s (%s)", subject, errno == ENOENT ? "missing" : strerror(errno), code);
    else if (!S_ISREG(found->st_mode))
        problem(ERROR, "%s: not a regular file (%s)", subject, code);
    else if (access(path, R_OK) != 0)
        problem(ERROR, "%s: user %s may not read it (%s)", subject, username(), code);
    else
        return 1;
    return 0;
}

void checkruntime()
{
    struct stat found;
    if (!checkform("runtime parameters", runtimename, "S36", &found))
        return;
    FILE *parameters = fopen(runtimename, "re");
    char line[RUNTIME_LINE];
    bool gotline = parameters != nullptr && fgets(line, sizeof line, parameters) != nullptr;
    if (parameters != nullptr)
        fclose(parameters);
    int commas = gotline ? countcommas(line) : 0;
    if (!gotline)
        problem(ERROR, "runtime parameters: no first line (S37)");
    else if (commas != RUNTIME_COMMAS)
        problem(ERROR, "runtime parameters: %d comma%s in the first line, not %d (S37)", commas,
                commas == 1 ? "" : "s", RUNTIME_COMMAS);
    else
        say("runtime parameters: %d commas in the first line", commas);
}

void checkforms()
{
    if (formlibtemp[0] == '\0' || searching)
        return;
    struct stat found;
    if (checkform("form definition", downloadname, "S31", &found)) {
        long long size = found.st_size;
        if (size > DEFINITION_LIMIT)
            problem(WARNING, "form definition: %lld bytes; a run sends only the first %d", size,
                    DEFINITION_LIMIT);
        else
            say("form definition: %lld bytes of at most %d", size, DEFINITION_LIMIT);
    }
    checkruntime();
}

// Who may not open the device, and what would let them.
void checkaccess(const struct stat &device)
{
    if (access(devicename, R_OK | W_OK) == 0)
        return;
    struct group *group = getgrgid(device.st_gid);
    char name[32];
    if (group != nullptr)
        snprintf(name, sizeof name, "%s", group->gr_name);
    else
        snprintf(name, sizeof name, "%u", static_cast<unsigned>(device.st_gid));
    if ((device.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        problem(ERROR, "device: user %s may not read and write it; join the group %s (S21)",
                username(), name);
    else
        problem(ERROR,
                "device: user %s may not read and write it, nor may its group %s (mode %04o) "
                "(S21)",
                username(), name, static_cast<unsigned>(device.st_mode & 07777));
}

void checkserial()
{
    struct stat device;
    if (stat(devicename, &device) != 0) {
        problem(ERROR, "device: %s (S21)", errno == ENOENT ? "missing" : strerror(errno));
        return;
    }
    if (!S_ISCHR(device.st_mode)) {
        problem(ERROR, "device: not a character device, so no serial line (S22)");
        return;
    }
    unsigned high = major(device.st_rdev), low = minor(device.st_rdev);
    int terminal = terminaldevice(device.st_rdev);
    if (terminal > 0)
        say("device: a terminal device (character device %u,%u)", high, low);
    else if (terminal == 0)
        problem(ERROR, "device: character device %u,%u is no terminal (S22)", high, low);
    else
        problem(WARNING,
                "device: not known whether character device %u,%u is a terminal "
                "(/proc/tty/drivers cannot be read)",
                high, low);
    checkaccess(device);
    checkheld("device lock", device, "FLOCK", -1, "another run", "S46");
}

void checklinesettings()
{
    if (searching) {
        say("line settings: the communication test (-s) tries 36 in turn");
        return;
    }
    char speed[32], size[32];
    if (Baud == 0)
        snprintf(speed, sizeof speed, "the device's speed");
    else
        snprintf(speed, sizeof speed, "%d baud", Baud == 19200 || Baud == 38400 ? Baud : 9600);
    if (Size == 0)
        snprintf(size, sizeof size, "the device's character size");
    else
        snprintf(size, sizeof size, "%d data bits", Size == 7 ? 7 : 8);
    const char *parity = Parity == 1   ? "even parity"
                         : Parity == 2 ? "odd parity"
                         : Parity == 3 ? "no parity"
                                       : "the device's parity";
    const char *stops = Stops == 1   ? "1 stop bit"
                        : Stops == 2 ? "2 stop bits"
                                     : "the device's stop bits";
    say("line settings: %s, %s, %s, %s", speed, size, parity, stops);
}

void checknetwork()
{
    say("device: a network scanner at %s", portname);
    struct in_addr address;
    hostaddress(portname, &address);
    if (address.s_addr == INADDR_NONE)
        problem(ERROR, "address: %s is neither a known host nor a dotted address (S18)", portname);
    else
        say("address: %s", inet_ntoa(address));
    const char *service = socketport[0] != '\0' ? socketport : DEFAULT_SERVICE;
    int named = dialledport(service, 1);
    if (named < 0) {
        problem(ERROR, "service: entry %s missing in /etc/services (S14)", service);
        return;
    }
    if (isalpha(static_cast<unsigned char>(service[0])))
        say("service: %s, port %d in /etc/services", service, named);
    else
        say("service: port number %d", named);
    int dialled = dialledport(service, u2pc), other = dialledport(service, !u2pc);
    say("port dialled: %d (%s -p: %d)", dialled, u2pc ? "without" : "with", other);
    if (dialled != named)
        problem(WARNING,
                "port dialled: %d is port %d with its two bytes exchanged; start markfeed with -p "
                "to dial %d",
                dialled, named, named);
}

void checkdevice()
{
    say("device: %s", devicename);
    if (strlen(devicename) < 3)
        problem(ERROR, "device: -d names no device of three characters or more (S19)");
    else if (isnetworkdevice(devicename))
        checknetwork();
    else
        checkserial();
    if (isnetworkdevice(devicename))
        say("line settings: not used on a network link");
    else
        checklinesettings();
}

void checklog()
{
    const char *value = getenv(LOG_VARIABLE);
    int facility;
    int setting = logsetting(value, &facility);
    if (setting == LOG_SETTING_OFF)
        say("system log: off (%s=%s)", LOG_VARIABLE, value);
    else if (setting == LOG_SETTING_ON)
        say("system log: facility %s", facilityname(facility));
    else
        problem(WARNING,
                "system log: %s=%s is not off, user, daemon or local0 to local7; the log goes to "
                "user",
                LOG_VARIABLE, value);
}

// The options as a run reads them; 0 when they were refused.
int readrun(int argc, char **argv, Overrides *overrides)
{
    if (argc < 3) {
        problem(ERROR, "options: none; markfeed without arguments shows the usage screen (99)");
        return 0;
    }
    if (asksforhelp(argc, argv)) {
        problem(ERROR, "options: --help shows the usage screen (99)");
        return 0;
    }
    char letter = 0;
    int refusal = readoptions(argc, argv, overrides, &letter);
    if (refusal == 0)
        refusal = buildpaths(&letter);
    if (refusal == REFUSE_TOO_LONG)
        problem(ERROR, "options: the value of option -%c is too long (S48)", letter);
    else if (refusal == REFUSE_NO_VALUE)
        problem(ERROR, "options: option -%c needs a value (S49)", letter);
    return refusal == 0;
}

}  // namespace

int checkstation(int argc, char **argv)
{
    Overrides overrides;
    if (readrun(argc, argv, &overrides)) {
        checklock();
        checkdata();
        checktrace();
        checkconfig(overrides);
        checkforms();
        checkdevice();
    }
    checklog();
    say("result: %d error%s, %d warning%s; %s", errors, errors == 1 ? "" : "s", warnings,
        warnings == 1 ? "" : "s", errors ? "a run would end with 88" : "a run could start");
    fflush(stdout);
    return errors ? 88 : 0;
}
