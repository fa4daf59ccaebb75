#include <gtest/gtest.h>

#include <string>

#include "ui/info_text.h"

TEST(InfoText, TheConsoleGetsNoControlCharactersAndBothAtMost4KiB)
{
    struct CASE {
        const char* what;
        std::string text;
        std::string console;
    };
    const CASE cases[] = {
        {"plain lines and tabs stay", "Patch 8\n\tnew map\n", "Patch 8\n\tnew map\n"},
        {"an escape sequence loses its ESC", "a\x1b[2J\x1b]0;title\x07z", "a[2J]0;titlez"},
        {"carriage return, backspace, DEL, NUL", std::string("a\rb\bc\x7f" "d\0e", 9), "abcde"},
        {"C1 controls as UTF-8 go, letters stay", "\xc2\x9b" "31m\xc2\x85|\xc2\xa0|\xd0\x96", "31m|\xc2\xa0|\xd0\x96"},
        {"Windows-1251 letters stay", "\xcf\xe0\xf2\xf7 \xa8", "\xcf\xe0\xf2\xf7 \xa8"},
        {"a lone C2 at the end stays", "x\xc2", "x\xc2"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(InfoTextForConsole(c.text), c.console);
    }
    // The cut comes before the filter: a longer text never shows more than its first 4 KiB.
    std::string longText(kInfoTextShownSize, 'a');
    longText += "tail";
    EXPECT_EQ(InfoTextShown(longText), std::string(4096, 'a'));
    EXPECT_EQ(InfoTextForConsole(longText), std::string(4096, 'a'));
    EXPECT_EQ(InfoTextForConsole(std::string(4095, '\x1b') + "xy"), "x");
    EXPECT_EQ(InfoTextShown("short"), "short");
}
