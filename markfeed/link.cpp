#include "markfeed/link.h"
#include "markfeed/link_testing.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/file.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "markfeed/journal.h"
#include "markfeed/operator.h"
#include "markfeed/runsettings.h"

namespace {

// The others read it through the const Comm of link.h.
namespace own {
int Comm = -1;
}

struct termios Term;     // settings applied to the serial device
struct termios OldTerm;  // the device's settings before the change
int OldTermSaved;        // 1 once OldTerm holds the device's settings
int DeviceLock = -1;     // the serial device, open only to hold its flock
volatile sig_atomic_t AlarmFired;

constexpr int OPEN_GUARD_SECONDS = 4;
constexpr int READ_ATTEMPTS = 16;
constexpr long NETWORK_BAUD = 9600;
constexpr int LONGEST_CHARACTER = 12;  // start, 8 data, parity, 2 stop bits

// SIGALRM handler of the open guard. It no longer exits: it only records
// that it fired, so that the blocked open or connect comes back with EINTR
// and its caller shows S12.
void alarm_exit(int)
{
    AlarmFired = 1;
}

// Arms the open guard. No SA_RESTART: the blocked call must come back with
// EINTR instead of being resumed.
void armguard()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = alarm_exit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGALRM, &action, nullptr);
    AlarmFired = 0;
    alarm(OPEN_GUARD_SECONDS);
}

// Puts back the settings the line had before the first open, if any: a
// signal must not leave the line as it was set up.
void givebackline()
{
    while (OldTermSaved && tcsetattr(Comm, TCSANOW, &OldTerm) != 0 && errno == EINTR) {
    }
}

// Gives up a link that did not open: the line is closed at once (its saved
// settings given back, as at the end of the run); result passes through.
int failedopen(int result)
{
    closeline();
    return result;
}

// Cancels the guard. 0 when it fired (even just after the call
// succeeded): the scanner is not usable in time, and S12 has been shown.
int disarmguard()
{
    alarm(0);
    if (!AlarmFired)
        return 1;
    showmsg("S12:  Connection to scanner timed out.  Press <ENTER>.", 1);
    return 0;
}

void setupline(int baud, int size, int parity, int stops)
{
    if (baud != 0) {
        Term.c_cflag &= ~CBAUD;
        Term.c_cflag |= baud == 19200 ? B19200 : (baud == 38400 ? B38400 : B9600);
    }
    if (size != 0) {
        Term.c_cflag &= ~CSIZE;
        Term.c_cflag |= size == 7 ? CS7 : CS8;
    }
    if (parity == 1) {
        Term.c_cflag |= PARENB;
        Term.c_cflag &= ~PARODD;
    } else if (parity == 2) {
        Term.c_cflag |= PARENB | PARODD;
    } else if (parity == 3) {
        Term.c_cflag &= ~PARENB;
    }
    if (stops == 1)
        Term.c_cflag &= ~CSTOPB;
    else if (stops == 2)
        Term.c_cflag |= CSTOPB;
    Term.c_cflag |= CREAD;
    // ISIG off too: the line discipline would swallow the bytes 0x03, 0x1A
    // and 0x1C, which can be run-length counts inside a sheet record.
    Term.c_lflag |= NOFLSH;
    Term.c_lflag &= ~(ICANON | XCASE | ECHO | ISIG);
    Term.c_cc[VMIN] = 0;
    Term.c_cc[VTIME] = 30;
    Term.c_iflag |= IGNBRK;
    Term.c_iflag &= ~(BRKINT | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF);
    Term.c_oflag &= ~OPOST;
}

int openserial(int baud, int size, int parity, int stops)
{
    if (!lockdevice())
        return 0;
    armguard();
    // O_NOCTTY: a run started without a controlling terminal must not take
    // the scanner line as one (a hang-up would then end the run).
    int fd = open(devicename, O_RDWR | O_NOCTTY);
    if (!disarmguard()) {
        if (fd >= 0)
            close(fd);  // opened just as the guard fired: never the line
        return 0;
    }
    if (fd < 0 && stoprequested())
        return -1;
    own::Comm = fd;
    if (Comm < 0) {
        showmsgf(1, "S21:  Unable to open device %s.  Press <ENTER>.", devicename);
        return 0;
    }
    if (tcgetattr(Comm, &Term) != 0) {
        showmsgf(1, "S22:  Could not get term settings on %s [%d].  Press <ENTER>.", devicename,
                 errno);
        return failedopen(0);
    }
    // Saved once: the communication test opens the line for every trial,
    // and what is given back at the end is what the line had before the first.
    if (!OldTermSaved && tcgetattr(Comm, &OldTerm) != 0)
        showmsgf(1, "S23:  Could not get term settings on %s [%d].  Press <ENTER>.", devicename,
                 errno);
    else
        OldTermSaved = 1;
    setupline(baud, size, parity, stops);
    if (tcsetattr(Comm, TCSANOW, &Term) != 0)
        showmsgf(1, "S24:  Could not set term settings on %s [%d].  Press <ENTER>.", devicename,
                 errno);
    trace("\n\nPort Communication Settings");
    trace("\n===========================");
    checkio(&Term);
    return 1;
}

// The 16-bit port field as installed stations expect it, with and without
// -p, into *field; 0 when a service name has no entry. Without -p the field
// takes the number in this host's byte order, so a little-endian host
// reaches the port with its two bytes exchanged (5000 reaches 34835): the one
// place where markfeed depends on the host's byte order.
int portfield(const char *service, int p, uint16_t *field)
{
    // Neither order below is a slip, with -p or without: do not "fix" them.
    if (isalpha(static_cast<unsigned char>(service[0]))) {
        struct servent *entry = getservbyname(service, "tcp");
        if (entry == nullptr)
            return 0;
        uint16_t named = static_cast<uint16_t>(entry->s_port);
        *field = p ? named : htons(named);
        return 1;
    }
    uint16_t number = static_cast<uint16_t>(readnumber(service));
    *field = p ? htons(number) : number;
    return 1;
}

// The port field for socketport into *port; 0 after S14.
int serviceport(uint16_t *port)
{
    if (portfield(socketport, u2pc, port))
        return 1;
    showmsgf(1, "S14:  Entry %s missing in /etc/services file.  Press <ENTER>.", socketport);
    return 0;
}

// The message for a failed connect, by errno.
const char *connectfailure(int error)
{
    switch (error) {
    case ECONNREFUSED: return "S15:  Connection refused on %s port %s.  Press <ENTER>.";
    case ETIMEDOUT: return "S16:  Connection timed out on %s port %s.  Press <ENTER>.";
    case EISCONN: return "S17:  Already connected on %s port %s.  Press <ENTER>.";
    default: return "S18:  %s not responding on port %s.  Press <ENTER>.";
    }
}

// select on Comm for seconds + DlDelay, cut to what is left before the
// deadline: >0 input, 0 time-out (also once the deadline has passed), -1
// error.
int wait_socket(int seconds, long long deadline)
{
    int total = withdelay(seconds);
    if (total < 0 || Comm < 0 || Comm >= FD_SETSIZE)
        return -1;
    long long left = deadline - clockms();
    if (left <= 0)
        return 0;
    struct timeval limit = {total, 0};
    if (left < total * 1000LL)
        limit = {static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
    fd_set input;
    FD_ZERO(&input);
    FD_SET(Comm, &input);
    return select(Comm + 1, &input, nullptr, nullptr, &limit);
}

// The second between two read attempts, or what is left of it before the
// deadline; 0 when the deadline has passed.
int pausebefore(long long deadline)
{
    long long left = deadline - clockms();
    if (left <= 0)
        return 0;
    long long pause = left < 1000 ? left : 1000;
    struct timespec length = {static_cast<time_t>(pause / 1000),
                              static_cast<long>(pause % 1000 * 1000000)};
    nanosleep(&length, nullptr);
    return 1;
}

// The line's speed in bits per second; an unknown code counts as 9600, the
// slowest speed the scanner runs at.
long baudof(speed_t code)
{
    static const struct {
        speed_t code;
        long baud;
    } speeds[] = {{B50, 50},         {B75, 75},        {B110, 110},     {B134, 134},
                  {B150, 150},       {B200, 200},      {B300, 300},     {B600, 600},
                  {B1200, 1200},     {B1800, 1800},    {B2400, 2400},   {B4800, 4800},
                  {B9600, 9600},     {B19200, 19200},  {B38400, 38400}, {B57600, 57600},
                  {B115200, 115200}, {B230400, 230400}};
    for (const auto &speed : speeds)
        if (speed.code == code)
            return speed.baud;
    return NETWORK_BAUD;
}

int databits(tcflag_t flags)
{
    switch (flags & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

}  // namespace

// constexpr: bound before any code runs, whatever order the files start in.
constexpr const int &Comm = own::Comm;

void hostaddress(const char *name, struct in_addr *address)
{
    struct hostent *host = gethostbyname(name);
    if (host != nullptr && host->h_addr_list[0] != nullptr && host->h_length > 0) {
        size_t length = static_cast<size_t>(host->h_length);
        memcpy(address, host->h_addr_list[0], length < sizeof *address ? length : sizeof *address);
    } else {
        address->s_addr = inet_addr(name);
    }
}

int dialledport(const char *service, int p)
{
    uint16_t field;
    if (!portfield(service[0] != '\0' ? service : DEFAULT_SERVICE, p, &field))
        return -1;
    return ntohs(field);
}

int DlOpenComm(int baud, int size, int parity, int stops)
{
    trace("\nFunction call to DlOpenComm().");
    if (strlen(devicename) < 3) {
        showmsg("S19:  Invalid device specified with -d option.  Press <ENTER>.", 1);
        return 0;
    }
    if (isnetworkdevice(devicename))
        return EnableSocket();
    return openserial(baud, size, parity, stops);
}

int lockdevice()
{
    if (DeviceLock >= 0 || isnetworkdevice(devicename))
        return 1;
    // One device may have several names: the device itself is locked, as
    // serial tools lock it, on a descriptor that outlives the line's own
    // (the communication test closes the line between its trials).
    int fd = open(devicename, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return 1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        DeviceLock = fd;
        return 1;
    }
    bool busy = errno == EWOULDBLOCK;
    close(fd);
    if (!busy)
        return 1;
    showmsg("S46:  Scanner currently in use.  Press <ENTER>.", 1);
    return 0;
}

int EnableSocket()
{
    trace("\nFunction call to EnableSocket().");
    own::Comm = socket(AF_INET, SOCK_STREAM, 0);
    if (Comm < 0) {
        showmsg("S13:  Could not open tcp socket.  Press <ENTER>.", 1);
        showmsgf(1, "S20:  Unable to open socket %s.  Press <ENTER>.", devicename);
        return 0;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    hostaddress(portname, &address.sin_addr);
    usedefaultservice();
    if (!serviceport(&address.sin_port))
        return failedopen(0);

    armguard();
    int connected = connect(Comm, reinterpret_cast<struct sockaddr *>(&address), sizeof address);
    int error = errno;
    if (!disarmguard())
        return failedopen(0);
    if (connected != 0 && stoprequested())
        return failedopen(-1);
    if (connected != 0) {
        showmsgf(1, connectfailure(error), portname, socketport);
        return failedopen(0);
    }
    // The status request after a print frame must not wait for the frame's
    // acknowledgement (Nagle): bytes and their order stay the same.
    int nodelay = 1;
    if (setsockopt(Comm, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay) != 0)
        trace("\nUnable to set TCP_NODELAY:  %s", strerror(errno));
    showmsgf(0, "Connected to remote host %s.", portname);
    return 1;
}

int ReadChar(int seconds, long long deadline)
{
    if (wait_socket(seconds, deadline) <= 0)
        return -1;
    for (int attempt = 0; attempt < READ_ATTEMPTS; attempt++) {
        unsigned char byte;
        if (read(Comm, &byte, 1) == 1)
            return byte & 0x7F;
        if (stoprequested())
            return -1;
        if (!pausebefore(deadline))
            break;
    }
    // Input was there by select, yet every read up to the last attempt or
    // the deadline gave end of file or an error.
    journallinklost();
    return -1;
}

long long clockms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long linecharmicros()
{
    long baud = NETWORK_BAUD;
    int bits = LONGEST_CHARACTER;
    if (!isnetworkdevice(devicename)) {
        baud = baudof(cfgetospeed(&Term));
        tcflag_t flags = Term.c_cflag;
        bits = 1 + databits(flags) + ((flags & PARENB) ? 1 : 0) + ((flags & CSTOPB) ? 2 : 1);
    }
    return (bits * 1000000L + baud - 1) / baud;
}

void FlushComm(int fd)
{
    trace("\nFunction call to FlushComm().");
    if (fd < 0 || fd >= FD_SETSIZE)
        return;
    fd_set input;
    FD_ZERO(&input);
    FD_SET(fd, &input);
    struct timeval limit = {0, 250000};
    if (select(fd + 1, &input, nullptr, nullptr, &limit) > 0) {
        unsigned char dropped;
        if (read(fd, &dropped, 1) < 0)
            return;
    }
}

void checkio(const struct termios *settings)
{
    tcflag_t flags = settings->c_cflag;
    switch (flags & CBAUD) {
    case B9600: trace("\nBAUD: 9600"); break;
    case B19200: trace("\nBAUD: 19200"); break;
    case B38400: trace("\nBAUD: 38400"); break;
    default: break;
    }
    switch (flags & CSIZE) {
    case CS7: trace("\nSIZE: 7"); break;
    case CS8: trace("\nSIZE: 8"); break;
    default: trace("\nSIZE: ?"); break;
    }
    if ((flags & PARENB) && !(flags & PARODD))
        trace("\nPARITY: Even");
    else if ((flags & PARENB) && (flags & PARODD))
        trace("\nPARITY: Odd");
    else
        trace("\nPARITY: None");
    trace(flags & CSTOPB ? "\nSTOPS: 2" : "\nSTOPS: 1");
    trace("\n");
}

void linewrite(const void *data, int len)
{
    const char *next = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t sent = write(Comm, next, static_cast<size_t>(len));
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return;
        next += sent;
        len -= static_cast<int>(sent);
    }
}

int isnetworkdevice(const char *device)
{
    return strncmp(device, "/net", 4) == 0;
}

void restoreline()
{
    givebackline();
    trace("\n\nResetting Scanner Port To Default Settings");
    trace("\n==========================================");
    checkio(&OldTerm);
}

void closeline()
{
    // The line is given back between trials too: after the last failed
    // trial there is no descriptor left to give it back through.
    givebackline();
    close(Comm);
    own::Comm = -1;
}

void attachline(int fd)
{
    own::Comm = fd;
}
