#include "markfeed/operator.h"

#include <curses.h>
#include <fcntl.h>
#include <sys/select.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "markfeed/journal.h"
#include "markfeed/runsettings.h"
#include "markfeed/safefile.h"

namespace {

constexpr int LINE_WIDTH = 79;
constexpr int WORK_SIZE = 120;

// How the keyboard was set up, so goodbye can give it back.
enum KeyboardMode { KEYS_AS_THEY_COME, KEYS_BY_CURSES, KEYS_BY_TERMIOS };
KeyboardMode keyboard = KEYS_AS_THEY_COME;
struct termios keyboardsaved;

FILE *Debugoutput;  // scantest.log; null until opened

// A message stands on the operator's row, the cursor back at its start.
bool messageshown;

volatile sig_atomic_t stopsignal;  // SIGINT, SIGTERM or SIGHUP came

void stophandler(int signum)
{
    stopsignal = signum;
}

bool cursesaccepts()
{
    if (!isatty(0) || !isatty(1))
        return false;
    // newterm, unlike initscr, reports an unknown terminal type instead of
    // printing an error and ending the process.
    SCREEN *screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr)
        return false;
    set_term(screen);
    return true;
}

int putbyte(int byte)
{
    return putchar(byte);
}

// A string capability of the terminal's entry, or null when it has none.
const char *capability(const char *name)
{
    const char *cap = tigetstr(name);
    return cap == reinterpret_cast<const char *>(-1) ? nullptr : cap;
}

// Sends a capability to curses' terminal (standard output).
void sendcap(const char *cap)
{
    if (cap == nullptr)
        return;
    tputs(cap, 1, putbyte);
    fflush(stdout);
}

// Saves the cursor's place: the capability that puts it back, or null
// when the entry cannot do both.
const char *savecursor()
{
    const char *save = capability("sc"), *restore = capability("rc");
    if (save == nullptr || restore == nullptr)
        return nullptr;
    sendcap(save);
    return restore;
}

// curses' start-up switches most terminals to their alternate screen, which
// would take the usage screen and every message with it at the end, and
// sets a scrolling region, which homes the cursor. It has gone out by now
// (keypad mode flushes it): one switch back undoes the first, the cursor
// saved before it the second, and with both switches gone from the entry
// neither endwin nor a resumed curses sends one again.
void keepscreen(const char *restore)
{
    sendcap(capability("rmcup"));
    sendcap(restore);
    enter_ca_mode = nullptr;
    exit_ca_mode = nullptr;
}

// One key from standard input, or -1 when input has ended (*ended set) or
// a stop signal came.
int readkey(bool *ended)
{
    unsigned char key;
    *ended = false;
    while (!stopsignal) {
        ssize_t got = read(0, &key, 1);
        if (got == 1)
            return key;
        if (got < 0 && errno == EINTR)
            continue;
        *ended = got == 0 || errno == EBADF;
        return -1;
    }
    return -1;
}

double seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Input has ended: the rest of the wait passes as if nobody pressed a key,
// so that a loop around the wait keeps its pace.
int nokey(double start, int total)
{
    double left;
    while (!stopsignal && (left = start + total - seconds()) > 0) {
        struct timespec pause;
        pause.tv_sec = static_cast<time_t>(left);
        pause.tv_nsec = static_cast<long>((left - static_cast<double>(pause.tv_sec)) * 1e9);
        nanosleep(&pause, nullptr);
    }
    return 0;
}

}  // namespace

// g++ names AddressSanitizer with a macro, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LEAK_CHECKED 1
#endif
#endif

#if defined(LEAK_CHECKED)
// ncurses keeps what newterm allocated for a terminal type it refused; it is
// not ours to free, and a leak report would change the exit status.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libtinfo\nleak:libncurses\n";
}
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}
#endif

void setupterminal()
{
    if (cursesaccepts()) {
        // Ahead of the start-up, which waits in curses' buffer.
        const char *restore = savecursor();
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        keepscreen(restore);
        keyboard = KEYS_BY_CURSES;
        return;
    }
    if (isatty(0) && tcgetattr(0, &keyboardsaved) == 0) {
        struct termios keys = keyboardsaved;
        keys.c_lflag &= ~(ICANON | ECHO);
        keys.c_iflag &= ~(ICRNL | INLCR | IGNCR);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        if (tcsetattr(0, TCSANOW, &keys) == 0)
            keyboard = KEYS_BY_TERMIOS;
    }
}

int opentrace(const char *path)
{
    // Why a trace was refused cannot go into the trace: S42 says it all.
    const char *reason;
    int fd = opensafely(path, O_WRONLY | O_CREAT, ALLOW_DEVICE, &reason);
    if (fd < 0)
        return fd;
    cutback(fd, 0);
    Debugoutput = fdopen(fd, "w");
    if (Debugoutput != nullptr)
        return 1;
    close(fd);
    return SAFE_FAILED;
}

void trace(const char *format, ...)
{
    if (!debugflag || Debugoutput == nullptr)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(Debugoutput, format, args);
    va_end(args);
}

int showmsg(const char *text, int wait)
{
    trace("\nShowmsg:  %s", text);
    journalshown(text);
    int length = static_cast<int>(strnlen(text, WORK_SIZE));
    int indent = (82 - length) / 2;
    if (indent < 0)
        indent = 1;
    char line[WORK_SIZE];
    memset(line, ' ', sizeof line);
    int room = WORK_SIZE - indent;
    memcpy(line + indent, text, length < room ? length : room);
    fwrite(line, 1, LINE_WIDTH, stderr);
    int key = 0;
    if (wait == 1) {
        fflush(stderr);
        bool ended;
        key = readkey(&ended);
    }
    fputs("\r", stderr);
    fflush(stderr);
    messageshown = true;
    return key;
}

int showmsgf(int wait, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vformatmsg(format, args);
    va_end(args);
    return showmsg(msg, wait);
}

int GetKey(int seconds)
{
    trace("\nFunction call to GetKey().");
    int total = withdelay(seconds);
    if (total < 0 || stopsignal)
        return -1;
    double start = ::seconds();
    fd_set keys;
    FD_ZERO(&keys);
    FD_SET(0, &keys);
    struct timeval limit = {total, 0};
    int ready = select(1, &keys, nullptr, nullptr, &limit);
    if (ready < 0)
        return errno == EBADF ? nokey(start, total) : -1;
    if (ready == 0)
        return 0;
    bool ended;
    int key = readkey(&ended);
    if (ended)
        return nokey(start, total);
    // Every wait for a key alone offers <ESCAPE> to quit.
    if (key == ESCAPE_KEY)
        journalescape();
    return key;
}

int pollkey()
{
    if (!isatty(0))
        return 0;
    fd_set keys;
    FD_ZERO(&keys);
    FD_SET(0, &keys);
    struct timeval now = {0, 0};
    if (select(1, &keys, nullptr, nullptr, &now) <= 0)
        return 0;
    bool ended;
    int key = readkey(&ended);
    if (key == ESCAPE_KEY)
        journalescape();
    return key < 0 ? 0 : key;
}

void catchstopsignals()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = stophandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait must come back
    for (int signum : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signum, &action, nullptr);
}

int stoprequested()
{
    return stopsignal != 0;
}

void restoreterminal()
{
    // The shell's prompt must not overwrite the last message.
    if (messageshown && isatty(2)) {
        fputs("\n", stderr);
        fflush(stderr);
    }
    if (keyboard == KEYS_BY_CURSES) {
        // endwin moves the cursor to the screen's last row, far below the
        // messages on a screen that is not full: it is put back after it.
        const char *restore = savecursor();
        endwin();
        sendcap(restore);
    } else if (keyboard == KEYS_BY_TERMIOS)
        tcsetattr(0, TCSANOW, &keyboardsaved);
}
