// Block allocator, record managers and the checked heap: size classes,
// alignment, buddy merging, chunk layout and the fatal texts.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "mem/mem_int.h"
#include "support/output.h"
#include "util/util.h"

namespace {

const block_ *header(pointer p) { return (const block_ *)(p - MEM_HEADER_SIZE); }

int expectedIndex(long size) {
  int i = 0;
  while ((1L << i) < size + MEM_HEADER_SIZE) i++;
  return i;
}

std::string memFatal(const char *msg) {
  return std::string("^Memory management library: error: ") + msg + "\n$";
}

TEST(BlockAllocator, SizeClassesIncludeTheHeader) {
  EXPECT_EQ(mem_get_block(0), nullptr);
  pointer one = mem_get_block(1);
  pointer chunk = mem_get_block(MEM_CHUNK_SIZE);
  pointer over = mem_get_block(MEM_CHUNK_SIZE + 1);
  EXPECT_EQ(header(one)->size_index, 5);  // 32 bytes
  EXPECT_EQ(header(chunk)->size_index, 12);  // 4096 bytes
  EXPECT_EQ(header(over)->size_index, 13);
  EXPECT_EQ(header(one)->used, 1);
  mem_free_block(one);
  mem_free_block(chunk);
  mem_free_block(over);
}

TEST(BlockAllocator, BlocksAreAlignedAndDisjoint) {
  std::vector<std::pair<pointer, long>> blocks;
  uint32_t seed = 12345;
  for (int n = 0; n < 400; n++) {
    seed = seed * 1103515245u + 12345u;
    long size = 1 + (long)((seed >> 8) % 5000);
    pointer p = mem_get_block(size);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((uintptr_t)p % 8, 0u);
    EXPECT_EQ(header(p)->size_index, expectedIndex(size)) << size;
    memset(p, n & 0xff, (size_t)size);
    blocks.push_back({p, size});
    if (n % 3 == 2) {  // free some on the way to exercise splitting and merging
      mem_free_block(blocks[n / 2].first);
      blocks[n / 2].first = nullptr;
    }
  }
  // No two live blocks overlap.
  std::vector<std::pair<pointer, long>> live;
  for (auto &b : blocks)
    if (b.first) live.push_back(b);
  std::sort(live.begin(), live.end());
  for (size_t i = 1; i < live.size(); i++)
    EXPECT_GE(live[i].first, live[i - 1].first + live[i - 1].second);
  for (auto &b : live) mem_free_block(b.first);
}

// Two halves of one free block are handed out as buddies; freeing both in
// either order gives the whole block back without new system memory.
TEST(BlockAllocator, FreedBuddiesMerge) {
  const int big = 20;
  for (int order = 0; order < 2; order++) {
    pointer whole = mem_get_block((1L << big) - MEM_HEADER_SIZE);
    mem_free_block(whole);
    long before = mem_allocation();
    pointer a = mem_get_block((1L << (big - 1)) - MEM_HEADER_SIZE);
    pointer b = mem_get_block((1L << (big - 1)) - MEM_HEADER_SIZE);
    ASSERT_EQ(a, whole);
    ASSERT_EQ(b, whole + (1L << (big - 1)));
    mem_free_block(order == 0 ? a : b);
    mem_free_block(order == 0 ? b : a);
    EXPECT_EQ(header(whole)->size_index, big);
    EXPECT_EQ(header(whole)->used, 0);
    EXPECT_EQ(mem_get_block((1L << big) - MEM_HEADER_SIZE), whole);
    EXPECT_EQ(mem_allocation(), before);
    mem_free_block(whole);
  }
}

TEST(BlockAllocator, ResizeKeepsOrMovesTheContents) {
  pointer p = mem_get_block(100);
  for (int i = 0; i < 100; i++) p[i] = (char)i;
  EXPECT_EQ(mem_resize_block(p, 40), p);  // still fits 128 bytes
  pointer q = mem_resize_block(p, 1000);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(header(q)->size_index, 10);
  for (int i = 0; i < 100; i++) ASSERT_EQ(q[i], (char)i);
  mem_free_block(q);
}

TEST(BlockAllocator, CopyAndZero) {
  char buf[16] = "abcdefghijklmno";
  mem_copy(buf + 2, buf, 5);  // overlapping moves are safe
  EXPECT_EQ(std::string(buf, 8), "ababcdeh");
  mem_zero(buf, 4);
  EXPECT_EQ(buf[3], 0);
  EXPECT_EQ(buf[4], 'c');
}

// Huge mappings and zeroed arrays: 2 MB aligned, zero filled over every byte asked for, and
// given back with the size that was asked for; sizes not a multiple of the
// piece round up and never reach a neighbouring mapping.
TEST(HugeMappings, AlignedZeroedAndGivenBack) {
  for (size_t bytes : {(size_t)1, (size_t)4096, ((size_t)2 << 20) - 8, ((size_t)5 << 20) + 100}) {
    char *a = (char *)mem_map_huge(bytes);
    char *b = (char *)mem_map_huge(bytes);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ((uintptr_t)a % ((uintptr_t)2 << 20), 0u);
    EXPECT_TRUE(a + bytes <= b || b + bytes <= a);
    EXPECT_EQ(std::count(a, a + bytes, 0), (long)bytes);
    memset(a, 0x5a, bytes);
    memset(b, 0x3c, bytes);
    EXPECT_EQ(a[bytes - 1], 0x5a);
    mem_unmap_huge(a, bytes);
    EXPECT_EQ(b[0], 0x3c);
    mem_unmap_huge(b, bytes);
  }
  mem_unmap_huge(nullptr, 10);  // harmless
  // Zeroed arrays on either side of the threshold.
  for (size_t bytes : {(size_t)0, (size_t)100, MEM_HUGE_FROM - 1, MEM_HUGE_FROM, 3 * MEM_HUGE_FROM}) {
    char *z = (char *)mem_zeroed(bytes);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(std::count(z, z + bytes, 0), (long)bytes);
    if (bytes >= MEM_HUGE_FROM) {
      EXPECT_EQ((uintptr_t)z % MEM_HUGE_FROM, 0u);
    }
    mem_free_zeroed(z, bytes);
  }
  // Advice over a range without a whole piece inside it does nothing.
  char small[64] = {1};
  mem_advise_huge(small, sizeof small);
  EXPECT_EQ(small[0], 1);
  mem_advise_block_huge(small, sizeof small);
  EXPECT_EQ(small[0], 1);
}

// Blocks of the standard allocator sized for whole pieces: at least the size
// asked for, and marking one (its first piece made a huge page at once)
// keeps what it holds, whether or not the system placed it aligned.
TEST(HugeMappings, AllocatorBlocksSizedAndMarkedKeepTheirBytes) {
  EXPECT_EQ(mem_block_size_huge(100), 100u);
  EXPECT_EQ(mem_block_size_huge(MEM_HUGE_FROM - 1), MEM_HUGE_FROM - 1);
  for (size_t want : {MEM_HUGE_FROM, 3 * MEM_HUGE_FROM + 12345, 5 * MEM_HUGE_FROM - 24}) {
    size_t bytes = mem_block_size_huge(want);
    EXPECT_GE(bytes, want);
    EXPECT_LT(bytes, want + MEM_HUGE_FROM);
    char *p = (char *)malloc(bytes);
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < bytes; i += 4096) p[i] = (char)(i / 4096);
    mem_advise_block_huge(p, bytes);
    size_t same = 0;
    for (size_t i = 0; i < bytes; i += 4096) same += p[i] == (char)(i / 4096);
    EXPECT_EQ(same, (bytes + 4095) / 4096);
    free(p);
  }
}

TEST(RecordManager, TwelveByteRecordsFillOneChunk) {
  rec_mgr mgr = mem_new_rec_mgr(12);
  EXPECT_EQ(mgr->size, 16);
  EXPECT_EQ(mgr->recs_per_block, 254);
  std::set<char *> recs;
  for (int i = 0; i < 254; i++) {
    char *r = (char *)mem_new_rec(mgr);
    EXPECT_EQ((uintptr_t)r % 8, 0u);
    memset(r, 0xab, 16);
    recs.insert(r);
  }
  EXPECT_EQ(recs.size(), 254u);
  char *chunk = (char *)mgr->blocks;
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(*(void **)chunk, nullptr);  // still a single chunk
  EXPECT_EQ(header(chunk)->size_index, 12);
  for (char *r : recs) {
    EXPECT_GE(r, chunk + 8);
    EXPECT_LE(r + 16, chunk + MEM_CHUNK_SIZE);
  }
  mem_new_rec(mgr);  // the 255th takes a second chunk
  EXPECT_NE(mgr->blocks, (void *)chunk);
  EXPECT_EQ(*(void **)mgr->blocks, (void *)chunk);
  mem_free_rec_mgr(mgr);
}

TEST(RecordManager, FreedRecordsAreReusedFirst) {
  rec_mgr mgr = mem_new_rec_mgr(1);
  EXPECT_EQ(mgr->size, 8);
  EXPECT_EQ(mgr->recs_per_block, 508);
  void *a = mem_new_rec(mgr);
  void *b = mem_new_rec(mgr);
  mem_free_rec(mgr, a);
  EXPECT_EQ(mem_new_rec(mgr), a);
  EXPECT_NE(mem_new_rec(mgr), b);
  mem_free_rec_mgr(mgr);
  rec_mgr largest = mem_new_rec_mgr(MEM_CHUNK_RECORD_BYTES);
  EXPECT_EQ(largest->recs_per_block, 1);
  mem_free_rec_mgr(largest);
}

TEST(BlockAllocatorDeath, FatalTexts) {
  EXPECT_EXIT(mem_get_block(1073741801L), ::testing::ExitedWithCode(1),
              memFatal("block_size_index: block size too large"));
  EXPECT_EXIT(mem_new_rec_mgr(MEM_CHUNK_RECORD_BYTES + 1), ::testing::ExitedWithCode(1),
              memFatal("mem_new_rec_mgr: record size too large"));
  pointer p = mem_get_block(50);
  mem_free_block(p);
  EXPECT_EXIT(mem_free_block(p), ::testing::ExitedWithCode(1),
              memFatal("mem_free_block: block not in use"));
  EXPECT_EXIT(mem_resize_block(p, 10), ::testing::ExitedWithCode(1),
              memFatal("mem_resize_block: block not in use"));
  alignas(8) char fake[64] = {};
  EXPECT_EXIT(mem_free_block(fake + 32), ::testing::ExitedWithCode(1),
              memFatal("mem_free_block: invalid block header"));
  EXPECT_EXIT(mem_resize_block(fake + 32, 10), ::testing::ExitedWithCode(1),
              memFatal("mem_resize_block: invalid block header"));
}

// Exhausting the heap needs the address-space limit, which the sanitizer
// runtime cannot live with.
void limitAddressSpace() {
  struct rlimit lim = {256L << 20, 256L << 20};
  setrlimit(RLIMIT_AS, &lim);
}

TEST(BlockAllocatorDeath, SystemMemoryExhausted) {
  if (KZ_UNDER_ASAN) GTEST_SKIP() << "address-space limit conflicts with the sanitizer";
  EXPECT_EXIT((limitAddressSpace(), mem_get_block(1L << 29)), ::testing::ExitedWithCode(1),
              memFatal("mem_get_block: allocation failed"));
}

size_t g_hook_size;
void recordingHook(size_t size) { g_hook_size = size; }

TEST(CheckedHeap, ZeroSizeAndNullAreHarmless) {
  void *p = MMalloc(0);
  ASSERT_NE(p, nullptr);
  p = MMrealloc(p, 0);
  ASSERT_NE(p, nullptr);
  MMfree(p);
  MMfree(nullptr);
  char *q = (char *)MMrealloc(nullptr, 10);
  ASSERT_NE(q, nullptr);
  MMfree(q);
}

TEST(CheckedHeap, ExhaustionCallsTheHook) {
  if (KZ_UNDER_ASAN) GTEST_SKIP() << "the sanitizer's allocator reports huge requests itself";
  void (*saved)(size_t) = MMoutOfMemory;
  MMoutOfMemory = recordingHook;
  size_t huge = SIZE_MAX / 2;
  EXPECT_EQ(MMalloc(huge), nullptr);
  EXPECT_EQ(g_hook_size, huge);
  void *p = MMalloc(8);
  g_hook_size = 0;
  EXPECT_EQ(MMrealloc(p, huge - 1), nullptr);
  EXPECT_EQ(g_hook_size, huge - 1);
  MMfree(p);
  MMoutOfMemory = saved;
  EXPECT_EXIT(MMalloc(huge), ::testing::ExitedWithCode(1),
              "^\nout of memory allocating " + std::to_string(huge) + " bytes\n$");
}

TEST(AssertionChannelDeath, PrintsFileLineAndMessageThenAborts) {
  EXPECT_EXIT(util_assert(1 + 1 == 3, "arithmetic broke"), ::testing::KilledBySignal(SIGABRT),
              "^Fatal error: file .*test_mem\\.cpp, line [0-9]+\narithmetic broke\n$");
}

}  // namespace
