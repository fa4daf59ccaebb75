#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/guard.h"
#include "common/trace_log.h"
#include "support/trace_capture.h"

struct GUARDED {
    void ThrowText(const char* text)
    {
        RX_GUARD_BEGIN
        throw text;
        RX_GUARD_END("GUARDED::ThrowText")
    }

    int ThrowOther()
    {
        RX_GUARD_BEGIN
        throw 42;
        RX_GUARD_END("GUARDED::ThrowOther")
    }

    void Outer(const char* text)
    {
        RX_GUARD_BEGIN
        Inner(text);
        RX_GUARD_END("GUARDED::Outer")
    }

    void Inner(const char* text)
    {
        RX_GUARD_BEGIN
        throw RXExs(text);
        RX_GUARD_END("GUARDED::Inner")
    }

    int Fine()
    {
        RX_GUARD_BEGIN
        return 7;
        RX_GUARD_END("GUARDED::Fine")
    }
};

namespace {

const std::string kDashes = "---------------------------------------------------------\n";

// "label\t| file:...,\tline:N\t\tfunc:NAME\n"
void ExpectFailureLine(const std::string& line, const std::string& label, const std::string& func)
{
    EXPECT_EQ(line.rfind(label + "\t| file:", 0), 0u) << line;
    EXPECT_NE(line.find("guard_test.cpp,\tline:"), std::string::npos) << line;
    const std::string tail = "\t\tfunc:" + func + "\n";
    ASSERT_GE(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
}

template <typename F>
RXExs Caught(F&& f)
{
    try {
        f();
    } catch (const RXExs& e) {
        return e;
    }
    ADD_FAILURE() << "no RXExs thrown";
    return RXExs("none");
}

} // namespace

TEST(Guard, ThrownTextBecomesRxExsWithThreeLines)
{
    TRACE_CAPTURE capture;
    GUARDED g;
    const RXExs e = Caught([&] { g.ThrowText("disk on fire"); });
    EXPECT_STREQ(e.Text(), "disk on fire");
    const auto lines = capture.LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "User Rised Exception\n");
    EXPECT_EQ(lines[1], kDashes);
    ExpectFailureLine(lines[2], "GUARDED::ThrowText", "GUARDED::ThrowText");
    EXPECT_TRUE(capture.ErrorTexts().empty());
}

TEST(Guard, NullTextGivesUnknownMarker)
{
    TRACE_CAPTURE capture;
    GUARDED g;
    const RXExs e = Caught([&] { g.ThrowText(nullptr); });
    EXPECT_STREQ(e.Text(), "EXS( unknown )");
    EXPECT_EQ(capture.LogLines().size(), 3u);
}

TEST(Guard, OtherTypeGivesUnknownAndSystemLineWithoutLineFeed)
{
    TRACE_CAPTURE capture;
    GUARDED g;
    const RXExs e = Caught([&] { g.ThrowOther(); });
    EXPECT_STREQ(e.Text(), "unknown");
    const auto lines = capture.LogLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "System Rised Exception");
    EXPECT_EQ(lines[1], kDashes);
    ExpectFailureLine(lines[2], "GUARDED::ThrowOther", "GUARDED::ThrowOther");
}

TEST(Guard, RxExsThroughTwoGuardsLogsInnerThenOuterAndKeepsText)
{
    TRACE_CAPTURE capture;
    GUARDED g;
    const RXExs e = Caught([&] { g.Outer("inner failure"); });
    EXPECT_STREQ(e.Text(), "inner failure");
    const auto lines = capture.LogLines();
    ASSERT_EQ(lines.size(), 2u);
    ExpectFailureLine(lines[0], "GUARDED::Inner", "GUARDED::Inner");
    ExpectFailureLine(lines[1], "GUARDED::Outer", "GUARDED::Outer");
}

TEST(Guard, NormalReturnPassesThroughSilently)
{
    TRACE_CAPTURE capture;
    GUARDED g;
    EXPECT_EQ(g.Fine(), 7);
    EXPECT_TRUE(capture.m_Entries.empty());
}

TEST(Guard, QualifiedNameFromSignatures)
{
    char out[64];
    EXPECT_STREQ(RxQualifiedName("bool NET_CLIENT::Connect(const char*, short unsigned int)", out, 64),
                 "NET_CLIENT::Connect");
    EXPECT_STREQ(RxQualifiedName("void ParseArgServer(PTR_ARRAY<HEAP_STR>&, const char*)", out, 64),
                 "ParseArgServer");
    EXPECT_STREQ(RxQualifiedName("std::vector<int, std::allocator<int> > A::B()", out, 64), "A::B");
    EXPECT_STREQ(RxQualifiedName("Connect", out, 64), "Connect");
    EXPECT_STREQ(RxQualifiedName("void (anonymous namespace)::P::Run(int)", out, 64),
                 "(anonymous namespace)::P::Run");
    EXPECT_STREQ(RxQualifiedName("void X::LongName()", out, 4), "X::");
}

TEST(RxExs, FixedSizeMessage)
{
    const std::string fits(511, 'a');
    EXPECT_EQ(std::string(RXExs(fits.c_str()).Text()), fits);
    const std::string longer(700, 'b');
    EXPECT_EQ(std::string(RXExs(longer.c_str()).Text()), std::string(511, 'b'));
    EXPECT_STREQ(RXExs(nullptr).Text(), "EXS( unknown )");
    // Copies are bytewise and complete.
    RXExs a("copy me");
    RXExs b = a;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof(RXExs)), 0);
}

TEST(TraceLog, ScopeStackReturnsOldCount)
{
    ASSERT_NE(g_trace, nullptr);
    TRACE_LOG& log = *g_trace;
    ASSERT_EQ(log.ScopeDepth(), 0u);
    int a = 0, b = 0, c = 0;
    EXPECT_EQ(log.PushScope(&a), 0);
    EXPECT_EQ(log.PushScope(&b), 1);
    EXPECT_EQ(log.PushScope(&c), 2);
    log.PopScope();
    EXPECT_EQ(log.ScopeDepth(), 2u);
    log.PopScope();
    log.PopScope();
    log.PopScope(); // an empty stack stays empty
    EXPECT_EQ(log.ScopeDepth(), 0u);
}

TEST(TraceLog, FormatsLogAndErrorLinesForTheSink)
{
    TRACE_CAPTURE capture;
    g_trace->Log("NET_SERVER: init %s\n", "complete");
    RX_ERROR("error connect to:%s", "example.org");
    ASSERT_EQ(capture.m_Entries.size(), 2u);
    EXPECT_FALSE(capture.m_Entries[0].isError);
    EXPECT_EQ(capture.m_Entries[0].text, "NET_SERVER: init complete\n");
    EXPECT_TRUE(capture.m_Entries[1].isError);
    EXPECT_EQ(capture.m_Entries[1].text, "error connect to:example.org");
    EXPECT_NE(capture.m_Entries[1].file.find("guard_test.cpp"), std::string::npos);
    EXPECT_GT(capture.m_Entries[1].line, 0);
}
