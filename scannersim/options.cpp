#include "scannersim/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace scannersim {

namespace {

constexpr size_t MAX_DECK_BYTES = 16 * 1024 * 1024;

const char USAGE[] = "usage: scannersim [options]\n"
                     "Plays an optical mark-reading sheet scanner on a pseudo-terminal or a\n"
                     "loopback TCP port. Prints the device or port, then \"ready\".\n"
                     "SIGHUP reads the --deck file again and loads it into the hopper.\n"
                     "\n"
                     "link:\n"
                     "  --pty                  serve a new pseudo-terminal (default)\n"
                     "  --link PATH            make PATH a symbolic link to the pty slave\n"
                     "  --tcp PORT             serve 127.0.0.1:PORT instead (0: any free port)\n"
                     "  --line SPEED:SIZE PARITY STOPS   own line settings, e.g. 19200:7O2\n"
                     "  --line-file PATH       line settings the host asked for, as written by\n"
                     "                         the line recorder (wins over the pty's view)\n"
                     "  --cfg FILE             control codes from a port configuration file\n"
                     "scanner:\n"
                     "  --mode X               mode letter at start: w, d, t or i (default w)\n"
                     "  --handshake A|I|N      handshake character (N: none)\n"
                     "  --refuse-mode LETTERS  ignore changes into these modes\n"
                     "  --loaded               a form definition is loaded at start\n"
                     "  --refuse STEP          answer a refusal to STEP (repeatable)\n"
                     "  --no-reply STEP        stay silent at STEP (repeatable)\n"
                     "                         STEP: clearmem, definition, runtime, start\n"
                     "  --busy N               the first N download status answers say busy\n"
                     "  --deck FILE            sheets and conditions in the input hopper\n"
                     "  --at-print             a sheet stands at the print position at start\n"
                     "answers:\n"
                     "  --compress             run-length compress answers\n"
                     "  --pace                 send and receive at the line's character rate\n"
                     "  --reply-delay MS       wait before each answer\n"
                     "  --char-gap MS          wait between answer characters\n"
                     "  --drop-after N         hang up after the N-th byte received\n"
                     "output:\n"
                     "  --transcript FILE      every frame received and answer sent\n"
                     "  --sheets FILE          one line per sheet leaving the print position\n"
                     "  --save-dir DIR         write received.dlf and received.rtp there\n"
                     "  --help                 this text\n"
                     "  --version              the program's version\n";

// The long options' values; below the range of any character.
enum Opt {
    PTY = 256,
    LINK,
    TCP,
    LINE,
    LINE_FILE,
    CFG,
    MODE,
    HANDSHAKE,
    REFUSE_MODE,
    LOADED,
    REFUSE,
    NO_REPLY,
    BUSY,
    DECK,
    AT_PRINT,
    COMPRESS,
    PACE,
    REPLY_DELAY,
    CHAR_GAP,
    DROP_AFTER,
    TRANSCRIPT,
    SHEETS,
    SAVE_DIR,
    HELP,
    VERSION,
};

const struct option LONG_OPTIONS[] = {
    {"pty", no_argument, nullptr, PTY},
    {"link", required_argument, nullptr, LINK},
    {"tcp", required_argument, nullptr, TCP},
    {"line", required_argument, nullptr, LINE},
    {"line-file", required_argument, nullptr, LINE_FILE},
    {"cfg", required_argument, nullptr, CFG},
    {"mode", required_argument, nullptr, MODE},
    {"handshake", required_argument, nullptr, HANDSHAKE},
    {"refuse-mode", required_argument, nullptr, REFUSE_MODE},
    {"loaded", no_argument, nullptr, LOADED},
    {"refuse", required_argument, nullptr, REFUSE},
    {"no-reply", required_argument, nullptr, NO_REPLY},
    {"busy", required_argument, nullptr, BUSY},
    {"deck", required_argument, nullptr, DECK},
    {"at-print", no_argument, nullptr, AT_PRINT},
    {"compress", no_argument, nullptr, COMPRESS},
    {"pace", no_argument, nullptr, PACE},
    {"reply-delay", required_argument, nullptr, REPLY_DELAY},
    {"char-gap", required_argument, nullptr, CHAR_GAP},
    {"drop-after", required_argument, nullptr, DROP_AFTER},
    {"transcript", required_argument, nullptr, TRANSCRIPT},
    {"sheets", required_argument, nullptr, SHEETS},
    {"save-dir", required_argument, nullptr, SAVE_DIR},
    {"help", no_argument, nullptr, HELP},
    {"version", no_argument, nullptr, VERSION},
    {nullptr, 0, nullptr, 0},
};

bool parseCount(const std::string &text, long max, long *out)
{
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > max)
        return false;
    *out = value;
    return true;
}

bool parseStep(const std::string &text, int *step)
{
    const char *names[STEP_COUNT] = {"clearmem", "definition", "runtime", "start"};
    for (int i = 0; i < STEP_COUNT; ++i) {
        if (text == names[i]) {
            *step = i;
            return true;
        }
    }
    return false;
}

std::string optionName(int value)
{
    for (const struct option &o : LONG_OPTIONS)
        if (o.name != nullptr && o.val == value)
            return std::string("--") + o.name;
    return std::string("-") + char(value);
}

// The long options that start with the name given (up to any '=').
int prefixMatches(const std::string &arg)
{
    std::string name = arg.substr(2, arg.find('=') - 2);
    int count = 0;
    for (const struct option &o : LONG_OPTIONS)
        if (o.name != nullptr && std::string(o.name).compare(0, name.size(), name) == 0)
            ++count;
    return count;
}

// What getopt_long refused, worded as glibc words it.
std::string refusal(int result, int bad, const char *arg)
{
    std::string text = arg != nullptr ? arg : "";
    if (result == ':')
        return "option '" + optionName(bad) + "' requires an argument";
    if (bad >= PTY)
        return "option '" + optionName(bad) + "' doesn't allow an argument";
    if (bad != 0)
        return std::string("invalid option -- '") + char(bad) + "'";
    if (text.compare(0, 2, "--") == 0 && prefixMatches(text) > 1)
        return "option '" + text.substr(0, text.find('=')) + "' is ambiguous";
    return "unrecognized option '" + text + "'";
}

std::string flag(int opt, Options *o)
{
    switch (opt) {
    case PTY: o->transport = Transport::Pty; break;
    case LOADED: o->loaded = true; break;
    case AT_PRINT: o->atPrint = true; break;
    case COMPRESS: o->compress = true; break;
    case PACE: o->pace = true; break;
    default: return "unhandled option";
    }
    return "";
}

std::string linkValue(int opt, const std::string &v, Options *o)
{
    long n = 0;
    std::string error;
    switch (opt) {
    case TCP:
        if (!parseCount(v, 65535, &n))
            return "bad port '" + v + "'";
        o->transport = Transport::Tcp;
        o->tcpPort = int(n);
        return "";
    case LINK: o->link = v; return "";
    case LINE: return parseLineSpec(v, &o->line) ? "" : "bad line settings '" + v + "'";
    case LINE_FILE: o->lineFile = v; return "";
    case CFG: return readCodesFile(v, &o->codes, &error) ? "" : error;
    default: return "unhandled option";
    }
}

std::string scannerValue(int opt, const std::string &v, Options *o)
{
    long n = 0;
    int step = 0;
    std::string error;
    switch (opt) {
    case MODE:
        if (v.size() != 1 || std::strchr("wdti", v[0]) == nullptr)
            return "unknown mode '" + v + "' (w, d, t or i)";
        o->mode = v[0];
        return "";
    case HANDSHAKE:
        if (v != "A" && v != "I" && v != "N")
            return "bad handshake '" + v + "' (A, I or N)";
        o->handshake = v == "N" ? '0' : v[0];
        return "";
    case REFUSE_MODE: o->refuseModes = v; return "";
    case REFUSE:
    case NO_REPLY:
        if (!parseStep(v, &step))
            return "bad step '" + v + "' (clearmem, definition, runtime or start)";
        (opt == REFUSE ? o->refuse : o->noReply)[step] = true;
        return "";
    case BUSY:
        if (!parseCount(v, INT_MAX, &n))
            return "bad count '" + v + "'";
        o->busy = int(n);
        return "";
    case DECK:
        if (!loadDeckFile(v, &o->deck, &error))
            return error;
        o->deckFile = v;
        return "";
    default: return "unhandled option";
    }
}

std::string answerValue(int opt, const std::string &v, Options *o)
{
    long n = 0;
    switch (opt) {
    case REPLY_DELAY:
    case CHAR_GAP:
        if (!parseCount(v, 600000, &n))
            return "bad milliseconds '" + v + "'";
        (opt == REPLY_DELAY ? o->replyDelayMs : o->charGapMs) = int(n);
        return "";
    case DROP_AFTER:
        if (!parseCount(v, LONG_MAX, &n) || n == 0)
            return "bad count '" + v + "'";
        o->dropAfter = n;
        return "";
    case TRANSCRIPT: o->transcriptFile = v; return "";
    case SHEETS: o->sheetsFile = v; return "";
    case SAVE_DIR: o->saveDir = v; return "";
    default: return "unhandled option";
    }
}

// Returns "" when the option was taken, else the reason it was not.
std::string takeOption(int opt, const char *value, Options *o)
{
    if (value == nullptr)
        return flag(opt, o);
    std::string v = value;
    if (opt <= CFG)
        return linkValue(opt, v, o);
    if (opt <= DECK)
        return scannerValue(opt, v, o);
    return answerValue(opt, v, o);
}

}  // namespace

ParseResult parseCommandLine(int argc, char **argv, Options *options, std::string *error)
{
    // A copy, because getopt_long reorders what it is given.
    std::vector<char *> args(argv, argv + argc);
    args.push_back(nullptr);
    opterr = 0;
    optind = 0;  // glibc: start afresh, whatever an earlier parse left
    for (;;) {
        int opt = getopt_long(argc, args.data(), ":h", LONG_OPTIONS, nullptr);
        if (opt == -1)
            break;
        if (opt == 'h' || opt == HELP)
            return ParseResult::Help;
        if (opt == VERSION)
            return ParseResult::Version;
        if (opt == '?' || opt == ':') {
            // glibc has stepped past the argument it refused.
            *error = refusal(opt, optopt, optind > 0 ? args[size_t(optind - 1)] : nullptr);
            return ParseResult::Error;
        }
        std::string why = takeOption(opt, optarg, options);
        if (!why.empty()) {
            *error = why;
            return ParseResult::Error;
        }
    }
    if (optind < argc) {
        *error = std::string("unexpected argument '") + args[size_t(optind)] + "'";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

const char *usageText()
{
    return USAGE;
}

namespace {

// What a deck that is not a file is, for the message.
const char *kindOf(mode_t mode)
{
    return S_ISDIR(mode)    ? "a directory"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
                            : "a device";
}

// Up to MAX_DECK_BYTES + 1 bytes of fd into *text; false on a read error.
bool readAll(int fd, std::string *text)
{
    text->assign(MAX_DECK_BYTES + 1, '\0');
    size_t got = 0;
    while (got < text->size()) {
        ssize_t n = ::read(fd, &(*text)[got], text->size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    text->resize(got);
    return true;
}

}  // namespace

bool loadDeckFile(const std::string &path, std::vector<DeckEntry> *deck, std::string *error)
{
    // Never a blocking open: a FIFO would hold the program in it, deaf to
    // SIGTERM, which only the main loop's sigwait takes.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        *error = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *error = path + ": is " + kindOf(info.st_mode) + ", not a deck file";
    } else {
        std::string text;
        if (!readAll(fd, &text))
            *error = path + ": read failed";
        else if (text.size() > MAX_DECK_BYTES)
            *error = path + ": deck too large";
        else if (!parseDeck(text, deck, error))
            *error = path + ": " + *error;
        else
            error->clear();
    }
    if (fd >= 0)
        ::close(fd);
    return error->empty();
}

}  // namespace scannersim
