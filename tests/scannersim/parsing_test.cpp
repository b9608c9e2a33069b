// The text formats: configuration numbers, deck files, line settings.
#include <gtest/gtest.h>

#include "codes.h"
#include "deck.h"
#include "line.h"

using namespace scannersim;

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
