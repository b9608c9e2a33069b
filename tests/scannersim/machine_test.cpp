// The scanner's parts in the test process: its behaviour driven frame by
// frame with a clock of our own, the host's byte stream split into frames,
// answers encoded, and the text formats (configuration numbers, deck files,
// line settings).
#include <gtest/gtest.h>

#include "scannersim/codes.h"
#include "scannersim/deck.h"
#include "scannersim/frames.h"
#include "scannersim/line.h"
#include "scannersim/machine.h"
#include "scannersim/status.h"
#include "scannersim/wire.h"
#include "tests/support/scanner.h"

using namespace scannersim;
using support::deckOptions;
using support::frame;
using support::Strings;

namespace {

const std::string INIT("\x11");

void feed(FrameParser &parser, const std::string &bytes, std::vector<RawFrame> *frames)
{
    for (char c : bytes)
        parser.feed(uint8_t(c), frames);
}

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
        feed(parser, bytes, &raws);
        std::string got;
        for (const RawFrame &raw : raws) {
            Effects fx;
            machine.take(raw, clock, &fx);
            names.push_back(fx.frame.name);
            for (const Answer &a : fx.answers)
                got += (got.empty() ? "" : "|") + a.text;
            answers += fx.answers.size();
            for (const Sheet &s : fx.departed)
                departed.push_back(s);
            lastDelay = fx.answers.empty() ? 0 : fx.answers.back().delay;
        }
        return got;
    }
    std::string status() { return send("s0"); }
    void change(char mode) { send(std::string("e") + mode + "\x04\r\n" + INIT); }
    // Download mode, and the Initiate that starts scanning.
    void startScanning()
    {
        change('d');
        send(INIT);
    }

    Machine machine;
    FrameParser parser;
    double clock = 0;
    double lastDelay = 0;
    size_t answers = 0;
    Strings names;
    std::vector<Sheet> departed;
};

TEST(Machine, ModeChangeWaitsForTheHandshake)
{
    Bench b;
    b.send("ed\x04\r\n");
    EXPECT_EQ(b.status()[48], 'w');
    b.send(INIT);
    EXPECT_EQ(b.names.back(), "Handshake");
    EXPECT_EQ(b.status()[48], 'd');
    EXPECT_EQ(b.send(INIT), "GSCANNING");
    EXPECT_EQ(b.names.back(), "Initiate");
}

TEST(Machine, WithoutHandshakeTheChangeIsImmediate)
{
    Bench b([](Options &o) { o.handshake = '0'; });
    b.send("et\x04\r\n");
    std::string s = b.status();
    EXPECT_EQ(s[48], 't');
    EXPECT_EQ(s[34], '0');
    EXPECT_EQ(b.send(INIT), "ENO DOWNLOAD");
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
    EXPECT_EQ(b.send(INIT), "NNO FORM LOADED");
    b.change('w');
    b.send(frame('\x1c', "APL,000,N;"));
    EXPECT_EQ(b.names.back(), "MemoryInit");
    b.change('t');
    EXPECT_EQ(b.send(INIT), "VMEMORY CLEARED");
    b.send(INIT);
    EXPECT_EQ(b.names.back(), "Ack");
    b.change('w');
    b.send(frame('\x1c', "FORM\r\nDATA"));
    EXPECT_EQ(b.names.back(), "FormDefinition");
    b.change('t');
    EXPECT_EQ(b.send(INIT), "GFORM LOADED");
    EXPECT_TRUE(b.machine.formLoaded());
    EXPECT_EQ(b.machine.formDefinition(), "FORM\r\nDATA");
    b.change('w');
    b.send(frame('\x1d', "1,2,3,4,5,6,7,8,9\n"));
    b.change('d');
    EXPECT_EQ(b.send(INIT), "GPARAMETERS ACCEPTED");
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
    EXPECT_EQ(b.send(INIT), "EREFUSED");
    b.change('w');
    b.change('d');
    EXPECT_EQ(b.send(INIT), "");
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
    b.startScanning();
    EXPECT_EQ(b.send(INIT), "FIRST");
    EXPECT_EQ(b.names.back(), "SheetRequest");
    EXPECT_EQ(b.status()[8], '8');
    b.send(frame('1', "00") + frame('2', "STAMP"));
    b.send("\x12");
    EXPECT_EQ(b.status()[8], '0');
    EXPECT_EQ(b.send(INIT), "SECOND");
    b.send("\x1b");
    EXPECT_EQ(b.send(INIT), "");  // deck exhausted
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
    b.startScanning();
    EXPECT_EQ(b.send(INIT), "");
    EXPECT_EQ(b.status()[7], '8');
    b.send("r");  // a timed condition ignores Start
    EXPECT_EQ(b.send(INIT), "");
    b.clock = 2.5;
    EXPECT_EQ(b.status()[7], '0');
    EXPECT_EQ(b.send(INIT), "REC");
}

TEST(Machine, UntimedConditionLastsUntilStart)
{
    Bench b(deckOptions("!readcheck 6\n!formerror 11\nREC\n"));
    b.startScanning();
    b.send(INIT);
    std::string s = b.status();
    EXPECT_EQ(s[7], '4');
    EXPECT_EQ(s[33], '1');
    b.clock = 100;
    EXPECT_EQ(b.status()[7], '4');
    b.send("r");
    EXPECT_EQ(b.status()[7], '0');
    EXPECT_EQ(b.send(INIT), "");
    EXPECT_EQ(b.send("s3"), "0?40");
    b.send("r");
    EXPECT_EQ(b.send("s3"), "0000");
    EXPECT_EQ(b.send(INIT), "REC");
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
        b.startScanning();
        b.send(INIT);
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
    b.send(INIT);
    EXPECT_EQ(b.send(INIT), "");
    b.send("r");
    EXPECT_EQ(b.status()[9], '0');
    EXPECT_EQ(b.send(INIT), "REC");
}

TEST(Machine, StopHoldsTheFeederUntilStart)
{
    Bench b(deckOptions("REC\n"));
    b.startScanning();
    b.send("\x0e");
    EXPECT_EQ(b.status()[9], '1');
    EXPECT_EQ(b.send(INIT), "");
    b.send("r");
    EXPECT_EQ(b.send(INIT), "REC");
}

TEST(Machine, BlankAndLostSheetsAndSlowFeeds)
{
    Bench b(deckOptions("!delay 1.5\n!blank\n!lost\nX\n"));
    b.startScanning();
    size_t answers = b.answers;
    EXPECT_EQ(b.send(INIT), "");
    EXPECT_EQ(b.names.back(), "SheetRequest");
    EXPECT_EQ(b.answers, answers + 1) << "an empty record";
    EXPECT_DOUBLE_EQ(b.lastDelay, 1.5);
    ASSERT_EQ(b.machine.sheets().size(), 1u);
    EXPECT_EQ(b.send(INIT), "");
    EXPECT_EQ(b.answers, answers + 1) << "nothing for the lost sheet";
    ASSERT_EQ(b.machine.sheets().size(), 2u);
    EXPECT_EQ(b.status()[8], '8') << "the lost sheet stands at the print position";
    EXPECT_EQ(b.send(INIT), "X");
    EXPECT_DOUBLE_EQ(b.lastDelay, 0);
    ASSERT_EQ(b.departed.size(), 2u);
    EXPECT_EQ(b.departed[1].record, "");
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

Strings names(const std::vector<RawFrame> &frames)
{
    Strings out;
    for (const RawFrame &f : frames)
        out.push_back(frameKindName(f.kind));
    return out;
}

TEST(Frames, BytesSplitIntoKindsPayloadsAndTheBytesReceived)
{
    // One frame's payload or bytes as received.
    struct Field {
        size_t frame;
        std::string RawFrame::*member;
        std::string value;
    };
    const auto payload = &RawFrame::payload;
    const auto bytes = &RawFrame::bytes;
    const std::string dlf = std::string("\x1c") + "A\r\nB\x04\rC\x04\x04\r" + "\x11s0" + "\x04\r\n";
    Codes configured;
    configured.eoi = 0x05;
    configured.statusControl = 'S';
    configured.initiate = 0x16;
    const struct {
        const char *what;
        std::string input;
        Strings names;
        std::vector<Field> fields;
        Codes codes = Codes();
    } cases[] = {
        {"reset sequence and status request",
         "\x14\x04\r\n\x12\x0e\x07\x60\x04s3",
         {"SelectScanner", "End", "Release", "Stop", "Display", "Status"},
         {{1, bytes, "\x04\r\n"}, {5, payload, "3"}}},
        {"a payload runs to the triple whatever it holds",
         dlf + "s0",
         {"Download", "Status"},
         {{0, payload, "A\r\nB\x04\rC\x04\x04\r\x11s0"}, {0, bytes, dlf}}},
        {"empty payloads and print frames",
         frame('\x1c', "") + frame('1', "00") + frame('2', ""),
         {"Download", "PrintPosition", "PrintData"},
         {{0, payload, ""}, {1, payload, "00"}, {2, payload, ""}}},
        {"mode change, run parameters and single bytes",
         "ed\x04\r\n\x1d"
         "1,2\n\x04\r\n\x11r\x1b\x12\x0e",
         {"ModeChange", "RunParameters", "Initiate", "Start", "AltHopper", "Release", "Stop"},
         {{0, payload, "d"}, {1, payload, "1,2\n"}}},
        {"stray bytes are unknown and do not eat the next frame",
         "\x7f\x07Xs0\x04\rs1",
         {"Unknown", "Unknown", "Unknown", "Status", "Unknown", "Status"},
         {{1, bytes, "\x07"}, {4, bytes, "\x04\r"}}},
        {"codes from a configuration file",
         "S0ew\x05\r\n\x16\x07\x60\x05",
         {"Status", "ModeChange", "Initiate", "Display"},
         {},
         configured},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FrameParser parser(c.codes);
        std::vector<RawFrame> frames;
        feed(parser, c.input, &frames);
        ASSERT_EQ(names(frames), c.names);
        for (const Field &field : c.fields)
            EXPECT_EQ(frames[field.frame].*field.member, field.value) << "frame " << field.frame;
    }
}

TEST(Frames, AbandonGivesUpAPartialFrame)
{
    FrameParser parser{Codes()};
    std::vector<RawFrame> frames;
    feed(parser, "eq\x04", &frames);
    EXPECT_TRUE(parser.partial());
    EXPECT_TRUE(parser.abandon(&frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].incomplete);
    EXPECT_EQ(frames[0].bytes, "eq\x04");
    EXPECT_FALSE(parser.abandon(&frames));
    parser.feed('s', &frames);
    parser.feed('0', &frames);
    EXPECT_EQ(frames.back().kind, FrameKind::Status);
}

TEST(Frames, EndlessPayloadStaysBounded)
{
    FrameParser parser{Codes()};
    std::vector<RawFrame> frames;
    feed(parser, "\x1c" + std::string(FrameParser::MAX_PAYLOAD + 5000, 'A') + "\x04\r\n", &frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_LE(frames[0].bytes.size(), FrameParser::MAX_PAYLOAD + 4);
    EXPECT_GT(frames[0].dropped, 0u);
    EXPECT_EQ(frames[0].payload.size() + frames[0].dropped, FrameParser::MAX_PAYLOAD + 5000);
}

TEST(Status, LayoutAndLengths)
{
    // Feed, error, print and hopper flags, the two details, handshake, mode.
    std::string s = longStatus(LongStatusFlags{0x02, 0x0C, 0x08, 0x03, 0x01, 0, 'I', 'd'});
    ASSERT_EQ(s.size(), 50u);
    EXPECT_EQ(s.substr(0, 10), "000000"
                               "2<83");
    EXPECT_EQ(s[32], '1');
    EXPECT_EQ(s[34], 'I');
    EXPECT_EQ(s[48], 'd');
    EXPECT_EQ(s.substr(10, 22), std::string(22, '0'));
    EXPECT_EQ(shortStatus().size(), 3u);
    EXPECT_EQ(downloadStatus('?', 0x08, 0x01), "0?81");
}

TEST(Status, ConditionCodesMapToTheBitsTheHostDecodes)
{
    uint8_t a, b;
    readCheckDetail(4, &a, &b);
    EXPECT_EQ(a, 0x01);
    readCheckDetail(3, &a, &b);
    EXPECT_EQ(a, 0x02);
    readCheckDetail(6, &a, &b);
    EXPECT_EQ(b, 0x01);
    readCheckDetail(5, &a, &b);
    EXPECT_EQ(a | b, 0);
    const uint8_t want2[] = {0x08, 0x04, 0x02, 0x01, 0, 0, 0};
    const uint8_t want3[] = {0, 0, 0, 0, 0x04, 0x02, 0x01};
    for (int code = 10; code <= 16; ++code) {
        formErrorFlags(code, &a, &b);
        EXPECT_EQ(a, want2[code - 10]) << code;
        EXPECT_EQ(b, want3[code - 10]) << code;
    }
}

TEST(Wire, RunsOfThreeOrMoreAreGroupedWithARawCount)
{
    Codes codes;
    EXPECT_EQ(frameAnswer("ABBBC", codes, true), "A\x15\x03"
                                                 "BC\r\n");
    EXPECT_EQ(frameAnswer("ABBC", codes, true), "ABBC\r\n");
    EXPECT_EQ(frameAnswer(std::string(64, '0'), codes, true), std::string("\x15\x3f"
                                                                          "0"
                                                                          "0\r\n"));
    EXPECT_EQ(frameAnswer("A\rB", codes, true), "A\x15\x01\rB\r\n");
    EXPECT_EQ(frameAnswer("A\rB", codes, false), "A\rB\r\n");
}

TEST(Wire, GarbledRecordsNeverKeepTheirLength)
{
    Codes codes;
    for (size_t n = 0; n < 120; ++n) {
        std::string text(n, 'G');
        for (size_t i = 0; i < n; ++i)
            text[i] = char('!' + (i * 7) % 90);
        std::string out = garble(text, codes);
        EXPECT_NE(out.size(), n);
        EXPECT_EQ(out.find_first_of(std::string("\r\n\x15")), std::string::npos);
    }
}

std::vector<long> numbers(const std::string &text)
{
    long values[30] = {0};
    int count = scanConfigNumbers(text, values);
    return std::vector<long>(values, values + count);
}

TEST(ConfigNumbers, DecimalHexAndSeparators)
{
    EXPECT_EQ(numbers("4 13 10"), (std::vector<long>{4, 13, 10}));
    EXPECT_EQ(numbers("0x04,0x0d,0x0A"), (std::vector<long>{4, 13, 10}));
    EXPECT_EQ(numbers("1x2"), (std::vector<long>{18}));
    EXPECT_EQ(numbers("-5 x1C"), (std::vector<long>{5, 1}));
    EXPECT_EQ(numbers("Eor1=13"), (std::vector<long>{1, 13}));
    EXPECT_EQ(numbers("0x1c0x2"), (std::vector<long>{0x1c0, 2}));
    EXPECT_EQ(numbers(""), std::vector<long>{});
}

TEST(ConfigNumbers, OnlyThirtyAreRead)
{
    std::string text;
    for (int i = 1; i <= 31; ++i)
        text += std::to_string(i) + "\n";
    std::vector<long> got = numbers(text);
    ASSERT_EQ(got.size(), 30u);
    EXPECT_EQ(got.back(), 30);
}

TEST(ConfigNumbers, PositionsFillCodesAndSkipTheDelay)
{
    long values[30];
    for (int i = 0; i < 30; ++i)
        values[i] = 0x40 + i;
    values[0] = 0x141;  // low 8 bits only
    Codes codes;
    applyConfigNumbers(values, 30, &codes);
    EXPECT_EQ(codes.eoi, 0x41);
    EXPECT_EQ(codes.positiveResponse, 0x40 + 6);
    EXPECT_EQ(codes.selectFromAux, 0x40 + 21);
    EXPECT_EQ(codes.downloadStatus, 0x40 + 23);
    EXPECT_EQ(codes.selectStacker, 0x40 + 24);
    EXPECT_EQ(codes.displayMode, 0x07);
    EXPECT_EQ(codes.displayRelease, 0x60);
}

TEST(ConfigNumbers, ShortFileChangesOnlyItsPositions)
{
    long values[30] = {5, 6};
    Codes codes;
    applyConfigNumbers(values, 2, &codes);
    EXPECT_EQ(codes.eoi, 5);
    EXPECT_EQ(codes.eor1, 6);
    EXPECT_EQ(codes.eor2, 0x0A);
    EXPECT_EQ(codes.start, 0x72);
}

TEST(Deck, RecordsEscapesCommentsAndConditions)
{
    std::vector<DeckEntry> deck;
    std::string error;
    ASSERT_TRUE(parseDeck("# comment\n\nAB\\r\\n\\\\\\x15Z\n!jam\n!readcheck 4 1.5\n"
                          "!blank\n!delay 2\n   \n!formerror 14\r\n!empty\n",
                          &deck, &error))
        << error;
    ASSERT_EQ(deck.size(), 7u);
    EXPECT_EQ(deck[0].kind, EntryKind::Record);
    EXPECT_EQ(deck[0].record, std::string("AB\r\n\\\x15Z"));
    EXPECT_EQ(deck[0].line, 3);
    EXPECT_EQ(deck[1].kind, EntryKind::Jam);
    EXPECT_LT(deck[1].seconds, 0);
    EXPECT_EQ(deck[2].kind, EntryKind::ReadCheck);
    EXPECT_EQ(deck[2].code, 4);
    EXPECT_DOUBLE_EQ(deck[2].seconds, 1.5);
    EXPECT_EQ(deck[3].kind, EntryKind::Record);
    EXPECT_EQ(deck[3].record, "");
    EXPECT_EQ(deck[4].kind, EntryKind::Delay);
    EXPECT_EQ(deck[5].kind, EntryKind::FormError);
    EXPECT_EQ(deck[5].code, 14);
    EXPECT_EQ(deck[5].line, 9);
    EXPECT_EQ(deck[6].kind, EntryKind::Empty);
}

TEST(Deck, BadLinesNameTheirLine)
{
    std::vector<DeckEntry> deck;
    std::string error;
    EXPECT_FALSE(parseDeck("OK\n!readcheck 7\n", &deck, &error));
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
    for (const char *bad : {"bad\\q\n", "cut\\x4\n", "trailing\\\n", "!delay\n", "!jam soon\n",
                            "!fire\n", "!jam 1 2\n", "!lost X\n"})
        EXPECT_FALSE(parseDeck(bad, &deck, &error)) << bad;
}

TEST(Deck, OverlongRecordIsRefusedNotOverflowed)
{
    std::vector<DeckEntry> deck;
    std::string error;
    EXPECT_FALSE(parseDeck(std::string(70000, 'A') + "\n", &deck, &error));
    EXPECT_TRUE(parseDeck(std::string(1300, 'A') + "\n", &deck, &error));
    EXPECT_EQ(deck.at(0).record.size(), 1300u);
}

TEST(Text, QuoteAndHex)
{
    EXPECT_EQ(quoteText(std::string("a\"b\\c\r\x01")), "a\\\"b\\\\c\\x0d\\x01");
    EXPECT_EQ(hexBytes("s0\r\n"), "73 30 0d 0a");
    EXPECT_EQ(hexBytes(""), "");
}

TEST(Line, SpecsParseAndPrint)
{
    LineSettings line;
    ASSERT_TRUE(parseLineSpec("9600:8N1", &line));
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.size, 8);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.stops, 1);
    EXPECT_EQ(formatLine(line), "9600:8N1");
    EXPECT_TRUE(parseLineSpec("19200:7o2", &line));
    EXPECT_EQ(line.parity, 'O');
    for (const char *bad :
         {"19200:9O2", "19200:7X2", "19200:7O3", "19200-7O2", ":7O2", "99999999999:7O2"})
        EXPECT_FALSE(parseLineSpec(bad, &line)) << bad;
}

TEST(Line, MatchIgnoresWhatAPtyCannotShow)
{
    LineSettings own;
    SeenLine seen;
    seen.line = own;
    seen.line.size = 8;
    seen.line.parity = 'N';
    EXPECT_TRUE(lineMatches(own, seen));
    seen.sizeParityKnown = true;
    EXPECT_FALSE(lineMatches(own, seen));
    seen.line = own;
    EXPECT_TRUE(lineMatches(own, seen));
    seen.line.stops = 1;
    EXPECT_FALSE(lineMatches(own, seen));
}

TEST(Line, CharacterTimeCountsEveryBit)
{
    LineSettings line;  // 19200 7O2: 1 + 7 + 1 + 2 bits
    EXPECT_DOUBLE_EQ(charSeconds(line), 11.0 / 19200.0);
    parseLineSpec("1200:8N1", &line);
    EXPECT_DOUBLE_EQ(charSeconds(line), 10.0 / 1200.0);
}

}  // namespace
