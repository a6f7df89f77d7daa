// Internal layout of the block allocator.
#ifndef KZ_MEM_INT_H
#define KZ_MEM_INT_H

#include <cstdint>

#include "mem/mem.h"

// One contiguous stretch of memory obtained from the system.
typedef struct segment_ {
  char *base_address;
  char *limit;  // one past the last byte
} segment_;

// Header in front of every block. A block of size index i spans 2^i bytes,
// header included; the header is 24 bytes so the user part stays 8-aligned.
typedef struct block_ {
  int16_t used;
  int16_t size_index;
  int32_t seg;  // index into the segment table
  struct block_ *next;
  struct block_ *prev;
} block_;

static_assert(sizeof(block_) == 24, "block header must be 24 bytes");

#define MEM_HEADER_SIZE 24
#define MEM_MAX_SIZE_INDEX 30
#define MEM_MIN_SEGMENT 32768
#define MEM_CHUNK_SIZE 4072
#define MEM_CHUNK_RECORD_BYTES 4064

#endif
