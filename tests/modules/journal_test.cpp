// A value in the system log as the administrator's parser reads it back:
// quoted and escaped where needed, and cut without breaking a quote or an
// escape (the runs through the real log never reach those limits).
#include <gtest/gtest.h>

#include <string>

#include "markfeed/journal.h"

namespace {

TEST(LogText, ValuesAreBareOrQuotedAndCutToFit)
{
    const struct {
        std::string value;
        size_t size;
        std::string written;
    } cases[] = {
        {"/dev/ttyS0", 64, "/dev/ttyS0"},
        {"", 64, "\"\""},
        {"12/08/26 10:04 1234, 12", 64, "\"12/08/26 10:04 1234, 12\""},
        {"say \"hi\" \\ now", 64, "\"say \\\"hi\\\" \\\\ now\""},
        {"tab\there\x7f", 64, "\"tab\\x09here\\x7f\""},
        {"a b c d e f", 8, "\"a b c\""},  // cut, still closed
        {"abcdefghij", 8, "abcdefg"},     // cut
        {"\"\"\"\"", 6, "\"\\\"\""},      // an escape is never split
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        char out[64];
        EXPECT_EQ(logvalue(c.value.c_str(), out, c.size), c.written.size());
        EXPECT_EQ(std::string(out), c.written);
    }
}

}  // namespace
