// CP932 conversion through glibc's iconv.
#include "platform/system/cp932.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace {

// Length of the UTF-8 sequence that starts with byte c (1 for a stray byte).
size_t Utf8SequenceLength(unsigned char c)
{
    if (c >= 0xF0)
        return 4;
    if (c >= 0xE0)
        return 3;
    if (c >= 0xC0)
        return 2;
    return 1;
}

// Converts with iconv, replacing each input sequence that cannot be converted
// by `replacement`; a UTF-8 source skips the whole bad sequence.
std::string Convert(const char* to, const char* from, const std::string& in, const std::string& replacement,
                    bool utf8Source)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return in;
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: one bad byte; replace it and go on.
            out += replacement;
            size_t skip = utf8Source ? Utf8SequenceLength(static_cast<unsigned char>(*src)) : 1;
            skip = std::min(skip, srcLeft);
            src += skip;
            srcLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

namespace cp932 {

std::string FromUtf8(const std::string& utf8)
{
    return Convert("CP932", "UTF-8", utf8, "?", true);
}

std::string ToUtf8(const std::string& bytes)
{
    return Convert("UTF-8", "CP932", bytes, "\xEF\xBF\xBD", false);
}

QString ToQString(const std::string& bytes)
{
    return QString::fromStdString(ToUtf8(bytes));
}

std::string FromQString(const QString& text)
{
    return FromUtf8(text.toStdString());
}

}  // namespace cp932
