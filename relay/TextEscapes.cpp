// The escapes that keep texts with line breaks on one line of korvo.ini.
#include "relay/TextEscapes.h"

#include <string_view>

#include "platform/system/cp932.h"

namespace {

// Every occurrence of `from` replaced by `to`, searching from the start and
// going on behind each inserted text. Matches start only at character
// boundaries: the two bytes of a double-byte character are passed over
// together.
std::string ReplaceAll(const std::string& text, std::string_view from, std::string_view to)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size();) {
        if (std::string_view(text).substr(i, from.size()) == from) {
            out.append(to);
            i += from.size();
            continue;
        }
        const size_t length = cp932::CharLength(text, i);
        out.append(text, i, length);
        i += length;
    }
    return out;
}

}  // namespace

std::string EscapeControlChars(const std::string& text)
{
    std::string out = ReplaceAll(text, "\r", "\\r");
    out = ReplaceAll(out, "\n", "\\n");
    return ReplaceAll(out, "\t", "\\t");
}

std::string UnescapeControlChars(const std::string& text)
{
    std::string out = ReplaceAll(text, "\\r", "\r");
    out = ReplaceAll(out, "\\n", "\n");
    return ReplaceAll(out, "\\t", "\t");
}
