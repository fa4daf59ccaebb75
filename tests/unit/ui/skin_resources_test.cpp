// The compiled resources of the Windows build: the update dialog's template, the skin
// bitmaps (the very bytes of the committed BMPs) and the application manifest.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "support/temp_dir.h"

namespace {

std::string ResourceBytes(LPCSTR name, LPCSTR type, WORD language)
{
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceExA(module, type, name, language);
    if (found == nullptr)
        return std::string();
    const HGLOBAL loaded = LoadResource(module, found);
    const void* data = LockResource(loaded);
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

// Reads a DLGTEMPLATEEX from the front: little-endian words, wide texts, alignment.
class TEMPLATE_READER {
public:
    explicit TEMPLATE_READER(const std::string& bytes) : m_bytes(bytes) {}

    uint16_t Word()
    {
        uint16_t v = 0;
        if (m_pos + 2 <= m_bytes.size())
            std::memcpy(&v, m_bytes.data() + m_pos, 2);
        else
            m_bad = true;
        m_pos += 2;
        return v;
    }
    uint32_t Dword()
    {
        const uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    uint8_t Byte()
    {
        uint8_t v = 0;
        if (m_pos < m_bytes.size())
            v = static_cast<uint8_t>(m_bytes[m_pos]);
        else
            m_bad = true;
        ++m_pos;
        return v;
    }
    // A zero-terminated UTF-16 text, returned as ASCII (the template's texts are ASCII).
    std::string Text()
    {
        std::string s;
        for (uint16_t c = Word(); c != 0 && !m_bad; c = Word())
            s += c < 128 ? static_cast<char>(c) : '?';
        return s;
    }
    // sz_Or_Ord: "#<n>" for an ordinal, else the text.
    std::string TextOrOrdinal()
    {
        const uint16_t first = Word();
        if (first == 0xFFFF) {
            std::string ordinal = "#";
            ordinal += std::to_string(Word());
            return ordinal;
        }
        m_pos -= 2;
        return Text();
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~size_t(3); }
    bool AtEnd() const { return m_pos >= m_bytes.size(); }
    bool Bad() const { return m_bad; }

private:
    const std::string& m_bytes;
    size_t m_pos = 0;
    bool m_bad = false;
};

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct EXPECTED_CONTROL {
    uint32_t id;
    const char* className; // "#<ordinal>" for the predefined classes
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    const char* text;
};

} // namespace

TEST(SkinResources, UpdateDialogTemplateIsExact)
{
    const std::string bytes =
        ResourceBytes(MAKEINTRESOURCEA(IDD_UPDATE), MAKEINTRESOURCEA(5), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    ASSERT_FALSE(bytes.empty()) << "dialog 101 with the Russian resource language";
    TEMPLATE_READER r(bytes);
    EXPECT_EQ(r.Word(), 1u);      // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFFu); // signature of the extended template
    EXPECT_EQ(r.Dword(), 0u);     // help id
    EXPECT_EQ(r.Dword(), 0u);     // extended style
    // No caption, no WS_CLIPCHILDREN: 0x80880840.
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(WS_POPUP | WS_BORDER | WS_SYSMENU | DS_CENTER | DS_SETFONT));
    const uint16_t count = r.Word();
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(r.Word(), 0u);   // x
    EXPECT_EQ(r.Word(), 0u);   // y
    EXPECT_EQ(r.Word(), 338u); // width
    EXPECT_EQ(r.Word(), 255u); // height
    EXPECT_EQ(r.TextOrOrdinal(), "");  // no menu
    EXPECT_EQ(r.TextOrOrdinal(), "");  // no class of its own
    EXPECT_EQ(r.Text(), "");           // empty title
    EXPECT_EQ(r.Word(), 8u);           // point size
    EXPECT_EQ(r.Word(), 400u);         // weight
    EXPECT_EQ(r.Byte(), 0u);           // not italic
    EXPECT_EQ(r.Byte(), 204u);         // RUSSIAN_CHARSET
    EXPECT_EQ(r.Text(), "Microsoft Sans Serif");

    const uint32_t child = WS_CHILD | WS_VISIBLE;
    const EXPECTED_CONTROL expected[] = {
        {IDCANCEL, "#128", child | WS_TABSTOP | BS_OWNERDRAW, 0, 210, 211, 104, 27, "Cancel"},
        {IDC_PROGRESS, "msctls_progress32", child | PBS_SMOOTH, WS_EX_TRANSPARENT, 21, 212, 188, 26, ""},
        {IDC_INFO, "#129", child | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_MULTILINE, 0, 19, 43, 297, 156, ""},
        {IDCLOSE, "#128", child | WS_TABSTOP | BS_OWNERDRAW, 0, 119, 213, 100, 25, "Close"},
    };
    for (const EXPECTED_CONTROL& want : expected) {
        SCOPED_TRACE(testing::Message() << "control " << want.id);
        r.AlignDword();
        EXPECT_EQ(r.Dword(), 0u); // help id
        EXPECT_EQ(r.Dword(), want.exStyle);
        EXPECT_EQ(r.Dword(), want.style);
        EXPECT_EQ(static_cast<int16_t>(r.Word()), want.x);
        EXPECT_EQ(static_cast<int16_t>(r.Word()), want.y);
        EXPECT_EQ(static_cast<int16_t>(r.Word()), want.cx);
        EXPECT_EQ(static_cast<int16_t>(r.Word()), want.cy);
        EXPECT_EQ(r.Dword(), want.id);
        // 0x80 Button, 0x81 Edit; class names compare without case, as Windows does.
        EXPECT_EQ(Lower(r.TextOrOrdinal()), Lower(want.className));
        EXPECT_EQ(r.TextOrOrdinal(), want.text);
        EXPECT_EQ(r.Word(), 0u); // no creation data
    }
    EXPECT_FALSE(r.Bad()) << "template shorter than its contents";
}

TEST(SkinResources, BitmapsAreTheCommittedImages)
{
    struct ROW {
        int id;
        const char* file;
        int width, height;
    };
    const ROW rows[] = {
        {IDB_CANCEL_LIT, "cancel_lit.bmp", 154, 46}, {IDB_CANCEL, "cancel.bmp", 154, 46},
        {IDB_CLOSE_LIT, "close_lit.bmp", 154, 46},   {IDB_CLOSE, "close.bmp", 154, 46},
        {IDB_BACKGROUND, "background.bmp", 512, 415},
    };
    for (const ROW& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string res = ResourceBytes(MAKEINTRESOURCEA(row.id), MAKEINTRESOURCEA(2), // RT_BITMAP
                                              MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        ASSERT_GE(res.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        std::memcpy(&header, res.data(), sizeof(header));
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(header.biWidth, row.width);
        EXPECT_EQ(header.biHeight < 0 ? -header.biHeight : header.biHeight, row.height);
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        const size_t stride = (row.width * 3 + 3) & ~3;
        EXPECT_GE(res.size(), sizeof(header) + stride * row.height);

        // The resource is the committed file without its 14-byte file header.
        std::string file;
        std::string path = VELGRIM_SOURCE_DIR;
        path += "/res/";
        path += row.file;
        ASSERT_TRUE(ReadWholeFile(path, &file));
        ASSERT_GT(file.size(), 14u);
        EXPECT_EQ(file.substr(0, 2), "BM");
        EXPECT_TRUE(file.substr(14) == res) << "resource differs from res/" << row.file;

        // And it loads as a bitmap of that size.
        const HBITMAP loaded = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.id));
        ASSERT_NE(loaded, nullptr);
        BITMAP info = {};
        ASSERT_NE(GetObjectA(loaded, sizeof(info), &info), 0);
        EXPECT_EQ(info.bmWidth, row.width);
        EXPECT_EQ(info.bmHeight, row.height);
        DeleteObject(loaded);
    }
    // Bitmap 106 is not part of the skin.
    EXPECT_EQ(FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(106), MAKEINTRESOURCEA(2)), nullptr);
}

static BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

static BOOL CALLBACK CountName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR count)
{
    EnumResourceLanguagesA(module, type, name, CountLanguage, count);
    return TRUE;
}

TEST(SkinResources, ManifestRunsAsInvokerWithoutCommonControls6)
{
    const std::string manifest = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), // RT_MANIFEST
                                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    const char* supported[] = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    for (const char* id : supported)
    {
        std::string entry = "<supportedOS Id=\"";
        entry += id;
        entry += "\"/>";
        EXPECT_NE(manifest.find(entry), std::string::npos) << id;
    }
    EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("<dependency"), std::string::npos);

    // Exactly one manifest: none added by the toolchain beside ours.
    int manifests = 0;
    EnumResourceNamesA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(24), CountName,
                       reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
}

#endif // _WIN32
