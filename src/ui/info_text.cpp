#include "ui/info_text.h"

std::string InfoTextShown(const std::string& text)
{
    return text.substr(0, kInfoTextShownSize);
}

std::string InfoTextForConsole(const std::string& text)
{
    const std::string shown = InfoTextShown(text);
    std::string out;
    out.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(shown[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
            continue;
        // U+0080 to U+009F: C2 80 to C2 9F.
        if (c == 0xC2 && i + 1 < shown.size() && (static_cast<unsigned char>(shown[i + 1]) & 0xE0) == 0x80) {
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}
