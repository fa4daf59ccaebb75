#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/rx_exs.h"
#include "net/net_connect.h"
#include "net/net_message_helper.h"
#include "support/net_loopback.h"
#include "support/trace_capture.h"

namespace {

std::string Built(const NET_MESSAGE_HELPER& h)
{
    return std::string(h.m_pData, static_cast<size_t>(h.m_iSize));
}

} // namespace

TEST(NetMessageHelper, PushesWriteExactLittleEndianBytes)
{
    struct CASE {
        const char* name;
        std::function<void(NET_MESSAGE_HELPER&)> push;
        std::string bytes;
    };
    const CASE cases[] = {
        {"PushDword(262)", [](NET_MESSAGE_HELPER& h) { h.PushDword(262); }, Bytes({0x06, 0x01, 0x00, 0x00})},
        {"PushInt(-1)", [](NET_MESSAGE_HELPER& h) { h.PushInt(-1); }, Bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"PushUInt(0x01020304)", [](NET_MESSAGE_HELPER& h) { h.PushUInt(0x01020304u); }, Bytes({4, 3, 2, 1})},
        {"PushString with its zero byte", [](NET_MESSAGE_HELPER& h) { h.PushString("abc", 4); },
         Bytes({0x04, 0, 0, 0, 0x61, 0x62, 0x63, 0x00})},
        {"PushString without zero byte", [](NET_MESSAGE_HELPER& h) { h.PushString("abc", 3); },
         Bytes({0x03, 0, 0, 0, 0x61, 0x62, 0x63})},
        {"PushString empty", [](NET_MESSAGE_HELPER& h) { h.PushString(nullptr, 0); }, Bytes({0, 0, 0, 0})},
        {"three dwords 1002, 0, 0",
         [](NET_MESSAGE_HELPER& h) {
             h.PushDword(1002);
             h.PushDword(0);
             h.PushDword(0);
         },
         Bytes({0xEA, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        // Mark the area, so that a byte written past the field shows.
        NET_MESSAGE_HELPER marker;
        for (int i = 0; i < 4; ++i)
            marker.PushDword(0xEEEEEEEEu);
        NET_MESSAGE_HELPER h;
        c.push(h);
        EXPECT_EQ(Hex(Built(h)), Hex(c.bytes));
        EXPECT_EQ(h.m_iSize, static_cast<int>(c.bytes.size()));
        EXPECT_EQ(h.m_pWrite, h.m_pData + c.bytes.size());
        EXPECT_EQ(static_cast<unsigned char>(h.m_pData[c.bytes.size()]), 0xEE);
    }
}

TEST(NetMessageHelper, ReadsFieldsInPlace)
{
    const std::string body = Bytes({0x04, 0, 0, 0, 'a', 'b', 'c', 0,     // counted, with zero byte
                                    0, 0, 0, 0,                          // counted, empty
                                    0xFF, 0xFF, 0xFF, 0xFF,              // -1
                                    0x06, 0x01, 0, 0});                  // 262
    NET_MESSAGE_HELPER h;
    h.InitRead(body.data());
    int length = -1;
    const char* text = h.GetData(&length);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(text, body.data() + 4);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(h.m_pRead, body.data() + 8);
    // A count of 0 points at where the next field begins; the cursor moves by 4 only.
    EXPECT_EQ(h.GetString(), body.data() + 12);
    EXPECT_EQ(h.m_pRead, body.data() + 12);
    EXPECT_EQ(h.GetUInt(), 4294967295u);
    EXPECT_EQ(h.GetDword(), 262u);
    h.InitRead(body.data() + 12);
    EXPECT_EQ(h.GetInt(), -1);
    EXPECT_FALSE(h.m_bReadFailed);
    // Reading leaves the write side alone.
    EXPECT_EQ(h.m_iSize, 0);
}

TEST(NetMessageHelper, BoundedReadNeverPassesTheBodyEnd)
{
    struct CASE {
        const char* name;
        std::string body;
        bool counted;
    };
    const CASE cases[] = {
        {"dword in 3 bytes", Bytes({1, 2, 3}), false},
        {"count beyond the body", Bytes({10, 0, 0, 0, 'a', 'b', 'c'}), true},
        {"negative count", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 'a'}), true},
        {"count field cut short", Bytes({1, 0}), true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        NET_MESSAGE_HELPER h;
        h.InitRead(c.body.data(), static_cast<int>(c.body.size()));
        int length = -1;
        if (c.counted) {
            EXPECT_EQ(h.GetData(&length), nullptr);
            EXPECT_EQ(length, 0);
        } else {
            EXPECT_EQ(h.GetDword(), 0u);
        }
        EXPECT_TRUE(h.m_bReadFailed);
        EXPECT_EQ(h.m_pRead, c.body.data());
    }
    // A field that ends exactly at the body end is fine.
    const std::string exact = Bytes({2, 0, 0, 0, 'o', 'k'});
    NET_MESSAGE_HELPER h;
    h.InitRead(exact.data(), static_cast<int>(exact.size()));
    int length = 0;
    EXPECT_EQ(h.GetData(&length), exact.data() + 4);
    EXPECT_EQ(length, 2);
    EXPECT_FALSE(h.m_bReadFailed);
    EXPECT_EQ(h.GetInt(), 0);
    EXPECT_TRUE(h.m_bReadFailed);
}

TEST(NetMessageHelper, SecondHelperOverwritesTheFirstBody)
{
    NET_MESSAGE_HELPER first;
    first.PushDword(0x11111111u);
    first.PushDword(0x22222222u);
    NET_MESSAGE_HELPER second;
    second.PushDword(0x33333333u);
    EXPECT_EQ(first.m_pData, second.m_pData);
    EXPECT_EQ(first.m_iSize, 8);
    EXPECT_EQ(Hex(Built(first)), "33 33 33 33 22 22 22 22");
    first.Reset();
    EXPECT_EQ(first.m_iSize, 0);
    EXPECT_EQ(first.m_pWrite, first.m_pData);
    EXPECT_EQ(first.m_pRead, nullptr);
}

TEST(NetMessageHelper, FillsTheAreaExactlyAndRefusesMore)
{
    TRACE_CAPTURE trace;
    const std::string big(NET_MESSAGE_HELPER::kAreaSize - 4, 'x');
    NET_MESSAGE_HELPER h;
    h.PushString(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(h.m_iSize, 262144);
    try {
        h.PushDword(1);
        FAIL() << "a push past the area must not succeed";
    } catch (const RXExs& e) {
        EXPECT_STREQ(e.Text(), "NET_MESSAGE_HELPER: message area full");
    }
    EXPECT_EQ(h.m_iSize, 262144);
    const std::vector<std::string> lines = trace.LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "User Rised Exception\n");
    EXPECT_EQ(lines[2].rfind("NET_MESSAGE_HELPER::PushDword\t| file:net/net_message_helper.cpp,", 0), 0u) << lines[2];

    h.Reset();
    h.PushDword(1);
    EXPECT_THROW(h.PushString(big.data(), static_cast<int>(big.size())), RXExs);
    EXPECT_EQ(h.m_iSize, 4);
}

TEST(NetMessageHelper, SendQueuesOneFrameAndKeepsTheBody)
{
    NET_CONNECT connection;
    NET_MESSAGE_HELPER empty;
    empty.Send(&connection, 262);
    NET_MESSAGE_HELPER request;
    request.PushDword(1002);
    request.PushDword(0);
    request.PushDword(0);
    request.Send(&connection, 256);
    request.Send(&connection, 256);
    const std::string frame256 = Bytes({0x00, 0x01, 0, 0, 0x0C, 0, 0, 0, 0xEA, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const std::string expected = Bytes({0x06, 0x01, 0, 0, 0, 0, 0, 0}) + frame256 + frame256;
    ASSERT_EQ(connection.m_iSendLen, static_cast<int>(expected.size()));
    EXPECT_EQ(Hex(std::string(connection.m_pSendBuf, expected.size())), Hex(expected));
    EXPECT_EQ(request.m_iSize, 12);
    EXPECT_THROW(request.Send(nullptr, 256), RXExs);
}
