#include "scannersim/wire.h"

namespace scannersim {

namespace {
constexpr size_t MAX_RUN = 63;  // the host reads the low six bits

bool needsGroup(unsigned char c, const Codes &codes)
{
    return c == codes.eor1 || c == codes.eor2 || c == codes.compress;
}
}  // namespace

std::string compressRecord(const std::string &text, const Codes &codes)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t run = 1;
        while (i + run < text.size() && text[i + run] == text[i] && run < MAX_RUN)
            ++run;
        if (run >= 3 || needsGroup((unsigned char)text[i], codes)) {
            out.push_back(char(codes.compress));
            out.push_back(char(run));
            out.push_back(text[i]);
        } else {
            out.append(run, text[i]);
        }
        i += run;
    }
    return out;
}

std::string frameAnswer(const std::string &text, const Codes &codes, bool compress)
{
    std::string out = compress ? compressRecord(text, codes) : text;
    out.push_back(char(codes.eor1));
    out.push_back(char(codes.eor2));
    return out;
}

}  // namespace scannersim
