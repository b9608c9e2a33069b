// A station's history in the system log, caught where syslog(3) sends it:
// the start of a run, each numbered message, and the end with its counts,
// the stamp of the last accepted sheet and why the run ended, at the
// priorities and in the facility the administrator chose.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>

#include "tests/support/lines.h"
#include "tests/support/programs.h"
#include "tests/support/scanner.h"
#include "tests/support/systemlog.h"

using namespace support;

namespace {

const char skipped[] = "no mount namespace with a tmpfs over /dev here (needs root)";
const char prompt[] = "Scanner hopper empty.  Load forms or <ESCAPE> to quit.";

// syslog priorities: facility * 8 + severity.
constexpr int USER = 1 * 8, DAEMON = 3 * 8, LOCAL3 = 19 * 8;
constexpr int ERR = 3, WARNING = 4, NOTICE = 5, INFO = 6;

std::string user()
{
    struct passwd *entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : std::to_string(getuid());
}

std::string absolute(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// The log's lines as "priority text", with the tag checked against the pid:
// once count of them came, and any that follow within a moment.
Strings logged(SystemLog &log, Process &station, size_t count)
{
    log.lines(count, 10);
    Strings lines;
    for (const LogLine &line : log.lines(count + 1, 0.3)) {
        EXPECT_EQ(line.tag, "markfeed[" + std::to_string(station.pid()) + "]") << line.text;
        lines.push_back(std::to_string(line.priority) + " " + line.text);
    }
    return lines;
}

// The expected line with the seconds and the rate that the logged line
// holds in place of "seconds=? rate=?".
std::string timed(const std::string &logged, std::string expected)
{
    LogFields fields = fieldsOf(logged.substr(logged.find(' ') + 1));
    std::string times = "seconds=" + fields.values["seconds"] + " rate=" + fields.values["rate"];
    size_t at = expected.find("seconds=? rate=?");
    return at == std::string::npos ? expected : expected.replace(at, 16, times);
}

struct Batch {
    Sim sim;
    TempDir dir;
    std::unique_ptr<Process> station;
};

void startBatch(Batch &batch, SystemLog &log, scannersim::Options options, RunOptions::Input input,
                const std::map<std::string, std::string> &env = {})
{
    batch.sim = startScanner(options);
    RunOptions run = markfeedIn(batch.dir, concat(linkArgs(batch.sim), {"-m", "12"}), input);
    run.unsetenv = {"MARKFEED_SYSLOG"};
    run.env = env;
    batch.station.reset(new Process(log.around(run)));
}

TEST(SystemLog, BatchLogsItsStartEachNumberedMessageAndItsEndWithTheCounts)
{
    if (!SystemLog::available())
        GTEST_SKIP() << skipped;
    SystemLog log;
    Batch batch;
    startBatch(batch, log,
               deckOf({sheet(sheetRecord(1, "0001234", "012", "00", 1)),
                       sheet(sheetRecord(7, "0000001", "012", "00", 2, 1038, "07")),
                       sheet(sheetRecord(4, "1234567", "12", "11", 3))}),
               RunOptions::File);
    EXPECT_EQ(batch.station->wait(30), 0);
    Strings lines = logged(log, *batch.station, 3);
    ASSERT_EQ(lines.size(), 3u);
    std::string dir = absolute(batch.dir.path());
    EXPECT_EQ(lines[0], std::to_string(USER + INFO) + " start user=" + user() +
                            " device=" + batch.sim.device + " dir=" + dir + " data=" + dir +
                            "/SCAN.DAT form=- options=\"-d " + batch.sim.device + " -m 12\"");
    EXPECT_EQ(lines[1], std::to_string(USER + NOTICE) +
                            " message code=S1 text=\"S1:  Invalid document number.  Rescan "
                            "sheet.  Press <ENTER>.\"");
    std::string stamp = batch.sim->sheets().at(2).prints.at(0).text;
    stamp.erase(stamp.find_last_not_of(' ') + 1);
    EXPECT_EQ(lines[2], timed(lines[2], std::to_string(USER + INFO) +
                                            " end status=0 reason=- sheets=3 accepted=2 "
                                            "rejected=1 seconds=? rate=? last=\"" +
                                            stamp + "\""));
    LogFields end = fieldsOf(lines[2].substr(lines[2].find(' ') + 1));
    double seconds = std::stod(end.values["seconds"]), rate = std::stod(end.values["rate"]);
    EXPECT_LE(rate * seconds, 120.05);  // two sheets in that many whole seconds
    EXPECT_GE(rate * (seconds + 1), 119.95);
}

// A run that ends with 88 after its locks: its start, the numbered message
// and its end, each at its severity in the facility chosen; "off" logs
// nothing.
TEST(SystemLog, FacilityIsChosenByTheEnvironmentAndOffLogsNothing)
{
    if (!SystemLog::available())
        GTEST_SKIP() << skipped;
    const struct {
        const char *setting;  // null: unset
        int facility;         // -1: nothing logged
    } cases[] = {{nullptr, USER}, {"local3", LOCAL3}, {"daemon", DAEMON}, {"off", -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setting ? c.setting : "unset");
        SystemLog log;
        TempDir dir;
        RunOptions run = markfeedIn(dir, {"-d", "/dev/ttyNONE"}, RunOptions::File);
        if (c.setting)
            run.env["MARKFEED_SYSLOG"] = c.setting;
        else
            run.unsetenv = {"MARKFEED_SYSLOG"};
        Process station(log.around(run));
        ASSERT_EQ(station.wait(10), 88);
        Strings lines = logged(log, station, c.facility < 0 ? 0 : 3);
        if (c.facility < 0) {
            EXPECT_EQ(lines, Strings{});
            continue;
        }
        std::string d = absolute(dir.path());
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], std::to_string(c.facility + INFO) + " start user=" + user() +
                                " device=/dev/ttyNONE dir=" + d + " data=" + d +
                                "/SCAN.DAT form=- options=\"-d /dev/ttyNONE\"");
        EXPECT_EQ(lines[1], std::to_string(c.facility + NOTICE) +
                                " message code=S21 text=\"S21:  Unable to open device "
                                "/dev/ttyNONE.  Press <ENTER>.\"");
        EXPECT_EQ(lines[2], timed(lines[2], std::to_string(c.facility + ERR) +
                                                " end status=88 reason=S21 sheets=0 accepted=0 "
                                                "rejected=0 seconds=? rate=? last=-"));
    }
}

// A run refused before it has its locks logs one line, its end, with what
// it knows of the run.
TEST(SystemLog, RunRefusedBeforeItsLocksLogsItsEndAlone)
{
    if (!SystemLog::available())
        GTEST_SKIP() << skipped;
    TempDir dir;
    std::string d = absolute(dir.path());
    LockHolder other(dir.file("LOCK_ttyNONE"), 4);
    ASSERT_TRUE(other.holding());
    const std::string counts = " sheets=0 accepted=0 rejected=0 seconds=0 rate=0.0 last=- user=";
    const struct {
        Strings args;
        int status;
        std::string line;
    } cases[] = {
        {{"-d", "/dev/ttyNONE"},
         88,
         std::to_string(USER + ERR) + " end status=88 reason=S46" + counts + user() +
             " device=/dev/ttyNONE dir=" + d + " data=" + d +
             "/SCAN.DAT form=- options=\"-d /dev/ttyNONE\""},
        {{"-x", "-d"},
         88,
         std::to_string(USER + ERR) + " end status=88 reason=S49" + counts + user() +
             " options=\"-x -d\""},
        {{},
         99,
         std::to_string(USER + WARNING) + " end status=99 reason=usage" + counts + user() +
             " options=\"\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        SystemLog log;
        RunOptions run = markfeedIn(dir, c.args, RunOptions::File);
        run.unsetenv = {"MARKFEED_SYSLOG"};
        Process station(log.around(run));
        EXPECT_EQ(station.wait(10), c.status);
        EXPECT_EQ(logged(log, station, 1), Strings{c.line});
    }
}

// The operator's <ESCAPE> at the empty hopper and at a scanner that stays
// busy, and a stop signal.
TEST(SystemLog, EscapeAndStopSignalAreTheReasonsOfTheirEnd)
{
    if (!SystemLog::available())
        GTEST_SKIP() << skipped;
    const struct {
        const char *name;
        int busy;  // download status answers that say busy
        const char *shown;
        bool escape;  // else SIGTERM
        int status, severity;
        const char *reason;
    } cases[] = {
        {"escape", 0, prompt, true, 99, WARNING, "escape"},
        {"escape when busy", 3, "Scanner is busy.  Reset message on scanner.  Press <ENTER>.", true,
         88, ERR, "escape"},
        {"signal", 0, prompt, false, 99, WARNING, "signal"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SystemLog log;
        Batch batch;
        startBatch(batch, log, optionsWith([&](scannersim::Options &o) { o.busy = c.busy; }),
                   RunOptions::Terminal);
        ASSERT_TRUE(shows(*batch.station, c.shown));
        if (c.escape)
            batch.station->type("\x1b");
        else
            batch.station->kill(SIGTERM);
        EXPECT_EQ(batch.station->wait(10), c.status);
        Strings lines = logged(log, *batch.station, 2);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].substr(0, 9), std::to_string(USER + INFO) + " start ");
        EXPECT_EQ(lines[1], timed(lines[1], std::to_string(USER + c.severity) + " end status=" +
                                                std::to_string(c.status) + " reason=" + c.reason +
                                                " sheets=0 accepted=0 rejected=0 seconds=? "
                                                "rate=? last=-"));
    }
    // A signal at the prompt of a message that ends the run with 88: the run
    // keeps its status, and the message stays the reason.
    SystemLog log;
    TempDir dir;
    std::string device = devicePath();
    RunOptions run = markfeedIn(dir, {"-d", device}, RunOptions::Terminal);
    run.unsetenv = {"MARKFEED_SYSLOG"};
    Process station(log.around(run));
    ASSERT_TRUE(shows(station, "S21:  Unable to open device " + device + ".  Press <ENTER>."));
    station.kill(SIGTERM);
    EXPECT_EQ(station.wait(10), 88);
    Strings lines = logged(log, station, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], timed(lines[2], std::to_string(USER + ERR) +
                                            " end status=88 reason=S21 sheets=0 accepted=0 "
                                            "rejected=0 seconds=? rate=? last=-"));
}

// The scanner hangs up: markfeed reads the line in vain, shows S7 and ends
// with 99, and the log says the link was lost.
TEST(SystemLog, LinkThatDropsIsTheReasonOfItsEnd)
{
    if (!SystemLog::available())
        GTEST_SKIP() << skipped;
    SystemLog log;
    Batch batch;
    startBatch(batch, log, optionsWith([](scannersim::Options &o) { o.dropAfter = 1; }),
               RunOptions::File);
    EXPECT_EQ(batch.station->wait(40), 99);
    Strings lines = logged(log, *batch.station, 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::to_string(USER + NOTICE) +
                            " message code=S7 text=\"S7:  No Communication with scanner.  Press "
                            "<ENTER>.\"");
    EXPECT_EQ(lines[2], timed(lines[2], std::to_string(USER + WARNING) +
                                            " end status=99 reason=link sheets=0 accepted=0 "
                                            "rejected=0 seconds=? rate=? last=-"));
}

}  // namespace
