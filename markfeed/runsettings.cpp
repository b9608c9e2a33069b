#include "runsettings.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstring>

#include "operator.h"

char devicename[DEVICE_SIZE];
char portname[DEVICE_SIZE];
char socketport[SERVICE_SIZE];
char formlibtemp[NAME_SIZE];
char outputfiletemp[NAME_SIZE];
char pathname[NAME_SIZE];

int dmldatabase;
int debugflag;
int searching;
int testheads;
int cmode;
int u2pc;
int downloadreset;
int forcedownload;
int NoWait = 1;

char cfgname[NAME_SIZE];
char semname[NAME_SIZE];
char debugfilename[NAME_SIZE];
char outputfilename[NAME_SIZE];
char downloadname[NAME_SIZE];
char runtimename[NAME_SIZE];

char msg[MSG_SIZE];

FILE *Debugoutput;
FILE *Dataoutput;

void formatmsg(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(msg, sizeof msg, format, args);
    va_end(args);
}

void writedataline(const char *text)
{
    bool written = Dataoutput != nullptr && fputs(text, Dataoutput) >= 0 &&
                   fputs("\r\n", Dataoutput) >= 0 && fflush(Dataoutput) == 0;
    if (written)
        return;
    formatmsg("S50:  Unable to write file %s.  Press <ENTER>.", outputfilename);
    showmsg(msg, 1);
    goodbye(88);
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
