// Runs the ndxmode program as a separate process on index files made in a
// scratch directory, and checks its exit status, its standard output and
// the bytes of the files afterwards.
//
//   ndxmode_tests [gtest options] [--target=linux|windows|sco] [EMULATOR...] PROGRAM
//
// The target chooses the line ending of the output and the identification
// strings expected in the program image.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "tests/support/process.h"

using namespace support;

namespace {

using Bytes = std::string;

std::string target = "linux";
Strings command;  // emulator words, then the program

struct Result {
    int status;
    std::string out;
};

// The lines the program is expected to print, with the target's line ending.
std::string lines(const Strings &text)
{
    std::string out;
    for (const auto &line : text)
        out += line + (target == "windows" ? "\r\n" : "\n");
    return out;
}

// An index file: random bytes, byte 17 of every block set to `mode17`, and
// the header count in block 0 stored little-endian.
Bytes makeIndex(int count, size_t size, unsigned char mode17 = 0x5a, unsigned seed = 7)
{
    Bytes data(size < 64 ? 64 : size, '\0');
    for (auto &b : data)
        b = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    for (size_t at = 17; at < data.size(); at += 64)
        data[at] = static_cast<char>(mode17);
    data[60] = static_cast<char>(count & 0xff);
    data[61] = static_cast<char>((count >> 8) & 0xff);
    data.resize(size);
    return data;
}

// What a switched file must hold: byte 17 of blocks 0 to count set, all else as it was.
Bytes switched(Bytes data, int count, unsigned char mode)
{
    for (size_t at = 17; at < data.size() && at < (static_cast<size_t>(count) + 1) * 64; at += 64)
        data[at] = static_cast<char>(mode);
    return data;
}

// A file name of exactly `length` characters that names "x.ndx" in the work
// directory "w": "./" repeated, before "x.ndx" or "../w/x.ndx" as the parity needs.
std::string longName(size_t length)
{
    std::string name = length % 2 ? "x.ndx" : "../w/x.ndx";
    while (name.size() < length)
        name = "./" + name;
    return name;
}

class Ndxmode : public ::testing::Test {
protected:
    TempDir scratch;
    std::string dir = scratch.file("w");

    void SetUp() override { ASSERT_EQ(mkdir(dir.c_str(), 0700), 0); }

    std::string path(const std::string &name) const { return dir + "/" + name; }

    // Runs the program in the work directory.
    Result run(const Strings &args, const std::map<std::string, std::string> &env = {}) const
    {
        RunOptions options = withInput(RunOptions::File);
        options.command = command;
        options.args = args;
        options.cwd = dir;
        options.env = env;
        Process program(options);
        int status = program.wait(50);
        return {status, program.output()};
    }
};

// Usage: fewer than two arguments, whatever they are.

TEST_F(Ndxmode, FewerThanTwoArgumentsShowUsage)
{
    writeFile(path("x.ndx"), makeIndex(0, 512));
    const Bytes before = readFile(path("x.ndx"));
    Result none = run({});
    ASSERT_EQ(none.status, 255);
    const std::string head = lines({"ERROR: No arguments specified."});
    const std::string tail = lines({" <-On|-Off> <indexfilename.ndx>"});
    ASSERT_EQ(none.out.compare(0, head.size(), head), 0) << none.out;
    ASSERT_GT(none.out.size(), head.size() + tail.size());
    EXPECT_EQ(none.out.compare(none.out.size() - tail.size(), tail.size(), tail), 0) << none.out;
    std::string name = none.out.substr(head.size(), none.out.size() - head.size() - tail.size());
    ASSERT_EQ(name.compare(0, 7, "Usage: "), 0) << name;
    name.erase(0, 7);
    // The invocation name: the path given, or its Windows form under wine.
    std::string program = command.back(), shown = name;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    if (command.size() == 1) {
        EXPECT_EQ(name, program);
    }
    std::string base = program.substr(program.rfind('/') + 1);
    ASSERT_GE(shown.size(), base.size() + 1);
    EXPECT_EQ(shown.substr(shown.size() - base.size() - 1), "/" + base);
    for (const Strings &args : {Strings{"-On"}, Strings{"-Off"}, Strings{"x.ndx"}}) {
        Result r = run(args);
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_EQ(r.out, none.out) << args[0];
    }
    EXPECT_TRUE(sameBytes(before, readFile(path("x.ndx"))));
}

// One run on a file "x.ndx" of `count` and `size`: expected status, output
// and the mode byte afterwards (-1: file unchanged). In args and output,
// "{255}" and "{256}" stand for names of that length that name x.ndx.
struct Case {
    const char *what;
    int count;
    size_t size;
    Strings args;
    int status;
    Strings out;
    int mode;
};

std::ostream &operator<<(std::ostream &os, const Case &c)
{
    return os << c.what;
}

Strings expand(Strings words)
{
    for (auto &s : words)
        for (size_t len : {255u, 256u}) {
            std::string token = "{" + std::to_string(len) + "}";
            for (size_t at; (at = s.find(token)) != std::string::npos;)
                s.replace(at, token.size(), longName(len));
        }
    return words;
}

class Runs : public Ndxmode, public ::testing::WithParamInterface<Case> {};

TEST_P(Runs, ResultOutputAndFile)
{
    const Case &c = GetParam();
    const Bytes before = makeIndex(c.count, c.size);
    writeFile(path("x.ndx"), before);
    const auto names = listDir(dir);
    Result r = run(expand(c.args));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, lines(expand(c.out)));
    const Bytes want =
        c.mode < 0 ? before : switched(before, c.count, static_cast<unsigned char>(c.mode));
    EXPECT_TRUE(sameBytes(want, readFile(path("x.ndx"))));
    EXPECT_EQ(listDir(dir), names) << "files were created or removed";
}

const char *const noMode = "ERROR: neither of mode -On or -Off was specified.";
const char *const noFirst = "ERROR: COuld not read first header form index file.";
const char *const hasData = "ERROR: Index file contains index data.";

std::string cannotOpen(const std::string &name)
{
    return "ERROR: Cannot open index file " + name + ".";
}

std::string unread(int header)
{
    return "ERROR: Could not read header #" + std::to_string(header);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Runs,
    ::testing::Values(
        Case{"mode after file", 2, 640, {"x.ndx", "-On"}, 0, {}, 4},
        Case{"last mode wins, on", 2, 640, {"x.ndx", "-Off", "-On"}, 0, {}, 4},
        Case{"last mode wins, off", 2, 640, {"-On", "x.ndx", "-Off"}, 0, {}, 0},
        Case{"last file wins", 2, 640, {"-On", "missing.ndx", "x.ndx"}, 0, {}, 4},
        Case{"no mode", 2, 640, {"x.ndx", "x.ndx"}, 254, {noMode}, -1},
        Case{"capitals are no mode", 2, 640, {"-ON", "x.ndx"}, 254, {noMode}, -1},
        Case{"small letters are no mode", 2, 640, {"-off", "x.ndx"}, 254, {noMode}, -1},
        Case{"-OFF is a name", 2, 640, {"x.ndx", "-On", "-OFF"}, 253, {cannotOpen("-OFF")}, -1},
        Case{"not created", 2, 640, {"-Off", "missing.ndx"}, 253, {cannotOpen("missing.ndx")}, -1},
        Case{"directory", 2, 640, {"-On", "."}, 253, {cannotOpen(".")}, -1}));

// Names are taken up to 255 characters; a longer chosen name is refused
// without opening anything, after the argument checks.
INSTANTIATE_TEST_SUITE_P(
    LongName, Runs,
    ::testing::Values(
        Case{"255 characters", 0, 512, {"-On", "{255}"}, 0, {}, 4},
        Case{"256 characters", 0, 512, {"-On", "{256}"}, 253, {cannotOpen("{256}")}, -1},
        Case{"256 not chosen", 0, 512, {"-On", "{256}", "x.ndx"}, 0, {}, 4},
        Case{"256 without mode", 0, 512, {"{256}", "x.ndx"}, 254, {noMode}, -1}));

INSTANTIATE_TEST_SUITE_P(
    FirstHeader, Runs,
    ::testing::Values(Case{"empty", 0, 0, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"one byte", 0, 1, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"63 bytes", 0, 63, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"64 bytes", 0, 64, {"-On", "x.ndx"}, 0, {}, 4}));

// The header-only limit ((count + 8) / 2) * 128 at its worked
// values; 300 and 1000 need the high byte of the count.
INSTANTIATE_TEST_SUITE_P(
    Limit, Runs,
    ::testing::Values(Case{"count 0 at 512", 0, 512, {"-On", "x.ndx"}, 0, {}, 4},
                      Case{"count 0 over 512", 0, 513, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"count 1 at 512", 1, 512, {"-Off", "x.ndx"}, 0, {}, 0},
                      Case{"count 1 over 512", 1, 513, {"-Off", "x.ndx"}, 251, {hasData}, -1},
                      Case{"count 2 at 640", 2, 640, {"-On", "x.ndx"}, 0, {}, 4},
                      Case{"count 3 at 640", 3, 640, {"-On", "x.ndx"}, 0, {}, 4},
                      Case{"count 3 over 640", 3, 641, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"count 10 at 1152", 10, 1152, {"-On", "x.ndx"}, 0, {}, 4},
                      Case{"count 10 over 1152", 10, 1153, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"count 300 at 19712", 300, 19712, {"-On", "x.ndx"}, 0, {}, 4},
                      Case{"300 over 19712", 300, 19713, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"count 1000 at 64512", 1000, 64512, {"-Off", "x.ndx"}, 0, {}, 0}));

// A negative count is a damaged header: over its limit the file holds
// index data, within it the first header is refused; nothing is written.
INSTANTIATE_TEST_SUITE_P(
    NegativeCount, Runs,
    ::testing::Values(Case{"-1 at 384", -1, 384, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"-1 over 384", -1, 385, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"-2 at 384", -2, 384, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"-4 at 256", -4, 256, {"-On", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"-4 over 256", -4, 257, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"-6 at 128", -6, 128, {"-Off", "x.ndx"}, 252, {noFirst}, -1},
                      Case{"-6 over 128", -6, 129, {"-Off", "x.ndx"}, 251, {hasData}, -1},
                      Case{"-7 one block", -7, 64, {"-On", "x.ndx"}, 251, {hasData}, -1},
                      Case{"-32768 one block", -32768, 64, {"-On", "x.ndx"}, 251, {hasData}, -1}));

// Every header block is read before any is written.
INSTANTIATE_TEST_SUITE_P(
    ShortHeaders, Runs,
    ::testing::Values(
        Case{"count 3, ends after block 1", 3, 128, {"-On", "x.ndx"}, 250, {unread(2)}, -1},
        Case{"count 3, ends inside block 2", 3, 150, {"-On", "x.ndx"}, 250, {unread(2)}, -1},
        Case{"count 3, ends inside block 3", 3, 255, {"-Off", "x.ndx"}, 250, {unread(3)}, -1},
        Case{"count 1, one block", 1, 64, {"-On", "x.ndx"}, 250, {unread(1)}, -1}));

// Switching: only byte 17 of the header blocks changes, and only to the mode.

// On twice equals once; Off after On restores the file.
TEST_F(Ndxmode, SecondRunOnASwitchedFile)
{
    const struct {
        unsigned char mode17;
        Strings second;
        bool on;
    } cases[] = {{0x11, {"-On", "x.ndx"}, true}, {0, {"x.ndx", "-Off"}, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second[0] + " " + c.second[1]);
        const Bytes original = makeIndex(5, 768, c.mode17), once = switched(original, 5, 4);
        writeFile(path("x.ndx"), original);
        ASSERT_EQ(run({"-On", "x.ndx"}).status, 0);
        ASSERT_TRUE(sameBytes(once, readFile(path("x.ndx"))));
        Result again = run(c.second);
        EXPECT_EQ(again.status, 0);
        EXPECT_EQ(again.out, "");
        EXPECT_TRUE(sameBytes(c.on ? once : original, readFile(path("x.ndx"))));
    }
}

TEST_F(Ndxmode, CaseChangedModeNamesTheFile)
{
    for (const char *name : {"-ON", "-off"}) {
        const Bytes before = makeIndex(1, 128, 0x33);
        writeFile(path(name), before);
        Result r = run({"-On", name});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_TRUE(sameBytes(switched(before, 1, 4), readFile(path(name)))) << name;
        unlink(path(name).c_str());
    }
}

TEST_F(Ndxmode, OnlyTheLastFileIsSwitched)
{
    const Bytes a = makeIndex(2, 640, 0x22, 1), b = makeIndex(2, 640, 0x22, 2);
    writeFile(path("a.ndx"), a);
    writeFile(path("b.ndx"), b);
    Result r = run({"-On", "a.ndx", "b.ndx"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(sameBytes(a, readFile(path("a.ndx"))));
    EXPECT_TRUE(sameBytes(switched(b, 2, 4), readFile(path("b.ndx"))));
}

TEST_F(Ndxmode, WriteFailureNamesTheBlock)
{
    // Reads give zeros (count 0, size 0); every write fails.
    Result r = run({"-On", "/dev/full"});
    EXPECT_EQ(r.status, 249);
    EXPECT_EQ(r.out, lines({"ERROR: Could not write header #0"}));
}

// A file cut short by another program while this one runs is not regrown
// with a hole by the blocks written back: the first block whose read no
// longer stands is named, and nothing more is written.
TEST_F(Ndxmode, FileCutShortWhileRunningIsNotRegrown)
{
    if (target != "linux" || command.size() != 1)
        GTEST_SKIP() << "the file is cut by a library preloaded into the native program";
    const Bytes before = makeIndex(3, 640);
    writeFile(path("x.ndx"), before);
    const char *asan = getenv("ASAN_OPTIONS");
    // Block 2 is cut away as it is read to be written back.
    Result r = run({"-On", "x.ndx"},
                   {{"LD_PRELOAD", SHRINKFILE_PATH},
                    {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"},
                    {"SHRINK_BLOCK_AT", "128"},
                    {"SHRINK_TO", "100"}});
    EXPECT_EQ(r.status, 250);
    EXPECT_EQ(r.out, lines({unread(2)}));
    EXPECT_TRUE(sameBytes(switched(before, 1, 4).substr(0, 100), readFile(path("x.ndx"))));
}

// The program image carries its build's identification strings and no other's.
TEST(Identification, StringsInImage)
{
    const Bytes text = readFile(command.back());
    ASSERT_FALSE(text.empty()) << command.back();
    const Strings all = {"@(#)V10.30", "@(#)M007", "@(#)PLX2", "@(#)PI05",
                         "@(#)V10.31", "@(#)M006", "@(#)PMS1"};
    Strings want = {"@(#)V10.30", "@(#)M007", "@(#)PLX2"};
    if (target == "windows")
        want = {"@(#)V10.31", "@(#)M006", "@(#)PMS1"};
    if (target == "sco")
        want = {"@(#)V10.30", "@(#)M007", "@(#)PI05"};
    for (const auto &id : all) {
        bool expected = std::find(want.begin(), want.end(), id) != want.end();
        EXPECT_EQ(text.find(id + '\0') != std::string::npos, expected) << id;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int i = 1;
    if (i < argc && strncmp(argv[i], "--target=", 9) == 0)
        target = argv[i++] + 9;
    for (; i < argc; i++)
        command.push_back(argv[i]);
    if (command.empty() || (target != "linux" && target != "windows" && target != "sco")) {
        fprintf(stderr, "usage: %s [--target=linux|windows|sco] [EMULATOR...] PROGRAM\n", argv[0]);
        return 2;
    }
    int failed = RUN_ALL_TESTS();
    // A filter that selects nothing must not pass.
    if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        fprintf(stderr, "no test selected\n");
        return 1;
    }
    return failed;
}
