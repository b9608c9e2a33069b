// The deck: the sheets in the input hopper, and the conditions the
// scanner meets while feeding them.
#pragma once

#include <string>
#include <vector>

namespace scannersim {

enum class EntryKind {
    Record,   // a sheet and its record (possibly empty: !blank; none: !lost)
    Empty,    // hopper empty
    Stopped,  // scanner stopped (not ready until Start)
    Jam,
    Skew,
    MultiFeed,
    ReadCheck,  // code 3..6
    NotReady,   // error flag, not the stop flag
    FormError,  // code 10..16
    Delay,      // slow feed before the next record
};

struct DeckEntry {
    EntryKind kind = EntryKind::Record;
    int line = 0;         // 1-based line of the deck text
    std::string record;   // Record only, escapes decoded
    int code = 0;         // ReadCheck / FormError
    double seconds = -1;  // < 0: until the host sends Start
    bool lost = false;    // Record only: fed, but nothing is sent for it
};

// Parses deck text. false with *error ("line N: ...") on a bad line.
bool parseDeck(const std::string &text, std::vector<DeckEntry> *entries, std::string *error);

// Decodes \r \n \\ \xHH; false on a bad escape.
bool unescapeRecord(const std::string &in, std::string *out);

// Printable form for transcripts and sheet files: quotes, backslashes
// and non-printable bytes come out as \" \\ \xHH.
std::string quoteText(const std::string &bytes);

// "73 30 0d 0a"
std::string hexBytes(const std::string &bytes);

// Whether the entry is one the scanner meets as soon as it is next in
// line (rather than when it tries to feed).
bool isStanding(EntryKind kind);

std::string entryName(EntryKind kind);

}  // namespace scannersim
