#include <gtest/gtest.h>

#include "common/heap_str.h"
#include "common/ptr_array.h"

TEST(PtrArray, ReserveBelowCountDoesNothing)
{
    PTR_ARRAY<int> a;
    a.Init();
    a.Resize(4);
    for (int i = 0; i < 4; ++i)
        a[i] = i * 10;
    int* block = a.m_pData;
    a.Reserve(3);
    EXPECT_EQ(a.m_pData, block);
    EXPECT_EQ(a.Capacity(), 4u);
    a.Reserve(10);
    EXPECT_EQ(a.Capacity(), 10u);
    EXPECT_EQ(a.Count(), 4u);
    EXPECT_EQ(a[3], 30);
}

TEST(PtrArray, ResizeAcrossCapacityWithoutDoubling)
{
    PTR_ARRAY<void*> a;
    a.Init();
    EXPECT_EQ(a.Push(&a), 0u);
    EXPECT_EQ(a.Capacity(), 1u);
    EXPECT_EQ(a.Push(nullptr), 1u);
    EXPECT_EQ(a.Capacity(), 2u); // exactly n, no doubling
    a.Resize(1);                 // below the capacity: only the count changes
    EXPECT_EQ(a.Count(), 1u);
    EXPECT_EQ(a.Capacity(), 2u);
    EXPECT_EQ(*a.Get(0), &a);
    a.Resize(5);
    EXPECT_EQ(a.Capacity(), 5u);
    EXPECT_EQ(*a.Get(0), &a);
    a.m_bGrow = true;
    a.Resize(6);
    EXPECT_EQ(a.Capacity(), 12u);
    a.Free();
    EXPECT_EQ(a.m_pData, nullptr);
    EXPECT_EQ(a.Count(), 0u);
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_TRUE(a.m_bGrow); // freeing keeps the flag
}

TEST(PtrArray, ObjectElementsAreCopiedDeeply)
{
    PTR_ARRAY<HEAP_STR> fields;
    fields.Init();
    fields.Push(HEAP_STR("one"));
    fields.Push(HEAP_STR("two"));
    fields.Push(HEAP_STR(""));
    ASSERT_EQ(fields.Count(), 3u);
    EXPECT_STREQ(fields[0].Get(), "one");
    EXPECT_STREQ(fields[1].Get(), "two");
    EXPECT_STREQ(fields[2].Get(), "");
    fields.Resize(5); // new elements start empty
    EXPECT_EQ(fields[4].Get(), nullptr);
    fields.Free();
}
