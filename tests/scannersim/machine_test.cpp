// The scanner's behaviour, driven frame by frame with a clock of our own.
#include <gtest/gtest.h>

#include "machine.h"
#include "support/scanner.h"

using namespace scannersim;
using support::deckOptions;
using support::frame;
using support::Strings;

namespace {

const std::string kInit("\x11");

struct Bench {
    explicit Bench(const Options &options = Options()) : machine(options), parser(options.codes) {}
    explicit Bench(const std::function<void(Options &)> &setup) : Bench(support::optionsWith(setup))
    {
    }

    // Sends bytes at the bench's clock; returns the answers' texts joined
    // by '|' and remembers the frame names.
    std::string send(const std::string &bytes)
    {
        std::vector<RawFrame> raws;
        for (char c : bytes)
            parser.feed(uint8_t(c), &raws);
        std::string got;
        for (const RawFrame &raw : raws) {
            Effects fx;
            machine.take(raw, clock, &fx);
            names.push_back(fx.frame.name);
            for (const Answer &a : fx.answers)
                got += (got.empty() ? "" : "|") + a.text;
            for (const Sheet &s : fx.departed)
                departed.push_back(s);
            lastDelay = fx.answers.empty() ? 0 : fx.answers.back().delay;
        }
        return got;
    }
    std::string status() { return send("s0"); }
    void change(char mode) { send(std::string("e") + mode + "\x04\r\n" + kInit); }

    Machine machine;
    FrameParser parser;
    double clock = 0;
    double lastDelay = 0;
    Strings names;
    std::vector<Sheet> departed;
};

}  // namespace

TEST(Machine, ModeChangeWaitsForTheHandshake)
{
    Bench b;
    b.send("ed\x04\r\n");
    EXPECT_EQ(b.status()[48], 'w');
    b.send(kInit);
    EXPECT_EQ(b.names.back(), "Handshake");
    EXPECT_EQ(b.status()[48], 'd');
    EXPECT_EQ(b.send(kInit), "GSCANNING");
    EXPECT_EQ(b.names.back(), "Initiate");
}

TEST(Machine, WithoutHandshakeTheChangeIsImmediate)
{
    Bench b([](Options &o) { o.handshake = '0'; });
    b.send("et\x04\r\n");
    std::string s = b.status();
    EXPECT_EQ(s[48], 't');
    EXPECT_EQ(s[34], '0');
    EXPECT_EQ(b.send(kInit), "ENO DOWNLOAD");
}

TEST(Machine, HandshakeIWaitsForInitiateWhenTheCodesDiffer)
{
    Bench b([](Options &o) {
        o.handshake = 'I';
        o.codes.initiate = 0x16;
    });
    b.send("ed\x04\r\n\x11");
    EXPECT_EQ(b.names.back(), "Ack");
    EXPECT_EQ(b.status()[48], 'w');
    b.send("\x16");
    EXPECT_EQ(b.names.back(), "Handshake");
    EXPECT_EQ(b.status()[48], 'd');
}

TEST(Machine, RefusedModeStaysButTheHandshakeIsConsumed)
{
    Bench b([](Options &o) { o.refuseModes = "t"; });
    b.change('t');
    EXPECT_EQ(b.names.back(), "Handshake");
    EXPECT_EQ(b.status()[48], 'w');
}

TEST(Machine, FullDownloadSequence)
{
    Bench b;
    // Runtime parameters first: a fresh scanner has no form to apply them to.
    b.send(frame('\x1d', "1,2,3,4,5,6,7,8,9\n"));
    b.change('d');
    EXPECT_EQ(b.send(kInit), "NNO FORM LOADED");
    b.change('w');
    b.send(frame('\x1c', "APL,000,N;"));
    EXPECT_EQ(b.names.back(), "MemoryInit");
    b.change('t');
    EXPECT_EQ(b.send(kInit), "VMEMORY CLEARED");
    b.send(kInit);
    EXPECT_EQ(b.names.back(), "Ack");
    b.change('w');
    b.send(frame('\x1c', "FORM\r\nDATA"));
    EXPECT_EQ(b.names.back(), "FormDefinition");
    b.change('t');
    EXPECT_EQ(b.send(kInit), "GFORM LOADED");
    EXPECT_TRUE(b.machine.formLoaded());
    EXPECT_EQ(b.machine.formDefinition(), "FORM\r\nDATA");
    b.change('w');
    b.send(frame('\x1d', "1,2,3,4,5,6,7,8,9\n"));
    b.change('d');
    EXPECT_EQ(b.send(kInit), "GPARAMETERS ACCEPTED");
    EXPECT_EQ(b.machine.runtimeLine(), "1,2,3,4,5,6,7,8,9\n");
}

TEST(Machine, DownloadsOutsideWaitModeAreIgnored)
{
    Bench b([](Options &o) { o.mode = 'd'; });
    b.send(frame('\x1c', "FORM"));
    EXPECT_EQ(b.machine.formDefinition(), "");
}

TEST(Machine, RefuseAndNoReplyPerStep)
{
    Bench b([](Options &o) {
        o.loaded = true;
        o.refuse[int(Step::Runtime)] = true;
        o.noReply[int(Step::Start)] = true;
    });
    b.send(frame('\x1d', "p"));
    b.change('d');
    EXPECT_EQ(b.send(kInit), "EREFUSED");
    b.change('w');
    b.change('d');
    EXPECT_EQ(b.send(kInit), "");
    EXPECT_EQ(b.names.back(), "Initiate");
}

TEST(Machine, BusyAnswersComeFirst)
{
    Bench b([](Options &o) { o.busy = 2; });
    EXPECT_EQ(b.send("s3"), "0100");
    EXPECT_EQ(b.send("s3"), "0100");
    EXPECT_EQ(b.send("s3"), "0000");
    EXPECT_EQ(b.send("s1"), "000");
}

TEST(Machine, SheetsAreFedPrintedReleasedAndSorted)
{
    Bench b(deckOptions("FIRST\nSECOND\n"));
    b.change('d');
    b.send(kInit);
    EXPECT_EQ(b.send(kInit), "FIRST");
    EXPECT_EQ(b.names.back(), "SheetRequest");
    EXPECT_EQ(b.status()[8], '8');
    b.send(frame('1', "00") + frame('2', "STAMP"));
    b.send("\x12");
    EXPECT_EQ(b.status()[8], '0');
    EXPECT_EQ(b.send(kInit), "SECOND");
    b.send("\x1b");
    EXPECT_EQ(b.send(kInit), "");  // deck exhausted
    EXPECT_EQ(b.status()[9], '2');
    ASSERT_EQ(b.departed.size(), 1u);
    EXPECT_EQ(b.departed[0].hopper, Hopper::Main);
    ASSERT_EQ(b.departed[0].prints.size(), 1u);
    EXPECT_EQ(b.departed[0].prints[0].position, "00");
    EXPECT_EQ(b.departed[0].prints[0].text, "STAMP");
    b.send("\x12");
    ASSERT_EQ(b.departed.size(), 2u);
    EXPECT_EQ(b.departed[1].hopper, Hopper::Alternate);
    EXPECT_EQ(b.departed[1].deckLine, 2);
}

TEST(Machine, TimedConditionSilencesThenClearsByItself)
{
    Bench b(deckOptions("!jam 2\nREC\n"));
    b.change('d');
    b.send(kInit);
    EXPECT_EQ(b.send(kInit), "");
    EXPECT_EQ(b.status()[7], '8');
    b.send("r");  // a timed condition ignores Start
    EXPECT_EQ(b.send(kInit), "");
    b.clock = 2.5;
    EXPECT_EQ(b.status()[7], '0');
    EXPECT_EQ(b.send(kInit), "REC");
}

TEST(Machine, UntimedConditionLastsUntilStart)
{
    Bench b(deckOptions("!readcheck 6\n!formerror 11\nREC\n"));
    b.change('d');
    b.send(kInit);
    b.send(kInit);
    std::string s = b.status();
    EXPECT_EQ(s[7], '4');
    EXPECT_EQ(s[33], '1');
    b.clock = 100;
    EXPECT_EQ(b.status()[7], '4');
    b.send("r");
    EXPECT_EQ(b.status()[7], '0');
    EXPECT_EQ(b.send(kInit), "");
    EXPECT_EQ(b.send("s3"), "0?40");
    b.send("r");
    EXPECT_EQ(b.send("s3"), "0000");
    EXPECT_EQ(b.send(kInit), "REC");
}

TEST(Machine, EachFaultShowsItsFlag)
{
    struct Case {
        const char *deck;
        size_t pos;
        char flag;
    } cases[] = {{"!skew\nR\n", 6, '2'},
                 {"!multifeed\nR\n", 6, '1'},
                 {"!notready\nR\n", 7, '1'},
                 {"!readcheck 3\nR\n", 32, '2'},
                 {"!readcheck 4\nR\n", 32, '1'}};
    for (const Case &c : cases) {
        Bench b(deckOptions(c.deck));
        b.change('d');
        b.send(kInit);
        b.send(kInit);
        EXPECT_EQ(b.status()[c.pos], c.flag) << c.deck;
    }
}

TEST(Machine, HopperConditionsShowBeforeAnyRequest)
{
    Bench b(deckOptions("!empty 3\n!stopped\nREC\n"));
    EXPECT_EQ(b.status()[9], '0');  // not looked at outside download mode
    b.change('d');
    EXPECT_EQ(b.status()[9], '2');
    b.clock = 3;
    EXPECT_EQ(b.status()[9], '1');
    b.send(kInit);
    EXPECT_EQ(b.send(kInit), "");
    b.send("r");
    EXPECT_EQ(b.status()[9], '0');
    EXPECT_EQ(b.send(kInit), "REC");
}

TEST(Machine, StopHoldsTheFeederUntilStart)
{
    Bench b(deckOptions("REC\n"));
    b.change('d');
    b.send(kInit);
    b.send("\x0e");
    EXPECT_EQ(b.status()[9], '1');
    EXPECT_EQ(b.send(kInit), "");
    b.send("r");
    EXPECT_EQ(b.send(kInit), "REC");
}

TEST(Machine, BlankSheetsAndSlowFeeds)
{
    Bench b(deckOptions("!delay 1.5\n!blank\nX\n"));
    b.change('d');
    b.send(kInit);
    EXPECT_EQ(b.send(kInit), "");
    EXPECT_EQ(b.names.back(), "SheetRequest");
    EXPECT_DOUBLE_EQ(b.lastDelay, 1.5);
    ASSERT_EQ(b.machine.sheets().size(), 1u);
    EXPECT_EQ(b.send(kInit), "X");
    EXPECT_DOUBLE_EQ(b.lastDelay, 0);
}

TEST(Machine, SheetAtPrintAtStart)
{
    Bench b([](Options &o) { o.atPrint = true; });
    EXPECT_EQ(b.status()[8], '8');
    Sheet standing;
    EXPECT_TRUE(b.machine.standingSheet(&standing));
    EXPECT_EQ(standing.deckLine, 0);
    b.send("\x14\x04\r\n\x12");
    EXPECT_EQ(b.status()[8], '0');
    EXPECT_FALSE(b.machine.standingSheet(&standing));
}

TEST(Machine, ArbitraryBytesNeverBreakTheAnswers)
{
    Bench b(deckOptions("A\n!jam 1\nB\n!empty\n"));
    // Mostly protocol bytes, so that every kind of frame is hit half-way.
    const std::string alphabet("s0123ewdt\x04\r\n\x11\x12\x1b\x0er\x1c\x1d\x07\x60\x14\xff", 23);
    uint32_t seed = 12345;
    std::string noise;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        uint32_t r = seed >> 16;
        noise.push_back(r % 8 == 0 ? char(r >> 8) : alphabet[r % alphabet.size()]);
    }
    b.send(noise);
    b.clock = 10;
    std::vector<RawFrame> partial;
    b.parser.abandon(&partial);  // whatever frame the noise left open
    std::string s = b.status();
    ASSERT_EQ(s.size(), 50u);
    EXPECT_EQ(b.send("s3").size(), 4u);
}
