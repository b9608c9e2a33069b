// scannersim's deck files: any text, and the records it gives in the
// forms the transcript and the sheet files print them in.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "scannersim/deck.h"

using scannersim::DeckEntry;
using scannersim::EntryKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<DeckEntry> entries;
    std::string error;
    if (!scannersim::parseDeck(text, &entries, &error)) {
        FUZZ_CHECK(error.compare(0, 5, "line ") == 0);
        return 0;
    }
    int line = 0;
    for (const DeckEntry &entry : entries) {
        FUZZ_CHECK(entry.line > line);
        line = entry.line;
        FUZZ_CHECK(entry.kind == EntryKind::Record || entry.record.empty());
        FUZZ_CHECK(!entry.lost || (entry.kind == EntryKind::Record && entry.record.empty()));
        FUZZ_CHECK(entry.kind != EntryKind::Delay || entry.seconds >= 0);
        FUZZ_CHECK(!scannersim::entryName(entry.kind).empty());
        // Quoted as a transcript shows it, a record reads back as it was
        // (a deck has no escape for the quote mark).
        std::string quoted = scannersim::quoteText(entry.record);
        std::string back;
        if (entry.record.find('"') == std::string::npos)
            FUZZ_CHECK(scannersim::unescapeRecord(quoted, &back) && back == entry.record);
        size_t count = entry.record.size();
        FUZZ_CHECK(scannersim::hexBytes(entry.record).size() == (count ? 3 * count - 1 : 0));
    }
    return 0;
}
