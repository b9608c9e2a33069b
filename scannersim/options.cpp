#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace scannersim {

namespace {

constexpr std::streamsize kMaxDeckBytes = 16 * 1024 * 1024;

const char kUsage[] = "usage: scannersim [options]\n"
                      "Plays an optical mark-reading sheet scanner on a pseudo-terminal or a\n"
                      "loopback TCP port. Prints the device or port, then \"ready\".\n"
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
                      "  --mode X               mode letter at start (default w)\n"
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
                      "  --pace                 send at the line's own character rate\n"
                      "  --reply-delay MS       wait before each answer\n"
                      "  --char-gap MS          wait between answer characters\n"
                      "  --drop-after N         hang up after the N-th byte received\n"
                      "output:\n"
                      "  --transcript FILE      every frame received and answer sent\n"
                      "  --sheets FILE          one line per sheet leaving the print position\n"
                      "  --save-dir DIR         write received.dlf and received.rtp there\n"
                      "  --help                 this text\n";

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
    const char *names[kStepCount] = {"clearmem", "definition", "runtime", "start"};
    for (int i = 0; i < kStepCount; ++i) {
        if (text == names[i]) {
            *step = i;
            return true;
        }
    }
    return false;
}

bool readDeckFile(const std::string &path, std::vector<DeckEntry> *deck, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string text(size_t(kMaxDeckBytes) + 1, '\0');
    in.read(&text[0], kMaxDeckBytes + 1);
    if (in.gcount() > kMaxDeckBytes) {
        *error = path + ": deck too large";
        return false;
    }
    text.resize(size_t(in.gcount()));
    if (!parseDeck(text, deck, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

class ArgParser {
public:
    ArgParser(int argc, char **argv, Options *o) : argc_(argc), argv_(argv), o_(o) {}

    ParseResult run(std::string *error)
    {
        for (i_ = 1; i_ < argc_; ++i_) {
            std::string arg = argv_[i_];
            std::string value;
            bool hasValue = false;
            size_t eq = arg.find('=');
            if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasValue = true;
            }
            if (arg == "--help" || arg == "-h")
                return ParseResult::Help;
            std::string why = option(arg, hasValue, value);
            if (!why.empty()) {
                *error = why;
                return ParseResult::Error;
            }
        }
        return ParseResult::Run;
    }

private:
    bool takesNoValue(const std::string &arg) const
    {
        return arg == "--pty" || arg == "--loaded" || arg == "--at-print" || arg == "--compress" ||
               arg == "--pace";
    }

    // Returns "" when the option was taken, else the reason it was not.
    std::string option(const std::string &arg, bool hasValue, std::string value)
    {
        if (takesNoValue(arg)) {
            if (hasValue)
                return arg + " takes no value";
            return flag(arg);
        }
        if (!hasValue) {
            if (i_ + 1 >= argc_)
                return arg + " needs a value";
            value = argv_[++i_];
        }
        return valued(arg, value);
    }

    std::string flag(const std::string &arg)
    {
        if (arg == "--pty")
            o_->transport = Transport::Pty;
        if (arg == "--loaded")
            o_->loaded = true;
        if (arg == "--at-print")
            o_->atPrint = true;
        if (arg == "--compress")
            o_->compress = true;
        if (arg == "--pace")
            o_->pace = true;
        return "";
    }

    std::string valued(const std::string &arg, const std::string &v)
    {
        long n = 0;
        int step = 0;
        std::string error;
        if (arg == "--tcp") {
            if (!parseCount(v, 65535, &n))
                return "bad port '" + v + "'";
            o_->transport = Transport::Tcp;
            o_->tcpPort = int(n);
        } else if (arg == "--link") {
            o_->link = v;
        } else if (arg == "--line") {
            if (!parseLineSpec(v, &o_->line))
                return "bad line settings '" + v + "'";
        } else if (arg == "--line-file") {
            o_->lineFile = v;
        } else if (arg == "--cfg") {
            if (!readCodesFile(v, &o_->codes, &error))
                return error;
        } else if (arg == "--mode") {
            if (v.size() != 1)
                return "bad mode '" + v + "'";
            o_->mode = v[0];
        } else if (arg == "--handshake") {
            if (v != "A" && v != "I" && v != "N")
                return "bad handshake '" + v + "'";
            o_->handshake = v == "N" ? '0' : v[0];
        } else if (arg == "--refuse-mode") {
            o_->refuseModes = v;
        } else if (arg == "--refuse" || arg == "--no-reply") {
            if (!parseStep(v, &step))
                return "bad step '" + v + "'";
            (arg == "--refuse" ? o_->refuse : o_->noReply)[step] = true;
        } else if (arg == "--busy") {
            if (!parseCount(v, INT_MAX, &n))
                return "bad count '" + v + "'";
            o_->busy = int(n);
        } else if (arg == "--deck") {
            if (!readDeckFile(v, &o_->deck, &error))
                return error;
        } else if (arg == "--reply-delay" || arg == "--char-gap") {
            if (!parseCount(v, 600000, &n))
                return "bad milliseconds '" + v + "'";
            (arg == "--reply-delay" ? o_->replyDelayMs : o_->charGapMs) = int(n);
        } else if (arg == "--drop-after") {
            if (!parseCount(v, LONG_MAX, &n) || n == 0)
                return "bad count '" + v + "'";
            o_->dropAfter = n;
        } else if (arg == "--transcript") {
            o_->transcriptFile = v;
        } else if (arg == "--sheets") {
            o_->sheetsFile = v;
        } else if (arg == "--save-dir") {
            o_->saveDir = v;
        } else {
            return "unknown option '" + arg + "'";
        }
        return "";
    }

    int argc_;
    char **argv_;
    Options *o_;
    int i_ = 1;
};

}  // namespace

ParseResult parseCommandLine(int argc, char **argv, Options *options, std::string *error)
{
    ArgParser parser(argc, argv, options);
    return parser.run(error);
}

const char *usageText()
{
    return kUsage;
}

}  // namespace scannersim
