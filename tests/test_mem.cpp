#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/mem.h"
#include "tests/test_helpers.h"

namespace {

// Turns the allocation checker on (or off) for one test.
struct CheckerScope {
  ScopedEnv env;
  explicit CheckerScope(const char* value) : env("RT_CHECK_ALLOC", value) {
    mem_checker_reset_for_tests();
  }
  ~CheckerScope() { mem_checker_reset_for_tests(); }
};

std::string pointer_text(const void* p) {
  char buf[64];
  snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

}  // namespace

TEST(MemChecker, DoubleFreeIsReportedOnceAndLeftAlone) {
  CheckerScope scope("1");
  ASSERT_TRUE(mem_checking());
  void* p = mem_alloc(32);
  ASSERT_NE(p, nullptr);
  testing::internal::CaptureStderr();
  mem_free(p);
  mem_free(p);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Allocation not found for " + pointer_text(p) + "!\n");
  EXPECT_EQ(mem_live_count(), 0);
}

TEST(MemChecker, LeakReportListsLiveBlocksInAllocationOrder) {
  CheckerScope scope("1");
  void* a = mem_alloc(8);
  void* b = mem_alloc_zeroed(4, 4);
  void* c = mem_alloc(8);
  mem_free(b);
  void* a2 = mem_realloc(a, 4096);  // keeps its place and serial number
  testing::internal::CaptureStderr();
  mem_report_leaks();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, pointer_text(a2) + ":0\n" + pointer_text(c) + ":2\n");
  mem_free(a2);
  mem_free(c);
  testing::internal::CaptureStderr();
  mem_report_leaks();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(MemChecker, ReallocOfUnknownBlockIsReportedAndTracked) {
  CheckerScope scope("1");
  void* foreign = malloc(16);
  testing::internal::CaptureStderr();
  void* moved = mem_realloc(foreign, 64);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Allocation not found for " + pointer_text(foreign) + "!\n");
  EXPECT_EQ(mem_live_count(), 1);
  mem_free(moved);
  EXPECT_EQ(mem_live_count(), 0);
}

TEST(MemChecker, OffKeepsNoTable) {
  for (const char* value : {(const char*)nullptr, "0", "-3", "abc"}) {
    CheckerScope scope(value);
    void* p = mem_alloc(8);
    EXPECT_FALSE(mem_checking());
    testing::internal::CaptureStderr();
    mem_report_leaks();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(mem_live_count(), 0);
    mem_free(p);
  }
}

TEST(MemChecker, TableLimitSwitchesCheckingOff) {
  CheckerScope scope("1");
  const int limit = 0x100000;
  void** blocks = (void**)malloc(sizeof(void*) * (limit + 1));
  for (int i = 0; i < limit; i++) blocks[i] = mem_alloc(1);
  EXPECT_TRUE(mem_checking());
  testing::internal::CaptureStderr();
  blocks[limit] = mem_alloc(1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Too many allocations to check!\n");
  EXPECT_NE(blocks[limit], nullptr);
  EXPECT_FALSE(mem_checking());
  for (int i = limit; i >= 0; i--) mem_free(blocks[i]);
  free(blocks);
}

TEST(GrowArray, StartsAtSixteenAndDoubles) {
  GrowArray<int> a;
  for (int i = 0; i < 17; i++) ASSERT_NE(grow_push(a, i), nullptr);
  EXPECT_EQ(a.capacity, 32);
  EXPECT_EQ(a.count, 17);
  EXPECT_EQ(a.elem_size, (int)sizeof(int));
  EXPECT_EQ(*grow_at(a, 16), 16);
  EXPECT_EQ(grow_at(a, 17), nullptr);
  EXPECT_EQ(grow_at(a, -1), nullptr);
  grow_shrink(a);
  EXPECT_EQ(a.capacity, 17);
  EXPECT_EQ(*grow_at(a, 0), 0);
  grow_free(a);
  EXPECT_EQ(a.count, 0);
}

TEST(GrowArray, FailedGrowthDropsTheElement) {
  GrowArray<int> a;
  for (int i = 0; i < 16; i++) grow_push(a, i);
  int* before = a.data;
  mem_fail_next_for_tests(1);
  EXPECT_EQ(grow_push(a, 99), nullptr);
  EXPECT_EQ(a.count, 16);
  EXPECT_EQ(a.capacity, 16);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(*grow_at(a, 15), 15);
  EXPECT_NE(grow_push(a, 16), nullptr);  // the next growth works
  EXPECT_EQ(a.count, 17);
  grow_free(a);
}

TEST(GrowArray, FailedShrinkKeepsTheLargerBlock) {
  GrowArray<int> a;
  for (int i = 0; i < 5; i++) grow_push(a, i);
  mem_fail_next_for_tests(1);
  grow_shrink(a);
  EXPECT_EQ(a.capacity, 16);
  EXPECT_EQ(*grow_at(a, 4), 4);
  grow_free(a);
}

TEST(Strings, InternReturnsThePooledCopy) {
  char first[] = "abc";
  char second[] = "abc";
  const char* p = intern_string(first);
  EXPECT_EQ(intern_string(second), p);
  EXPECT_NE(p, (const char*)first);
  EXPECT_STREQ(p, "abc");
  EXPECT_NE(intern_string("abd"), p);
}

TEST(Strings, JoinConcatenatesTheList) {
  char* s = join("@", "rabbithill", "/", "desc");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "@rabbithill/desc");
  mem_free(s);
  const char* empty[] = {nullptr};
  char* e = join_strings(empty);
  EXPECT_STREQ(e, "");
  mem_free(e);
  mem_fail_next_for_tests(1);
  EXPECT_EQ(join("a", "b"), nullptr);
}
