// Splitting the host's byte stream into frames, encoding answers, and the
// text formats: configuration numbers, deck files, line settings.
#include <gtest/gtest.h>

#include "codes.h"
#include "deck.h"
#include "frames.h"
#include "line.h"
#include "status.h"
#include "support/scanner.h"
#include "wire.h"

using namespace scannersim;
using support::frame;
using support::Strings;

namespace {

std::vector<RawFrame> parse(const std::string &bytes, const Codes &codes = Codes())
{
    FrameParser parser(codes);
    std::vector<RawFrame> frames;
    for (char c : bytes)
        parser.feed(uint8_t(c), &frames);
    return frames;
}

Strings names(const std::vector<RawFrame> &frames)
{
    Strings out;
    for (const RawFrame &f : frames)
        out.push_back(frameKindName(f.kind));
    return out;
}

}  // namespace

TEST(Frames, ResetSequenceAndStatusRequest)
{
    std::vector<RawFrame> frames = parse(std::string("\x14\x04\r\n\x12\x0e\x07\x60\x04s3"));
    EXPECT_EQ(names(frames),
              (Strings{"SelectScanner", "End", "Release", "Stop", "Display", "Status"}));
    EXPECT_EQ(frames[1].bytes, "\x04\r\n");
    EXPECT_EQ(frames[5].payload, "3");
}

TEST(Frames, PayloadRunsToTheTripleWhateverItHolds)
{
    std::string dlf = std::string("\x1c") + "A\r\nB\x04\rC\x04\x04\r" + "\x11s0" + "\x04\r\n";
    std::vector<RawFrame> frames = parse(dlf + "s0");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, FrameKind::Download);
    EXPECT_EQ(frames[0].payload, "A\r\nB\x04\rC\x04\x04\r\x11s0");
    EXPECT_EQ(frames[0].bytes, dlf);
    EXPECT_EQ(frames[1].kind, FrameKind::Status);
}

TEST(Frames, EmptyPayloadAndPrintFrames)
{
    std::vector<RawFrame> frames = parse(frame('\x1c', "") + frame('1', "00") + frame('2', ""));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].payload, "");
    EXPECT_EQ(frames[1].kind, FrameKind::PrintPos);
    EXPECT_EQ(frames[1].payload, "00");
    EXPECT_EQ(frames[2].kind, FrameKind::PrintData);
    EXPECT_EQ(frames[2].payload, "");
}

TEST(Frames, ModeChangeRunAndSingleBytes)
{
    std::vector<RawFrame> frames = parse(std::string("ed\x04\r\n\x1d"
                                                     "1,2\n\x04\r\n\x11r\x1b\x12\x0e"));
    EXPECT_EQ(names(frames), (Strings{"ModeChange", "RunParameters", "Initiate", "Start",
                                      "AltHopper", "Release", "Stop"}));
    EXPECT_EQ(frames[0].payload, "d");
    EXPECT_EQ(frames[1].payload, "1,2\n");
}

TEST(Frames, StrayBytesAreUnknownAndDoNotEatTheNextFrame)
{
    std::vector<RawFrame> frames = parse(std::string("\x7f\x07Xs0\x04\rs1"));
    EXPECT_EQ(names(frames),
              (Strings{"Unknown", "Unknown", "Unknown", "Status", "Unknown", "Status"}));
    EXPECT_EQ(frames[1].bytes, "\x07");
    EXPECT_EQ(frames[4].bytes, "\x04\r");
}

TEST(Frames, AbandonGivesUpAPartialFrame)
{
    FrameParser parser{Codes()};
    std::vector<RawFrame> frames;
    for (char c : std::string("eq\x04"))
        parser.feed(uint8_t(c), &frames);
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
    parser.feed(0x1c, &frames);
    for (size_t i = 0; i < FrameParser::kMaxPayload + 5000; ++i)
        parser.feed('A', &frames);
    for (char c : std::string("\x04\r\n"))
        parser.feed(uint8_t(c), &frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_LE(frames[0].bytes.size(), FrameParser::kMaxPayload + 4);
    EXPECT_GT(frames[0].dropped, 0u);
    EXPECT_EQ(frames[0].payload.size() + frames[0].dropped, FrameParser::kMaxPayload + 5000);
}

TEST(Frames, CodesFromAConfigurationFile)
{
    Codes codes;
    codes.eoi = 0x05;
    codes.statusControl = 'S';
    codes.initiate = 0x16;
    std::vector<RawFrame> frames = parse(std::string("S0ew\x05\r\n\x16\x07\x60\x05"), codes);
    EXPECT_EQ(names(frames), (Strings{"Status", "ModeChange", "Initiate", "Display"}));
}

TEST(Status, LayoutAndLengths)
{
    LongStatusFlags f;
    f.feed = 0x02;
    f.error = 0x0C;
    f.print = 0x08;
    f.hopper = 0x03;
    f.detail1 = 0x01;
    f.handshake = 'I';
    f.mode = 'd';
    std::string s = longStatus(f);
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

namespace {

std::vector<long> numbers(const std::string &text)
{
    long values[30] = {0};
    int count = scanConfigNumbers(text, values);
    return std::vector<long>(values, values + count);
}

}  // namespace

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
    EXPECT_FALSE(parseDeck("bad\\q\n", &deck, &error));
    EXPECT_FALSE(parseDeck("cut\\x4\n", &deck, &error));
    EXPECT_FALSE(parseDeck("trailing\\\n", &deck, &error));
    EXPECT_FALSE(parseDeck("!delay\n", &deck, &error));
    EXPECT_FALSE(parseDeck("!jam soon\n", &deck, &error));
    EXPECT_FALSE(parseDeck("!fire\n", &deck, &error));
    EXPECT_FALSE(parseDeck("!jam 1 2\n", &deck, &error));
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
    EXPECT_FALSE(parseLineSpec("19200:9O2", &line));
    EXPECT_FALSE(parseLineSpec("19200:7X2", &line));
    EXPECT_FALSE(parseLineSpec("19200:7O3", &line));
    EXPECT_FALSE(parseLineSpec("19200-7O2", &line));
    EXPECT_FALSE(parseLineSpec(":7O2", &line));
    EXPECT_FALSE(parseLineSpec("99999999999:7O2", &line));
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
