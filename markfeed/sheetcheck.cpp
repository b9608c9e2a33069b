#include "markfeed/sheetcheck.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "markfeed/frames.h"
#include "markfeed/operator.h"

namespace {

// The others read it through the const printstr of sheetcheck.h.
namespace own {
char printstr[PRINTSTR_SIZE];
}

}  // namespace

// constexpr: bound before any code runs, whatever order the files start in.
constexpr const char (&printstr)[PRINTSTR_SIZE] = own::printstr;

namespace {

struct Layout {
    int document;
    int length;   // expected record length
    int voucher;  // offset of the 7-character voucher number
    int dataset;  // offset of the dataset field
    int datasetwidth;
    int checksum;  // offset of the 2-character checksum field
};

const Layout layouts[] = {
    {1, 1038, 21, 28, 3, 31},  {2, 695, 272, 279, 2, 281}, {3, 827, 272, 279, 2, 281},
    {4, 329, 41, 48, 2, 50},   {5, 905, 21, 28, 3, 31},    {6, 1169, 21, 28, 3, 31},
    {8, 1054, 21, 28, 3, 31},  {10, 1038, 21, 28, 3, 31},  {11, 1180, 21, 28, 3, 31},
    {12, 1179, 21, 28, 3, 31}, {13, 897, 21, 28, 3, 31},   {14, 226, 41, 48, 3, 51},
};

const Layout *findlayout(int document)
{
    for (const Layout &layout : layouts)
        if (layout.document == document)
            return &layout;
    return nullptr;
}

// The number in the field of width characters at offset; the part of the
// field past the end of the record reads as missing.
long field(const char *record, int length, int offset, int width)
{
    char text[8] = "";
    if (offset < length) {
        int take = length - offset < width ? length - offset : width;
        memcpy(text, record + offset, static_cast<size_t>(take));
        text[take] = '\0';
    }
    return readnumber(text);
}

int rejected(Verdict *verdict, const char *format, ...) __attribute__((format(printf, 2, 3)));

int rejected(Verdict *verdict, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(verdict->message, sizeof verdict->message, format, args);
    va_end(args);
    verdict->accepted = 0;
    return 0;
}

// The record, spaces to the stamp's column and the stamp's 27 characters.
void buildoutput(const char *record, int length, const char *stamp, char *output)
{
    memcpy(output, record, static_cast<size_t>(length));
    memset(output + length, ' ', static_cast<size_t>(STAMP_OFFSET - length));
    memcpy(output + STAMP_OFFSET, stamp, STAMP_LENGTH);
    output[OUTPUT_LENGTH] = '\0';
}

}  // namespace

int sheetverdict(const char *record, int dataset, int alignment, time_t when, Verdict *verdict)
{
    verdict->message[0] = verdict->output[0] = verdict->stamp[0] = '\0';
    int length = static_cast<int>(strnlen(record, OUTREC_SIZE - 1));
    int document = static_cast<int>(field(record, length, 11, 2));
    const Layout *layout = findlayout(document);
    if (layout == nullptr)
        return rejected(verdict, "S1:  Invalid document number.  Rescan sheet.  Press <ENTER>.");

    struct tm local;
    localtime_r(&when, &local);
    long voucher = field(record, length, layout->voucher, 7);
    int form = static_cast<int>(field(record, length, layout->dataset, layout->datasetwidth));
    int checksum = static_cast<int>(field(record, length, layout->checksum, 2));
    snprintf(verdict->stamp, sizeof verdict->stamp,
             "%02d/%02d/%02d %02d:%02d %ld, %d              ", local.tm_mon + 1, local.tm_mday,
             local.tm_year % 100, local.tm_hour, local.tm_min, voucher, form);

    if (length != layout->length)
        return rejected(verdict, "S2:  Invalid record (%d/%d).  Rescan sheet.  Press <ENTER>.",
                        length, layout->length);
    buildoutput(record, length, verdict->stamp, verdict->output);
    verdict->accepted = 1;
    if (alignment == 1)
        return 1;
    if (form != dataset)
        return rejected(verdict,
                        "S4:  Form dataset %d does not match current dataset %d.  Press <ENTER>.",
                        form, dataset);
    if (checksum == 0)
        return 1;
    int ones = binarycnt(static_cast<unsigned int>(voucher));
    if (ones == checksum)
        return 1;
    return rejected(verdict, "S3:  Voucher# %ld checksum %d does not match %d.  Press <ENTER>.",
                    voucher, checksum, ones);
}

int editform(char *record)
{
    Verdict verdict;
    sheetverdict(record, dmldatabase, testheads, time(nullptr), &verdict);
    if (verdict.stamp[0] != '\0')
        memcpy(own::printstr, verdict.stamp, sizeof own::printstr);
    if (verdict.accepted) {
        memcpy(record, verdict.output, OUTPUT_LENGTH + 1);
        return 1;
    }
    DlAltHopper();
    showmsg(verdict.message, 1);
    return 0;
}

int binarycnt(unsigned int value)
{
    int count = 0;
    for (int bit = 31; bit >= 0; bit--) {
        unsigned int weight = 1u << bit;
        if (value >= weight) {
            count++;
            value -= weight;
        }
    }
    return count;
}
