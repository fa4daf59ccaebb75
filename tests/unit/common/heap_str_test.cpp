#include <gtest/gtest.h>

#include "common/heap_str.h"

TEST(HeapStr, NullAndEmptyTexts)
{
    HEAP_STR none;
    EXPECT_EQ(none.Get(), nullptr);
    EXPECT_EQ(none.SizeWithTerminator(), 0);
    HEAP_STR fromNull(nullptr);
    EXPECT_EQ(fromNull.Get(), nullptr);
    HEAP_STR empty("");
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(empty.SizeWithTerminator(), 0);
    HEAP_STR abc("abc");
    EXPECT_EQ(abc.SizeWithTerminator(), 4);
}

TEST(HeapStr, AssignCopiesAndIgnoresItsOwnPointer)
{
    char source[] = "first";
    HEAP_STR s(source);
    EXPECT_NE(s.Get(), source); // a copy, not the caller's buffer
    const char* held = s.Get();
    s.Assign(held);
    EXPECT_EQ(s.Get(), held);
    EXPECT_STREQ(s.Get(), "first");
    // Assigning a text inside the held block reads it before the block is freed.
    s.Assign(s.Get() + 2);
    EXPECT_STREQ(s.Get(), "rst");
    s.Assign(nullptr);
    EXPECT_EQ(s.Get(), nullptr);
}

TEST(HeapStr, AppendBuildsTextAndIgnoresNull)
{
    HEAP_STR s;
    s.Append(nullptr);
    EXPECT_EQ(s.Get(), nullptr);
    s.Append("GET /");
    s.Append("file");
    s.Append(nullptr);
    s.Append(" HTTP/1.1\r\n");
    EXPECT_STREQ(s.Get(), "GET /file HTTP/1.1\r\n");
    HEAP_STR copy = s;
    s.Append("x");
    EXPECT_STREQ(copy.Get(), "GET /file HTTP/1.1\r\n");
}
