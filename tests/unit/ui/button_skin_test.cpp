// The button table of the skin and its lookup.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>

#include "ui/win32/button_skin.h"

TEST(ButtonSkin, TableAndLookup)
{
    ASSERT_EQ(BUTTON_SKIN_COUNT, 2);
    EXPECT_EQ(g_buttonSkins[0].iControlId, IDCANCEL);
    EXPECT_EQ(g_buttonSkins[0].uLitResource, 102u);
    EXPECT_EQ(g_buttonSkins[0].uPlainResource, 103u);
    EXPECT_EQ(g_buttonSkins[1].iControlId, IDCLOSE);
    EXPECT_EQ(g_buttonSkins[1].uLitResource, 104u);
    EXPECT_EQ(g_buttonSkins[1].uPlainResource, 105u);

    // Stand-in handles: the lookup returns whatever the row holds.
    const BUTTON_SKIN saved[2] = {g_buttonSkins[0], g_buttonSkins[1]};
    g_buttonSkins[0].hLit = reinterpret_cast<HBITMAP>(0x1020);
    g_buttonSkins[0].hPlain = reinterpret_cast<HBITMAP>(0x1030);
    g_buttonSkins[1].hLit = reinterpret_cast<HBITMAP>(0x1040);
    g_buttonSkins[1].hPlain = reinterpret_cast<HBITMAP>(0x1050);
    struct {
        int id;
        bool hover;
        uintptr_t want;
    } const cases[] = {
        {IDCANCEL, true, 0x1020}, {IDCANCEL, false, 0x1030}, {IDCLOSE, true, 0x1040},
        {IDCLOSE, false, 0x1050}, {IDOK, true, 0},           {1003, false, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reinterpret_cast<uintptr_t>(GetSkinBitmap(c.id, c.hover)), c.want) << c.id << " " << c.hover;
    g_buttonSkins[0] = saved[0];
    g_buttonSkins[1] = saved[1];
}

TEST(ButtonSkin, ReleaseForgetsTheImages)
{
    const BUTTON_SKIN saved = g_buttonSkins[0];
    g_buttonSkins[0].hLit = CreateBitmap(4, 4, 1, 32, nullptr);
    g_buttonSkins[0].hPlain = CreateBitmap(4, 4, 1, 32, nullptr);
    ASSERT_NE(g_buttonSkins[0].hLit, nullptr);
    ReleaseButtonSkins();
    EXPECT_EQ(g_buttonSkins[0].hLit, nullptr);
    EXPECT_EQ(g_buttonSkins[0].hPlain, nullptr);
    ReleaseButtonSkins(); // a second close releases nothing twice
    g_buttonSkins[0] = saved;
}

#endif // _WIN32
