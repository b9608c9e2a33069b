// The random fault soak: many batches of markfeed against scannersim, each
// with faults drawn at random from a seed, and after each batch the
// station's promises checked. The seed is printed; SOAK_SEED sets it,
// SOAK_BATCHES the number of batches, SOAK_WORKERS how many run at once,
// and SOAK_BATCH=N (or N,M,...) runs those batches of the seed alone and
// shows what each did (the moments of kills and signals are times, so a
// rerun is close to, not exactly, the first).
//
// What each batch must show:
// - a run the soak did not kill ends with 0, 88 or 99, and with 99 when a
//   stop signal came while it would have gone on (a run already on its way
//   out keeps its status); it ends within a bound made of its faults' own
//   times and the soak operator's patience, or shows what it was doing;
// - the data output file is whole lines of 1218 characters and CR LF: the
//   line of every sheet the scanner stamped, in order, each once with the
//   stamp the sheet bears. One more line, of the last sheet fed and not
//   stamped, is right only when the run died or its link dropped between
//   the line and the stamp: the line is written first so that a stamp never
//   lacks its line, and so the reverse can happen;
// - the serial line's settings are given back; no descriptor, child, lock
//   or file is left behind.
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/lines.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"

using namespace support;
using scannersim::DeckEntry;
using scannersim::EntryKind;

namespace {

const char prompt[] = "Scanner hopper empty.  Load forms or <ESCAPE> to quit.";
constexpr size_t LINE = 1220;

long envNumber(const char *name, long fallback)
{
    const char *text = getenv(name);
    return text != nullptr && text[0] != '\0' ? std::atol(text) : fallback;
}

// How the data output file can run full here: a small tmpfs in a mount
// namespace of the soak's own, or, where that cannot be had, a file size
// limit through prlimit.
enum class Full { Tmpfs, SizeLimit, None };

Full fullFileSystems()
{
    if (unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
        return Full::Tmpfs;
    return access("/usr/bin/prlimit", X_OK) == 0 ? Full::SizeLimit : Full::None;
}

// The children of every thread of a process.
Strings children(const std::string &proc)
{
    Strings pids;
    for (const std::string &task : listDir(proc + "/task")) {
        std::string list = readFile(proc + "/task/" + task + "/children");
        for (size_t at = 0, end; (end = list.find(' ', at)) != std::string::npos; at = end + 1)
            pids.push_back(list.substr(at, end - at));
    }
    return pids;
}

// One sheet the soak puts into the hopper, with what its stamp would say.
struct Paper {
    std::string record;
    long voucher = 0;
    int dataset = 0;
};

struct Scenario {
    unsigned index = 0;
    scannersim::Options scanner;  // the link, its pace and faults, the deck
    bool tcp = false, mismatch = false, keys = false;
    bool trace = false, continuous = false, noWait = false, alignment = false;
    int dataset = 0;  // -m
    double killAt = -1, stopAt = -1;
    int stopSignal = SIGTERM;
    int fullPages = 0;  // the data output file's file system, in pages (0: the station's own)
    bool filler = false;
    double patience = 4;
    int conditions = 0;
    double timed = 0;                     // seconds of timed conditions and delays in the deck
    std::map<std::string, Paper> papers;  // by record
    Strings faults;                       // drawn, for the tally
    std::string text;                     // for the log

    void note(const std::string &fault, const std::string &shown)
    {
        faults.push_back(fault);
        text += " " + shown;
    }
};

class Draw {
public:
    explicit Draw(uint64_t seed) : rng_(seed) {}
    double real(double low, double high)
    {
        return std::uniform_real_distribution<>(low, high)(rng_);
    }
    long number(long low, long high)
    {
        return std::uniform_int_distribution<long>(low, high)(rng_);
    }
    bool chance(double p) { return real(0, 1) < p; }
    template <typename T>
    const T &pick(const std::vector<T> &list)
    {
        return list[size_t(number(0, long(list.size()) - 1))];
    }

private:
    std::mt19937_64 rng_;
};

template <typename... Values>
std::string printed(const char *format, Values... values)
{
    char text[32];
    snprintf(text, sizeof text, format, values...);
    return text;
}

// A sheet markfeed accepts: any document, its checksum right or left blank.
Paper goodSheet(Draw &draw, int dataset, unsigned seed)
{
    const Layout &row = draw.pick(layouts());
    Paper paper;
    paper.voucher = draw.number(0, 9999999);
    paper.dataset = dataset;
    std::string checksum =
        draw.chance(0.3) ? "00" : printed("%02d", __builtin_popcountl(paper.voucher));
    paper.record = sheetRecord(row.document, printed("%07ld", paper.voucher),
                               printed("%0*d", row.datasetwidth, dataset), checksum, seed);
    return paper;
}

std::string garbage(Draw &draw, size_t length)
{
    std::string bytes(length, ' ');
    for (char &c : bytes)
        c = char(draw.number(0, 255));
    return bytes;
}

// A sheet the station must not accept, or one that upsets the exchange.
std::string badSheet(Draw &draw, int dataset, unsigned seed, std::string *kind)
{
    const Layout &row = draw.pick(layouts());
    std::string set = printed("%0*d", row.datasetwidth, dataset);
    // Half as often as the others: it ends the batch at once.
    switch (draw.number(0, 14) / 2) {
    case 0:
        *kind = "unknown document";
        return sheetRecord(7, "0000001", set, "00", seed, 1038, "07");
    case 1:
        *kind = "wrong length";
        return sheetRecord(row.document, "0000002", set, "00", seed,
                           row.length + int(draw.number(1, 40)) * (draw.chance(0.5) ? 1 : -1));
    case 2:
        *kind = "over-long record";
        return sheetRecord(row.document, "0000003", set, "00", seed, int(draw.number(1250, 1400)));
    case 3:
        *kind = "wrong dataset";
        return sheetRecord(row.document, "0000004", printed("%0*d", row.datasetwidth, dataset + 1),
                           "00", seed);
    case 4: *kind = "wrong checksum"; return sheetRecord(row.document, "0000007", set, "02", seed);
    case 5: *kind = "garbage record"; return garbage(draw, size_t(draw.number(0, 1300)));
    case 6: *kind = "blank record"; return "";
    default: {
        // Two answers where one was asked for: the next status reads the rest.
        *kind = "record with CR LF inside";
        std::string record = sheetRecord(row.document, "0000005", set, "00", seed);
        return record.insert(size_t(draw.number(1, long(record.size()) - 1)), "\r\n");
    }
    }
}

DeckEntry drawCondition(Draw &draw, Scenario &s)
{
    static const std::vector<std::pair<EntryKind, const char *>> kinds = {
        {EntryKind::Jam, "jam"},
        {EntryKind::Skew, "skew"},
        {EntryKind::MultiFeed, "multiple feed"},
        {EntryKind::ReadCheck, "read check"},
        {EntryKind::NotReady, "not ready"},
        {EntryKind::Stopped, "stopped"},
        {EntryKind::Empty, "empty hopper"},
        {EntryKind::FormError, "form error"},
        {EntryKind::Delay, "slow feed"},
    };
    const auto &kind = draw.pick(kinds);
    bool delay = kind.first == EntryKind::Delay;
    bool lasting = !delay && draw.chance(0.35);
    DeckEntry entry = condition(kind.first, lasting ? -1 : draw.real(0.3, delay ? 7 : 6));
    entry.code =
        kind.first == EntryKind::ReadCheck ? int(draw.number(3, 6)) : int(draw.number(10, 16));
    s.conditions++;
    s.timed += std::max(0.0, entry.seconds);
    s.note(std::string(kind.second) + (lasting ? " until Start" : ""),
           std::string(kind.second) + (lasting ? "!" : " " + printed("%.1f", entry.seconds) + "s"));
    return entry;
}

// The link, the scanner's pace and the station's options.
void drawSetting(Draw &d, Scenario &s)
{
    scannersim::Options &o = s.scanner;
    s.tcp = d.chance(0.3);
    o.transport = s.tcp ? scannersim::Transport::Tcp : scannersim::Transport::Pty;
    o.compress = d.chance(0.3);
    o.pace = d.chance(0.15);
    if (o.pace)
        o.line.baud = 38400;
    s.mismatch = !s.tcp && !o.pace && d.chance(0.04);
    s.keys = d.chance(0.4);
    s.trace = d.chance(0.5);
    o.atPrint = d.chance(0.05);
    s.continuous = d.chance(0.1);
    s.noWait = d.chance(0.1);
    s.alignment = d.chance(0.05);
    s.dataset = d.chance(0.5) ? 12 : 0;
    s.patience = d.real(3.5, 7);
    s.text = s.tcp ? "tcp" : "pty";
    for (auto flag : {std::make_pair(o.compress, " compress"), std::make_pair(o.pace, " paced"),
                      std::make_pair(s.keys, " keys"), std::make_pair(s.trace, " -x"),
                      std::make_pair(s.continuous, " -c"), std::make_pair(s.alignment, " -t"),
                      std::make_pair(s.noWait, " nowait"), std::make_pair(o.atPrint, " at-print")})
        if (flag.first)
            s.text += flag.second;
}

// Faults of the line, the process and the file system; the number of
// sheets, since a full file system needs lines enough to fill it.
int drawFaults(Draw &d, Scenario &s, Full full)
{
    if (s.mismatch)
        s.note("line mismatch (wrong-length status)", "mismatch");
    if (d.chance(0.1)) {
        s.scanner.charGapMs = int(d.number(1, 3));
        s.note("slow drip", "gap" + std::to_string(s.scanner.charGapMs) + "ms");
    }
    if (d.chance(0.1)) {
        s.scanner.replyDelayMs = int(d.number(50, 800));
        s.note("slow answers", "delay" + std::to_string(s.scanner.replyDelayMs) + "ms");
    }
    if (full != Full::None && d.chance(0.12)) {
        s.fullPages = d.chance(0.75) ? 1 : 2;
        s.filler = d.chance(0.25);
        s.note("full file system", "full" + std::to_string(s.fullPages) + (s.filler ? "+" : ""));
    }
    int sheets = int(s.fullPages > 0 ? d.number(5, 8) : d.number(1, 8));
    if (d.chance(0.12)) {
        s.scanner.dropAfter = d.number(1, 60 + 45 * sheets);
        s.note(s.tcp ? "TCP drop" : "scanner hangs up",
               "drop@" + std::to_string(s.scanner.dropAfter));
    }
    double expected = 3 + sheets * 0.8;
    if (d.chance(0.12)) {
        s.killAt = d.real(0, expected);
        s.note("kill -9", "kill@" + printed("%.1f", s.killAt));
    } else if (d.chance(0.1)) {
        s.stopAt = d.real(0, expected);
        static const std::vector<std::pair<int, const char *>> signals = {
            {SIGTERM, "TERM"}, {SIGINT, "INT"}, {SIGHUP, "HUP"}};
        const auto &signal = d.pick(signals);
        s.stopSignal = signal.first;
        s.note("stop signal", std::string(signal.second) + "@" + printed("%.1f", s.stopAt));
    }
    return sheets;
}

// The hopper: good sheets, bad ones, and conditions between them.
void drawDeck(Draw &d, Scenario &s, int sheets)
{
    s.text += " |";
    double good = s.fullPages > 0 ? 0.9 : 0.75;
    for (int i = 0; i < sheets; i++) {
        if (d.chance(0.2))
            s.scanner.deck.push_back(drawCondition(d, s));
        unsigned form = s.index * 100 + unsigned(i) + 1;
        if (d.chance(good)) {
            Paper paper = goodSheet(d, s.dataset, form);
            s.papers[paper.record] = paper;
            s.scanner.deck.push_back(sheet(paper.record));
            s.text += " ok";
            continue;
        }
        std::string kind;
        s.scanner.deck.push_back(sheet(badSheet(d, s.dataset, form, &kind)));
        std::string shown = kind;
        std::replace(shown.begin(), shown.end(), ' ', '-');
        s.note(kind, shown);
    }
}

Scenario draw(uint64_t seed, unsigned index, Full full)
{
    Draw d(seed * 0x9E3779B97F4A7C15ull + index);
    Scenario s;
    s.index = index;
    drawSetting(d, s);
    drawDeck(d, s, drawFaults(d, s, full));
    return s;
}

// What a batch came to, for the tally.
struct Outcome {
    Strings violations;
    int status = -1;
    bool killed = false, stopped = false, dropped = false, refilled = false;
    int fed = 0, stamped = 0, rejected = 0, lines = 0;
    bool unstampedLine = false;
    bool s50 = false;
    std::set<std::string> children;  // seen while the station ran
    double seconds = 0;
};

// The soak's operator: keys for messages that wait, and at a prompt or a
// scanner condition that lasts past its patience, forms loaded, <ENTER>,
// <ESCAPE> or a stop signal, as a person at the station would.
class Operator {
public:
    Operator(Scenario &s, Draw &draw) : s_(s), draw_(draw) {}
    void act(Process &station, Sim &sim, double now, Outcome &out);
    void stop(Process &station, double now, Outcome &out);
    // Seconds the run may take for the operator: patience spent, and the
    // forms loaded.
    double allowance() const { return waited_ + 10.0 * refills_; }
    double stopSent = -1;

private:
    Scenario &s_;
    Draw &draw_;
    size_t answered_ = 0;
    std::string episode_;
    double since_ = 0;
    double waited_ = 0;
    int refills_ = 0;
};

void Operator::stop(Process &station, double now, Outcome &out)
{
    station.kill(s_.stopSignal);
    stopSent = now;
    out.stopped = true;
}

void Operator::act(Process &station, Sim &sim, double now, Outcome &out)
{
    if (stopSent >= 0)
        return;
    std::string errors = station.errors();
    Strings shown = messages(errors);
    std::string current = shown.empty() ? "" : shown.back();
    bool waits = !errors.empty() && errors.back() != '\r';
    if (s_.keys && waits && endsWith(current, "Press <ENTER>.") && answered_ != errors.size()) {
        station.type("\r");
        answered_ = errors.size();
    }
    if (current != episode_) {
        episode_ = current;
        since_ = now;
    }
    bool stuck = current == prompt || endsWith(current, "press <START> or <ENTER>.") ||
                 endsWith(current, "press <RESTART> on scanner.");
    if (!stuck || now - since_ < s_.patience)
        return;
    waited_ += now - since_;
    since_ = now;
    if (current == prompt && refills_ < 2 && draw_.chance(0.6)) {
        refills_++;
        out.refilled = true;
        std::vector<DeckEntry> forms;
        for (long i = draw_.number(1, 3); i > 0; i--) {
            Paper paper = goodSheet(draw_, s_.dataset,
                                    s_.index * 100 + 50 + 10 * unsigned(refills_) + unsigned(i));
            s_.papers[paper.record] = paper;
            forms.push_back(sheet(paper.record));
        }
        sim.scanner->refill(forms);
    } else if (s_.keys) {
        station.type(draw_.chance(current == prompt ? 0.5 : 0.2) ? "\x1b" : "\r");
    } else {
        stop(station, now, out);
    }
}

bool sameLine(const struct termios &a, const struct termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

// The data output file against the sheets: whole lines, each stamped
// sheet's in order; at most one more, of the last sheet fed and unstamped,
// where `allowed`.
void checkData(const std::string &data, const std::vector<scannersim::Sheet> &sheets,
               const Scenario &s, time_t from, time_t to, bool allowed, Outcome &out)
{
    auto fail = [&out](const std::string &text) { out.violations.push_back(text); };
    if (data.size() % LINE != 0)
        fail("a partial line: the file has " + std::to_string(data.size()) + " bytes");
    for (size_t at = 0; at + LINE <= data.size(); at += LINE)
        if (data.compare(at + LINE - 2, 2, "\r\n") != 0)
            fail("line " + std::to_string(at / LINE + 1) + " does not end in CR LF");
    out.lines = int(data.size() / LINE);
    for (const scannersim::Sheet &sheet : sheets) {
        out.fed++;
        out.stamped += !sheet.prints.empty();
        out.rejected += sheet.hopper == scannersim::Hopper::Alternate;
        if (sheet.prints.size() > 1 ||
            (sheet.prints.size() == 1 && sheet.prints[0].position != "00"))
            fail("sheet " + std::to_string(sheet.number) + " stamped " +
                 std::to_string(sheet.prints.size()) + " times or out of place");
    }
    std::string stamped = stampedLines(sheets);
    ::testing::AssertionResult same = sameBytes(stamped, data.substr(0, stamped.size()));
    if (!same) {
        fail(std::string("the stamped sheets' lines: ") + same.message());
        return;
    }
    std::string extra = data.substr(std::min(stamped.size(), data.size()));
    if (extra.empty())
        return;
    const scannersim::Sheet *last = sheets.empty() ? nullptr : &sheets.back();
    auto paper = last != nullptr ? s.papers.find(last->record) : s.papers.end();
    bool itsLine = false;
    if (extra.size() == LINE && last != nullptr && last->prints.empty() && paper != s.papers.end())
        for (const std::string &stamp :
             possibleStamps(from, to, paper->second.voucher, paper->second.dataset))
            itsLine = itsLine || extra == outputLine(last->record, stamp);
    if (!itsLine)
        fail(std::to_string(extra.size()) + " bytes after the stamped sheets' lines that are not "
                                            "the line of the last sheet fed");
    else if (!allowed)
        fail("the last sheet fed has its line but no stamp, and the run was neither killed nor "
             "cut off");
    out.unstampedLine = itsLine;
}

// The station's directory holds its own files and nothing else.
void checkFiles(const TempDir &dir, const std::string &port, const std::string &cfg,
                const Scenario &s, Outcome &out)
{
    std::set<std::string> allowed = {"scantest.log", "LOCK_" + port, cfg,
                                     s.fullPages > 0 ? "full" : "SCAN.DAT", "tmp"};
    for (const std::string &name : listDir(dir.path()))
        if (allowed.count(name) == 0)
            out.violations.push_back("left behind in the station directory: " + name);
    for (const std::string &name : listDir(dir.file("tmp")))
        out.violations.push_back("left behind in TMPDIR: " + name);
    std::string lock = dir.file("LOCK_" + port);
    if (byteLocked(lock, 4))
        out.violations.push_back("the scanner lock is still held");
}

// Descriptors and children of the running station: besides its standard
// ones, the lock, the trace, the data output file and the port
// configuration file (read once, left open until the run ends) in its
// directory, and one link at most (a serial device is open twice: the line,
// and its lock). Its children are noted, for none may outlive it.
void checkProcess(pid_t pid, const TempDir &dir, Outcome &out)
{
    std::string proc = "/proc/" + std::to_string(pid);
    int files = 0;
    std::set<std::string> links;
    std::string list;
    for (const std::string &fd : listDir(proc + "/fd")) {
        char target[512];
        ssize_t n = readlink((proc + "/fd/" + fd).c_str(), target, sizeof target - 1);
        std::string to(target, size_t(std::max<ssize_t>(n, 0)));
        files += to.compare(0, dir.path().size(), dir.path()) == 0;
        if (to.compare(0, 7, "socket:") == 0 || to.compare(0, 9, "/dev/pts/") == 0)
            links.insert(to);
        list += " " + fd + "=" + to;
    }
    if (files > 4 || links.size() > 1)
        out.violations.push_back("the station holds " + std::to_string(files) + " files and " +
                                 std::to_string(links.size()) + " links:" + list);
    // A sanitized build has a child of its own for a moment at exit.
    for (const std::string &child : children(proc))
        out.children.insert(child);
}

// One batch's station: its directory, its scanner, and markfeed's command
// line and environment.
struct Station {
    Station(const Scenario &s, Full full, Outcome &out);
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    TempDir dir;
    Sim sim;
    std::string port, cfg, data;
    RunOptions options;
    bool mounted = false;
};

Station::Station(const Scenario &s, Full full, Outcome &out)
    : sim(startScanner(s.scanner)),
      port(s.tcp ? "127.0.0.1_" + std::to_string(sim->port()) : portName(sim.device)),
      cfg("d_" + portName(sim.device) + ".cfg"), data(dir.file("SCAN.DAT"))
{
    Strings args = linkArgs(sim, s.scanner.pace ? 38400 : s.mismatch ? 9600 : 0);
    if (s.dataset != 0)
        args = concat(args, {"-m", std::to_string(s.dataset)});
    for (auto flag : {std::make_pair(s.trace, "-x"), std::make_pair(s.continuous, "-c"),
                      std::make_pair(s.alignment, "-t")})
        if (flag.first)
            args.push_back(flag.second);
    if (s.noWait)
        writeFile(dir.file(cfg), cfgText({{30, 0}}));
    options = markfeedIn(dir, args, s.keys ? RunOptions::Pipe : RunOptions::File);
    mkdir(dir.file("tmp").c_str(), 0700);
    options.env["TMPDIR"] = dir.file("tmp");
    if (s.fullPages == 0)
        return;
    std::string room = dir.file("full");
    mkdir(room.c_str(), 0777);
    data = room + "/SCAN.DAT";
    options.args = concat(options.args, {"-o", "full/SCAN.DAT"});
    if (full == Full::SizeLimit) {
        // The limit holds for every file the station writes: the lock's
        // four bytes must still fit.
        long limit = std::max(16L, 4096L * s.fullPages - (s.filler ? 4096 : 0));
        options.command =
            concat({"prlimit", "--fsize=" + std::to_string(limit), "--"}, options.command);
        return;
    }
    std::string size = "size=" + std::to_string(4096 * s.fullPages);
    mounted = mount("soak", room.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, size.c_str()) == 0;
    if (!mounted)
        out.violations.push_back("no tmpfs for the full file system");
    if (s.filler)
        writeFile(room + "/filler", "x");
}

Station::~Station()
{
    if (mounted)
        umount2(dir.file("full").c_str(), MNT_DETACH);
}

// The last `count` of list, joined.
std::string lastOf(const Strings &list, size_t count)
{
    std::string text;
    for (size_t i = list.size() > count ? list.size() - count : 0; i < list.size(); i++)
        text += (text.empty() ? "" : ", ") + list[i];
    return text.empty() ? "none" : text;
}

// What a station that overstays its bound is doing: the operator's last
// message and the last frames each way on the line.
void overstayed(Process &station, const Sim &sim, double now, Outcome &out)
{
    // The operator's row as it stands: a blank message shows as "".
    Strings shown = messages(screenRow(station.errors()));
    std::string row = shown.empty() ? "" : shown.front();
    Strings answers;
    for (const scannersim::Frame &answer : sim->answers())
        answers.push_back(answer.name + " \"" + scannersim::quoteText(answer.bytes.substr(0, 60)) +
                          "\"");
    out.violations.push_back("still running after " + std::to_string(int(now)) + " s");
    out.violations.push_back("  last message: \"" + row + "\"");
    out.violations.push_back("  last frames received: " + lastOf(frameList(sim->frames()), 8));
    out.violations.push_back("  last answers sent: " + lastOf(answers, 4));
}

// Runs the station to its end: the soak's kill or stop signal at their
// moments, the operator at work, the descriptors looked at on the way.
void watch(Process &station, Station &st, const Scenario &s, Operator &person, Outcome &out)
{
    // The protocol's own waits: 5 s for a record that does not come (8 s for
    // one that drips), as long of reading a link that dropped, the time a
    // condition lasts.
    const scannersim::Options &o = s.scanner;
    double entries = double(o.deck.size());
    double bound = 30 + 3 * entries + 8 * s.conditions + 2 * s.timed + (o.dropAfter > 0 ? 20 : 0) +
                   entries * (1.2 * o.charGapMs + (o.pace ? 0.5 : 0) + 0.006 * o.replyDelayMs);
    Timer clock;
    double sampled = 0;
    while (station.running()) {
        station.idle(0.05);
        double now = clock.seconds();
        if (now - sampled > 0.4) {
            sampled = now;
            checkProcess(station.pid(), st.dir, out);
        }
        if (s.killAt >= 0 && now >= s.killAt && !out.killed) {
            station.kill(SIGKILL);
            out.killed = true;
        }
        if (s.stopAt >= 0 && now >= s.stopAt && person.stopSent < 0)
            person.stop(station, now, out);
        person.act(station, st.sim, now, out);
        if (person.stopSent >= 0 && now - person.stopSent > 10)
            return out.violations.push_back("still running 10 s after a stop signal");
        if (now > bound + person.allowance())
            return overstayed(station, st.sim, now, out);
    }
}

// The exit status, and what the station wrote on standard error.
void checkEnd(const Outcome &out, double stopSent, const std::string &errors, Strings &violations)
{
    // A sanitized build reports on standard error and may go on.
    for (const char *report : {"runtime error:", "Sanitizer"})
        if (errors.find(report) != std::string::npos)
            violations.push_back(std::string("the station's standard error has \"") + report +
                                 "\": " + errors.substr(errors.find(report), 400));
    if (out.killed)
        return;
    std::string status = std::to_string(out.status);
    if (out.status != 0 && out.status != 88 && out.status != 99)
        violations.push_back("exit status " + status);
    if (out.stopped && out.status != 99 && out.seconds - stopSent > 0.5)
        violations.push_back("a stop signal ended the run with " + status);
    if (out.s50 && out.status != 88 && out.status != 99)
        violations.push_back("S50 shown, exit status " + status);
}

Outcome runBatch(Scenario &s, uint64_t seed, Full full, bool alone)
{
    Outcome out;
    Draw draw(seed ^ (uint64_t(s.index) << 32) ^ 0x5eed);
    Station st(s, full, out);
    struct termios before = {}, after = {};
    bool ptyLine = !s.tcp && deviceSettings(st.sim.device, &before);
    time_t from = time(nullptr);
    Timer clock;
    Process station(st.options);
    Operator person(s, draw);
    watch(station, st, s, person, out);
    out.status = station.wait(1);
    out.seconds = clock.seconds();
    out.killed = out.killed && out.status == 128 + SIGKILL;
    time_t to = time(nullptr);
    // What was still on the line reaches the scanner.
    usleep(s.scanner.pace || s.scanner.charGapMs > 0 ? 600000 : 300000);
    long dropAfter = s.scanner.dropAfter;
    out.dropped = dropAfter > 0 && long(received(*st.sim).size()) >= dropAfter;
    std::string errors = station.errors();
    out.s50 = errors.find("S50:") != std::string::npos;
    checkEnd(out, person.stopSent, errors, out.violations);
    checkData(readFile(st.data), st.sim->sheets(), s, from, to, out.killed || out.dropped, out);
    if (ptyLine && !out.killed && !out.dropped && deviceSettings(st.sim.device, &after) &&
        !sameLine(before, after))
        out.violations.push_back("the line's settings were not given back");
    for (const std::string &child : out.children)
        if (fileExists("/proc/" + child))
            out.violations.push_back("the station's child " + child + " (" +
                                     readFile("/proc/" + child + "/comm") + ") outlived it");
    if (!out.killed && byteLocked(st.data, 0))
        out.violations.push_back("the data output file is still locked");
    st.sim.scanner->stop();
    if (!s.tcp && fileExists(st.sim.device))
        out.violations.push_back("the scanner's link " + st.sim.device + " is still there");
    checkFiles(st.dir, st.port, st.cfg, s, out);
    if (!out.violations.empty()) {
        out.violations.push_back("messages:");
        for (const std::string &line : messages(errors))
            out.violations.push_back("  " + line);
    }
    // A batch run alone shows what happened, for whoever reruns it.
    if (alone) {
        std::printf("messages:\n");
        for (const std::string &line : messages(errors))
            std::printf("  %s\n", line.c_str());
        std::printf("trace:%s\n", readFile(st.dir.file("scantest.log")).c_str());
    }
    return out;
}

// Counts by name, printed sorted.
struct Tally {
    std::mutex mutex;
    std::map<std::string, int> faults, outcomes;
    int batches = 0, fed = 0, stamped = 0, rejected = 0, lines = 0;
    double seconds = 0;
    std::vector<std::string> failures;

    void add(const Scenario &s, const Outcome &o, uint64_t seed)
    {
        std::lock_guard<std::mutex> lock(mutex);
        batches++;
        fed += o.fed;
        stamped += o.stamped;
        rejected += o.rejected;
        lines += o.lines;
        seconds += o.seconds;
        for (const std::string &fault : s.faults)
            faults[fault]++;
        std::string status = o.killed ? "killed by the soak" : "exit " + std::to_string(o.status);
        outcomes[status]++;
        for (auto flag : {std::make_pair(o.dropped, "link dropped"),
                          std::make_pair(o.stopped, "stop signal sent"),
                          std::make_pair(o.refilled, "forms loaded by the operator"),
                          std::make_pair(o.s50, "S50 (data output file full)"),
                          std::make_pair(o.unstampedLine, "last line without its stamp")})
            outcomes[flag.second] += flag.first;
        std::printf("batch %3u: %-6s %5.1f s %d fed %d stamped | %s%s\n", s.index, status.c_str(),
                    o.seconds, o.fed, o.stamped, s.text.c_str(),
                    o.violations.empty() ? "" : "  FAILED");
        std::fflush(stdout);
        if (o.violations.empty())
            return;
        std::string text = "batch " + std::to_string(s.index) + " of seed " + std::to_string(seed) +
                           " (SOAK_SEED=" + std::to_string(seed) +
                           " SOAK_BATCH=" + std::to_string(s.index) + "): " + s.text;
        for (const std::string &line : o.violations)
            text += "\n  " + line;
        failures.push_back(text);
    }

    void print(double wall)
    {
        std::printf("\n%d batches in %.0f s (%.0f s of runs), %d sheets fed, %d stamped, %d to "
                    "the alternate hopper, %d data lines\nfaults drawn:\n",
                    batches, wall, seconds, fed, stamped, rejected, lines);
        for (const auto &entry : faults)
            std::printf("  %5d  %s\n", entry.second, entry.first.c_str());
        std::printf("outcomes:\n");
        for (const auto &entry : outcomes)
            std::printf("  %5d  %s\n", entry.second, entry.first.c_str());
    }
};

TEST(Soak, RandomFaults)
{
    uint64_t seed = uint64_t(envNumber("SOAK_SEED", 20261208));
    long batches = envNumber("SOAK_BATCHES", 120);
    // SOAK_BATCH: "13", or "13,112,141".
    std::string only = getenv("SOAK_BATCH") != nullptr ? getenv("SOAK_BATCH") : "";
    std::replace(only.begin(), only.end(), ',', ' ');
    std::istringstream listed(only);
    std::vector<long> indexes;
    for (long index; listed >> index;)
        indexes.push_back(index);
    bool alone = !indexes.empty();
    for (long i = 0; !alone && i < batches; i++)
        indexes.push_back(i);
    int workers = int(envNumber("SOAK_WORKERS", 12));
    // Orphans of a station would become this process's children, and show.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    Full full = fullFileSystems();
    std::printf("soak seed %llu (SOAK_SEED), %ld batches (SOAK_BATCHES), %d at once "
                "(SOAK_WORKERS); full file systems by %s\n",
                (unsigned long long)seed, long(indexes.size()), workers,
                full == Full::Tmpfs       ? "tmpfs in a mount namespace"
                : full == Full::SizeLimit ? "a file size limit"
                                          : "nothing: none are drawn");
    size_t descriptors = listDir("/proc/self/fd").size();
    Tally tally;
    Timer wall;
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; w++)
        threads.emplace_back([&] {
            for (size_t i; (i = next++) < indexes.size();) {
                Scenario s = draw(seed, unsigned(indexes[i]), full);
                Outcome o = runBatch(s, seed, full, alone);
                tally.add(s, o, seed);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    tally.print(wall.seconds());

    EXPECT_EQ(listDir("/proc/self/fd").size(), descriptors) << "descriptors left open in the soak";
    EXPECT_EQ(children("/proc/self"), Strings{}) << "processes left behind";
    std::string mine = "mfp" + std::to_string(getpid()) + "_";
    for (const std::string &name : listDir("/tmp"))
        EXPECT_NE(name.compare(0, mine.size(), mine), 0) << "left in /tmp: " << name;
    for (const std::string &failure : tally.failures)
        ADD_FAILURE() << failure;
}

}  // namespace
