// The tree of variable blocks: groups of adjacent levels that reordering
// keeps together. Leaves are single variables; the super block is the root.
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

block bdd_new_block(kzu_bdd_manager m, long first, long last) {
  block b = (block)mem_new_rec(BDD_RECORDS(m, sizeof(struct kzu_block_)));
  b->num_children = 0;
  b->children = nullptr;
  b->reorderable = 0;
  b->first_index = first;
  b->last_index = last;
  b->capacity = 0;
  return b;
}

void bdd_free_block(kzu_bdd_manager m, block b) {
  if (b == nullptr) return;
  for (long i = 0; i < b->num_children; i++) bdd_free_block(m, b->children[i]);
  bdd_free_array(b->children);
  mem_free_rec(BDD_RECORDS(m, sizeof(struct kzu_block_)), b);
}

static void bdd_insert_child(block parent, long pos, block child) {
  if (parent->num_children == parent->capacity) {
    long cap = parent->capacity ? 2 * parent->capacity : 4;
    block *kids = (block *)bdd_alloc_zeroed(cap * (long)sizeof(block));
    if (parent->num_children > 0) memcpy(kids, parent->children, (size_t)parent->num_children * sizeof(block));
    bdd_free_array(parent->children);
    parent->children = kids;
    parent->capacity = cap;
  }
  memmove(parent->children + pos + 1, parent->children + pos,
          (size_t)(parent->num_children - pos) * sizeof(block));
  parent->children[pos] = child;
  parent->num_children++;
}

// Moves every block at or below `level` down by `delta` levels; blocks that
// cover `level` from above grow by delta.
static void bdd_block_delta(block b, long level, long delta) {
  if (b->first_index >= level) {
    b->first_index += delta;
    b->last_index += delta;
  } else if (b->last_index >= level) {
    b->last_index += delta;
  }
  for (long i = 0; i < b->num_children; i++) bdd_block_delta(b->children[i], level, delta);
}

void bdd_insert_var_block(kzu_bdd_manager m, long level) {
  block root = m->super_block;
  // The super block always spans every level. A variable added at the
  // bottom shifts nothing and goes straight under the super block.
  root->first_index = 0;
  root->last_index = m->vars - 1;
  if (level == m->vars - 1) {
    bdd_insert_child(root, root->num_children, bdd_new_block(m, level, level));
    return;
  }
  for (long i = 0; i < root->num_children; i++) bdd_block_delta(root->children[i], level, 1);
  // The innermost block with first < level <= last receives the new leaf;
  // a block that starts at `level` now lies below it.
  block parent = root;
  for (;;) {
    block inner = nullptr;
    for (long i = 0; i < parent->num_children; i++) {
      block c = parent->children[i];
      if (c->num_children > 0 && c->first_index < level && level <= c->last_index) inner = c;
    }
    if (inner == nullptr) break;
    parent = inner;
  }
  long pos = 0;
  while (pos < parent->num_children && parent->children[pos]->first_index < level) pos++;
  bdd_insert_child(parent, pos, bdd_new_block(m, level, level));
}

block kzu_bdd_new_var_block(kzu_bdd_manager m, bdd v, long n) {
  if (v == nullptr || bdd_is_complemented(v) || bdd_is_const(v) || v->data[0] != m->one || v->data[1] != m->zero)
    kzu_bdd_fatal("kzu_bdd_new_var_block: second argument is not a positive variable");
  if (n <= 0) kzu_bdd_fatal("kzu_bdd_new_var_block: invalid final argument");
  long first = bdd_level(m, v);
  long last = first + n - 1;
  if (last >= m->vars) kzu_bdd_fatal("kzu_bdd_new_var_block: range covers non-existent variables");
  // Descend to the innermost block that contains the whole range.
  block parent = m->super_block;
  for (;;) {
    block inner = nullptr;
    for (long i = 0; i < parent->num_children; i++) {
      block c = parent->children[i];
      if (c->first_index <= first && last <= c->last_index && c->num_children > 0 &&
          !(c->first_index == first && c->last_index == last))
        inner = c;
    }
    if (inner == nullptr) break;
    parent = inner;
  }
  // The children of `parent` inside the range move into the new block; a
  // child that straddles a boundary makes the range illegal.
  long start = -1, end = -1;
  for (long i = 0; i < parent->num_children; i++) {
    block c = parent->children[i];
    bool inside = c->first_index >= first && c->last_index <= last;
    bool outside = c->last_index < first || c->first_index > last;
    if (!inside && !outside) kzu_bdd_fatal("add_block: illegal block overlap");
    if (inside) {
      if (start < 0) start = i;
      end = i;
    }
  }
  block b = bdd_new_block(m, first, last);
  if (start >= 0) {
    long k = end - start + 1;
    b->children = (block *)bdd_alloc_zeroed(k * (long)sizeof(block));
    memcpy(b->children, parent->children + start, (size_t)k * sizeof(block));
    b->num_children = k;
    b->capacity = k;
    memmove(parent->children + start + 1, parent->children + end + 1,
            (size_t)(parent->num_children - end - 1) * sizeof(block));
    parent->children[start] = b;
    parent->num_children -= k - 1;
  } else {
    bdd_insert_child(parent, 0, b);
  }
  return b;
}

void kzu_bdd_var_block_reorderable(kzu_bdd_manager, block b, int reorderable) {
  if (b != nullptr) b->reorderable = reorderable;
}
