#include "operator.h"

#include <curses.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runsettings.h"

namespace {

constexpr int LINE_WIDTH = 79;
constexpr int WORK_SIZE = 120;

// How the keyboard was set up, so goodbye can give it back.
enum KeyboardMode { KEYS_AS_THEY_COME, KEYS_BY_CURSES, KEYS_BY_TERMIOS };
KeyboardMode keyboard = KEYS_AS_THEY_COME;
struct termios keyboardsaved;

FILE *Debugoutput;  // scantest.log; null until opened

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

int readkey()
{
    unsigned char key;
    for (;;) {
        ssize_t got = read(0, &key, 1);
        if (got == 1)
            return key;
        if (got < 0 && errno == EINTR)
            continue;
        return -1;
    }
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
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
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
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
    Debugoutput = fopen(path, "w");
    return Debugoutput != nullptr;
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
        key = readkey();
    }
    fputs("\r", stderr);
    fflush(stderr);
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
    int total = seconds + DlDelay;
    if (total < 0)
        return -1;
    fd_set keys;
    FD_ZERO(&keys);
    FD_SET(0, &keys);
    struct timeval limit = {total, 0};
    int ready = select(1, &keys, nullptr, nullptr, &limit);
    if (ready < 0)
        return -1;
    if (ready == 0)
        return 0;
    return readkey();
}

void restoreterminal()
{
    if (keyboard == KEYS_BY_CURSES)
        endwin();
    else if (keyboard == KEYS_BY_TERMIOS)
        tcsetattr(0, TCSANOW, &keyboardsaved);
}
