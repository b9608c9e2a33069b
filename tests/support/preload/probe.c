// A tiny program for the preload tests: it does what a station program
// does to its device, so the preloads can be watched at work.
//   probe tcsetattr PATH BAUD SIZE PARITY STOPS
//   probe open PATH      (with a 1-second alarm, as the open guard)
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t alarmed;

static void on_alarm(int sig)
{
    (void)sig;
    alarmed = 1;
}

static speed_t speed_code(int baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 38400: return B38400;
    default: return B19200;
    }
}

static int set_line(const char *path, int baud, int size, char parity, int stops)
{
    struct termios t;
    int fd = open(path, O_RDWR | O_NOCTTY);
    int rc;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return 2;
    cfsetispeed(&t, speed_code(baud));
    cfsetospeed(&t, speed_code(baud));
    t.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= size == 7 ? CS7 : CS8;
    if (parity != 'N')
        t.c_cflag |= PARENB;
    if (parity == 'O')
        t.c_cflag |= PARODD;
    if (stops == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VTIME] = 30;  // something a pty can keep, so the call succeeds
    rc = tcsetattr(fd, TCSANOW, &t);
    printf("tcsetattr=%d\n", rc);
    close(fd);
    return 0;
}

static int guarded_open(const char *path)
{
    struct sigaction sa;
    int fd;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_alarm;  // no SA_RESTART: the open must give up
    sigaction(SIGALRM, &sa, NULL);
    alarm(1);
    fd = open(path, O_RDWR | O_NOCTTY);
    alarm(0);
    if (fd >= 0) {
        printf("open=ok\n");
        close(fd);
    } else {
        printf("open=-1 errno=%s alarmed=%d\n", errno == EINTR ? "EINTR" : "other", (int)alarmed);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 7 && strcmp(argv[1], "tcsetattr") == 0)
        return set_line(argv[2], atoi(argv[3]), atoi(argv[4]), argv[5][0], atoi(argv[6]));
    if (argc == 3 && strcmp(argv[1], "open") == 0)
        return guarded_open(argv[2]);
    fprintf(stderr, "usage: probe tcsetattr PATH BAUD SIZE PARITY STOPS | open PATH\n");
    return 2;
}
