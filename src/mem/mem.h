// Block allocator (buddy system over power-of-two blocks) and fixed-size
// record managers on top of it. Every block and record is 8-byte aligned.
// Errors print "Memory management library: error: %s\n" on standard error
// and end the process with exit status 1.
#ifndef KZ_MEM_H
#define KZ_MEM_H

#include <cstddef>

typedef char *pointer;

// A block of at least `size` bytes, or null for size 0. The block of size
// index i (2^i bytes) carries a 24-byte header; the user part follows it.
pointer mem_get_block(long size);
// Returns a block to its free list and merges it with free buddies.
void mem_free_block(pointer p);
// Keeps the block when `size` still fits, otherwise moves the contents.
pointer mem_resize_block(pointer p, long size);
void mem_copy(void *dest, const void *src, long size);
void mem_zero(void *p, long size);
// Ends the process as an allocation that the system refuses does:
// "mem_get_block: allocation failed" on the error line above, status 1. The
// engine's own tables report their exhaustion through it.
[[noreturn]] void mem_exhausted(void);
// Bytes obtained from the system so far.
long mem_allocation(void);

// Large arrays straight from the system, zero filled, 2 MB aligned and
// marked for huge pages where the system offers them: their first touch
// costs one fault per 2 MB rather than one per 4 KB page. Null when the
// system refuses; mem_unmap_huge takes back the size that was asked for.
void *mem_map_huge(size_t bytes);
void mem_unmap_huge(void *p, size_t bytes);
// Marks the 2 MB pieces that lie wholly inside [p, p + bytes) for huge pages.
void mem_advise_huge(void *p, size_t bytes);
// Blocks of the standard allocator (for containers that cannot take
// mem_map_huge): the size to ask for, at least `bytes`, with which a large
// block gets a mapping of whole 2 MB pieces to itself (which the system
// places 2 MB aligned); and the mark for huge pages on such a block, taken
// from the start of the page it begins in, so that its first piece is
// marked too. Other blocks are merely marked in their whole pieces.
size_t mem_block_size_huge(size_t bytes);
void mem_advise_block_huge(void *p, size_t bytes);
// Zero-filled arrays: from the standard heap below MEM_HUGE_FROM bytes,
// else from mem_map_huge, so a large one costs only the pieces it touches.
// Null when the system refuses; mem_free_zeroed takes the same size back.
#define MEM_HUGE_FROM ((size_t)1 << 21)
void *mem_zeroed(size_t bytes);
void mem_free_zeroed(void *p, size_t bytes);

typedef struct rec_mgr_ {
  int size;            // record size, a multiple of 8, at least 8
  int recs_per_block;  // 4064 / size
  void *free;          // free records, linked through their first word
  void *blocks;        // 4072-byte chunks, linked through their first word
} rec_mgr_;
typedef rec_mgr_ *rec_mgr;

// A record manager for records of `size` bytes (rounded up to 8); sizes
// above 4064 are an error.
rec_mgr mem_new_rec_mgr(int size);
void *mem_new_rec(rec_mgr mgr);
// Pushes the record back on the free list; no checks.
void mem_free_rec(rec_mgr mgr, void *rec);
// Returns every chunk and the manager itself.
void mem_free_rec_mgr(rec_mgr mgr);

#endif
