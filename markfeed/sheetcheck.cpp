#include "sheetcheck.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "frames.h"
#include "operator.h"
#include "runsettings.h"

char outrec[OUTREC_SIZE];
char printstr[PRINTSTR_SIZE];

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

int reject(const char *text)
{
    DlAltHopper();
    showmsg(text, 1);
    return 0;
}

}  // namespace

int editform(char *record)
{
    int length = static_cast<int>(strnlen(record, OUTREC_SIZE - 1));
    int document = static_cast<int>(field(record, length, 11, 2));

    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);

    const Layout *layout = findlayout(document);
    if (layout == nullptr)
        return reject("S1:  Invalid document number.  Rescan sheet.  Press <ENTER>.");

    long voucher = field(record, length, layout->voucher, 7);
    int dataset = static_cast<int>(field(record, length, layout->dataset, layout->datasetwidth));
    int checksum = static_cast<int>(field(record, length, layout->checksum, 2));
    snprintf(printstr, sizeof printstr, "%02d/%02d/%02d %02d:%02d %ld, %d              ",
             local.tm_mon + 1, local.tm_mday, local.tm_year % 100, local.tm_hour, local.tm_min,
             voucher, dataset);

    if (length != layout->length) {
        formatmsg("S2:  Invalid record (%d/%d).  Rescan sheet.  Press <ENTER>.", length,
                  layout->length);
        return reject(msg);
    }
    memset(record + length, ' ', static_cast<size_t>(STAMP_OFFSET - length));
    memcpy(record + STAMP_OFFSET, printstr, STAMP_LENGTH);
    record[OUTPUT_LENGTH] = '\0';

    if (testheads == 1)
        return 1;
    if (dataset != dmldatabase) {
        snprintf(msg, sizeof msg,
                 "S4:  Form dataset %d does not match current dataset %d.  Press <ENTER>.", dataset,
                 dmldatabase);
        return reject(msg);
    }
    if (checksum == 0)
        return 1;
    int ones = binarycnt(static_cast<unsigned int>(voucher));
    if (ones == checksum)
        return 1;
    formatmsg("S3:  Voucher# %ld checksum %d does not match %d.  Press <ENTER>.", voucher, checksum,
              ones);
    return reject(msg);
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
