#include "scannersim/deck.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace scannersim {

namespace {

constexpr size_t MAX_RECORD = 64 * 1024;
constexpr double MAX_SECONDS = 24 * 3600;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isBlankLine(const std::string &line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

bool parseSeconds(const std::string &word, double *seconds)
{
    if (word.empty() || word.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char *end = nullptr;
    double value = std::strtod(word.c_str(), &end);
    if (end == nullptr || *end != '\0' || value > MAX_SECONDS)
        return false;
    *seconds = value;
    return true;
}

bool parseCode(const std::string &word, int low, int high, int *code)
{
    if (word.empty() || word.size() > 2 ||
        word.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int value = std::atoi(word.c_str());
    if (value < low || value > high)
        return false;
    *code = value;
    return true;
}

struct Directive {
    const char *name;
    EntryKind kind;
    int codeLow, codeHigh;  // 0,0 when the directive takes no code
};

const Directive DIRECTIVES[] = {
    {"empty", EntryKind::Empty, 0, 0},
    {"stopped", EntryKind::Stopped, 0, 0},
    {"jam", EntryKind::Jam, 0, 0},
    {"skew", EntryKind::Skew, 0, 0},
    {"multifeed", EntryKind::MultiFeed, 0, 0},
    {"readcheck", EntryKind::ReadCheck, 3, 6},
    {"notready", EntryKind::NotReady, 0, 0},
    {"formerror", EntryKind::FormError, 10, 16},
    {"delay", EntryKind::Delay, 0, 0},
};

// Parses "!word [CODE] [SECONDS]". On error returns the reason.
std::string parseDirective(const std::string &line, DeckEntry *entry)
{
    std::istringstream words(line.substr(1));
    std::string name, first, second, extra;
    words >> name >> first >> second >> extra;
    if (!extra.empty())
        return "too many words";
    if (name == "blank" || name == "lost") {
        if (!first.empty())
            return "!" + name + " takes nothing";
        entry->kind = EntryKind::Record;
        entry->lost = name == "lost";
        return "";
    }
    for (const Directive &d : DIRECTIVES) {
        if (name != d.name)
            continue;
        entry->kind = d.kind;
        std::string secondsWord = first;
        if (d.codeHigh != 0) {
            if (!parseCode(first, d.codeLow, d.codeHigh, &entry->code))
                return "!" + name + " needs a code " + std::to_string(d.codeLow) + "-" +
                       std::to_string(d.codeHigh);
            secondsWord = second;
        } else if (!second.empty()) {
            return "too many words";
        }
        if (!secondsWord.empty() && !parseSeconds(secondsWord, &entry->seconds))
            return "bad number of seconds '" + secondsWord + "'";
        if (d.kind == EntryKind::Delay && entry->seconds < 0)
            return "!delay needs seconds";
        return "";
    }
    return "unknown condition '!" + name + "'";
}

}  // namespace

bool unescapeRecord(const std::string &in, std::string *out)
{
    out->clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (out->size() >= MAX_RECORD)
            return false;
        char c = in[i];
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case 'r': out->push_back('\r'); break;
        case 'n': out->push_back('\n'); break;
        case '\\': out->push_back('\\'); break;
        case 'x': {
            if (i + 2 >= in.size())
                return false;
            int high = hexDigit(in[i + 1]);
            int low = hexDigit(in[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out->push_back(char(high * 16 + low));
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

bool parseDeck(const std::string &text, std::vector<DeckEntry> *entries, std::string *error)
{
    entries->clear();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#' || isBlankLine(line))
            continue;
        DeckEntry entry;
        entry.line = number;
        std::string why;
        if (line[0] == '!') {
            why = parseDirective(line, &entry);
        } else if (!unescapeRecord(line, &entry.record)) {
            why = "bad escape or record too long";
        }
        if (!why.empty()) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        entries->push_back(entry);
    }
    return true;
}

std::string quoteText(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(char(c));
        } else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out.append(buf);
        }
    }
    return out;
}

std::string hexBytes(const std::string &bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (!out.empty())
            out.push_back(' ');
        out.push_back(DIGITS[c >> 4]);
        out.push_back(DIGITS[c & 0x0F]);
    }
    return out;
}

bool isStanding(EntryKind kind)
{
    return kind == EntryKind::Empty || kind == EntryKind::Stopped;
}

std::string entryName(EntryKind kind)
{
    switch (kind) {
    case EntryKind::Record: return "record";
    case EntryKind::Empty: return "empty";
    case EntryKind::Stopped: return "stopped";
    case EntryKind::Jam: return "jam";
    case EntryKind::Skew: return "skew";
    case EntryKind::MultiFeed: return "multifeed";
    case EntryKind::ReadCheck: return "readcheck";
    case EntryKind::NotReady: return "notready";
    case EntryKind::FormError: return "formerror";
    case EntryKind::Delay: return "delay";
    }
    return "?";
}

}  // namespace scannersim
