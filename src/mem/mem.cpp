#include "mem/mem_int.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/util.h"

namespace {

// Circular doubly linked free lists, one per size index; avail[i] is the
// list head (a sentinel whose next/prev point at itself when empty).
block_ avail[MEM_MAX_SIZE_INDEX + 1];
bool avail_ready = false;

segment_ *segments = nullptr;
int num_segments = 0;
int cap_segments = 0;
long block_allocation = 0;

[[noreturn]] void mem_fatal(const char *msg) {
  fflush(stdout);
  fprintf(stderr, "Memory management library: error: %s\n", msg);
  util_exit(1);
}

void init_avail() {
  for (int i = 0; i <= MEM_MAX_SIZE_INDEX; i++) {
    avail[i].next = &avail[i];
    avail[i].prev = &avail[i];
  }
  avail_ready = true;
}

void list_push(block_ *b) {
  block_ *head = &avail[b->size_index];
  b->next = head->next;
  b->prev = head;
  head->next->prev = b;
  head->next = b;
}

void list_unlink(block_ *b) {
  b->prev->next = b->next;
  b->next->prev = b->prev;
  b->next = b->prev = nullptr;
}

// Smallest size index whose block holds `size` user bytes plus the header.
int block_size_index(long size) {
  if (size > (1L << MEM_MAX_SIZE_INDEX) - MEM_HEADER_SIZE)
    mem_fatal("block_size_index: block size too large");
  long need = size + MEM_HEADER_SIZE;
  int i = 5;
  while ((1L << i) < need) i++;
  return i;
}

// Obtains a new segment of 2^index bytes and puts it on its free list.
// Segments come from the standard heap (16-byte aligned) and stay for the
// life of the process; keeping them there rather than in anonymous mappings
// lets leak checkers see the pointers stored inside blocks.
void new_segment(int index) {
  long bytes = 1L << index;
  void *p = malloc((size_t)bytes);
  if (p == nullptr) mem_fatal("mem_get_block: allocation failed");
  if (num_segments == cap_segments) {
    int cap = cap_segments ? 2 * cap_segments : 64;
    segment_ *grown = (segment_ *)realloc(segments, sizeof(segment_) * (size_t)cap);
    if (grown == nullptr) mem_fatal("mem_get_block: allocation failed");
    segments = grown;
    cap_segments = cap;
  }
  segments[num_segments].base_address = (char *)p;
  segments[num_segments].limit = (char *)p + bytes;
  block_ *b = (block_ *)p;
  b->used = 0;
  b->size_index = (int16_t)index;
  b->seg = num_segments;
  num_segments++;
  block_allocation += bytes;
  list_push(b);
}

// A header is plausible when it names a segment that contains the whole
// block at a buddy-aligned offset.
bool header_valid(const block_ *b) {
  if (b->size_index < 5 || b->size_index > MEM_MAX_SIZE_INDEX || b->seg < 0 || b->seg >= num_segments)
    return false;
  const segment_ &seg = segments[b->seg];
  const char *start = (const char *)b;
  long size = 1L << b->size_index;
  return start >= seg.base_address && start + size <= seg.limit &&
         (start - seg.base_address) % size == 0;
}

}  // namespace

void mem_exhausted(void) { mem_fatal("mem_get_block: allocation failed"); }

pointer mem_get_block(long size) {
  if (size <= 0) return nullptr;
  if (!avail_ready) init_avail();
  int index = block_size_index(size);
  int j = index;
  while (j <= MEM_MAX_SIZE_INDEX && avail[j].next == &avail[j]) j++;
  if (j > MEM_MAX_SIZE_INDEX) {
    int seg_index = index;
    while ((1L << seg_index) < MEM_MIN_SEGMENT) seg_index++;
    new_segment(seg_index);
    j = seg_index;
  }
  block_ *b = avail[j].next;
  list_unlink(b);
  // Split in halves until the block has the requested size index; the upper
  // halves (buddies) go back onto their free lists.
  while (j > index) {
    j--;
    block_ *buddy = (block_ *)((char *)b + (1L << j));
    buddy->used = 0;
    buddy->size_index = (int16_t)j;
    buddy->seg = b->seg;
    list_push(buddy);
  }
  b->used = 1;
  b->size_index = (int16_t)index;
  return (pointer)b + MEM_HEADER_SIZE;
}

void mem_free_block(pointer p) {
  if (p == nullptr) return;
  block_ *b = (block_ *)(p - MEM_HEADER_SIZE);
  if (!header_valid(b)) mem_fatal("mem_free_block: invalid block header");
  if (!b->used) mem_fatal("mem_free_block: block not in use");
  b->used = 0;
  const segment_ &seg = segments[b->seg];
  // Merge with the buddy while it is free, of the same size and inside the
  // segment.
  while (b->size_index < MEM_MAX_SIZE_INDEX) {
    long offset = (char *)b - seg.base_address;
    block_ *buddy = (block_ *)(seg.base_address + (offset ^ (1L << b->size_index)));
    if ((char *)buddy < seg.base_address || (char *)buddy + (1L << b->size_index) > seg.limit) break;
    if (buddy->used || buddy->size_index != b->size_index) break;
    list_unlink(buddy);
    if (buddy < b) b = buddy;
    b->size_index++;
  }
  list_push(b);
}

pointer mem_resize_block(pointer p, long size) {
  if (p == nullptr) return mem_get_block(size);
  block_ *b = (block_ *)(p - MEM_HEADER_SIZE);
  if (!header_valid(b)) mem_fatal("mem_resize_block: invalid block header");
  if (!b->used) mem_fatal("mem_resize_block: block not in use");
  if (size > 0 && block_size_index(size) <= b->size_index) return p;
  pointer q = mem_get_block(size);
  long old_bytes = (1L << b->size_index) - MEM_HEADER_SIZE;
  if (q != nullptr) memcpy(q, p, (size_t)(old_bytes < size ? old_bytes : size));
  mem_free_block(p);
  return q;
}

void mem_copy(void *dest, const void *src, long size) {
  if (size > 0) memmove(dest, src, (size_t)size);
}

void mem_zero(void *p, long size) {
  if (size > 0) memset(p, 0, (size_t)size);
}

long mem_allocation(void) { return block_allocation; }

rec_mgr mem_new_rec_mgr(int size) {
  if (size > MEM_CHUNK_RECORD_BYTES) mem_fatal("mem_new_rec_mgr: record size too large");
  if (size < 8) size = 8;
  size = (size + 7) & ~7;
  rec_mgr mgr = (rec_mgr)mem_get_block((long)sizeof(rec_mgr_));
  mgr->size = size;
  mgr->recs_per_block = MEM_CHUNK_RECORD_BYTES / size;
  mgr->free = nullptr;
  mgr->blocks = nullptr;
  return mgr;
}

void *mem_new_rec(rec_mgr mgr) {
  if (mgr->free == nullptr) {
    char *chunk = mem_get_block(MEM_CHUNK_SIZE);
    *(void **)chunk = mgr->blocks;
    mgr->blocks = chunk;
    char *rec = chunk + 8;
    for (int i = 0; i < mgr->recs_per_block; i++, rec += mgr->size) {
      *(void **)rec = mgr->free;
      mgr->free = rec;
    }
  }
  void *rec = mgr->free;
  mgr->free = *(void **)rec;
  return rec;
}

void mem_free_rec(rec_mgr mgr, void *rec) {
  *(void **)rec = mgr->free;
  mgr->free = rec;
}

void mem_free_rec_mgr(rec_mgr mgr) {
  if (mgr == nullptr) return;
  void *chunk = mgr->blocks;
  while (chunk != nullptr) {
    void *next = *(void **)chunk;
    mem_free_block((pointer)chunk);
    chunk = next;
  }
  mem_free_block((pointer)mgr);
}

// ---- Huge mappings ----------------------------------------------------------------
static const size_t kHugeBytes = MEM_HUGE_FROM;

static size_t mem_huge_round(size_t bytes) { return (bytes + kHugeBytes - 1) & ~(kHugeBytes - 1); }

void mem_advise_huge(void *p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  uintptr_t from = ((uintptr_t)p + kHugeBytes - 1) & ~(uintptr_t)(kHugeBytes - 1);
  uintptr_t to = ((uintptr_t)p + bytes) & ~(uintptr_t)(kHugeBytes - 1);
  if (to > from) madvise((void *)from, to - from, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

#if defined(__linux__) && !defined(MADV_COLLAPSE)
#define MADV_COLLAPSE 25
#endif

// The standard allocator maps a large block with its header (16 bytes at
// most before the block, 8 after it) rounded up to whole pages.
static const size_t kBlockOverhead = 24;

size_t mem_block_size_huge(size_t bytes) {
  if (bytes < MEM_HUGE_FROM) return bytes;
  return mem_huge_round(bytes + kBlockOverhead) - kBlockOverhead;
}

void mem_advise_block_huge(void *p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  uintptr_t page = (uintptr_t)sysconf(_SC_PAGESIZE);
  uintptr_t from = (uintptr_t)p & ~(page - 1);
  if ((from & (kHugeBytes - 1)) != 0 || bytes < MEM_HUGE_FROM) {
    mem_advise_huge(p, bytes);
    return;
  }
  uintptr_t to = ((uintptr_t)p + bytes + page - 1) & ~(page - 1);
  madvise((void *)from, to - from, MADV_HUGEPAGE);
  // The allocator has written its header into the first page already, so
  // that piece would fill up page by page: it is made a huge page now.
  madvise((void *)from, kHugeBytes, MADV_COLLAPSE);
#else
  (void)p;
  (void)bytes;
#endif
}

void *mem_map_huge(size_t bytes) {
  size_t len = mem_huge_round(bytes > 0 ? bytes : 1);
  // One piece more than asked, then the ends beyond the aligned part go back.
  char *p = (char *)mmap(nullptr, len + kHugeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  char *a = (char *)(((uintptr_t)p + kHugeBytes - 1) & ~(uintptr_t)(kHugeBytes - 1));
  if (a > p) munmap(p, (size_t)(a - p));
  if (a + len < p + len + kHugeBytes) munmap(a + len, (size_t)(p + len + kHugeBytes - (a + len)));
  mem_advise_huge(a, len);
  return a;
}

void mem_unmap_huge(void *p, size_t bytes) {
  if (p != nullptr) munmap(p, mem_huge_round(bytes > 0 ? bytes : 1));
}

void *mem_zeroed(size_t bytes) {
  if (bytes == 0) bytes = 1;
  return bytes < MEM_HUGE_FROM ? calloc(1, bytes) : mem_map_huge(bytes);
}

void mem_free_zeroed(void *p, size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (bytes < MEM_HUGE_FROM)
    free(p);
  else
    mem_unmap_huge(p, bytes);
}
