// Variable reordering: the frame around a method, the exchange of two
// adjacent levels, block exchange, sifting, the stable window of three and
// the hybrid method.
//
// Inside the frame the computed table is empty and every node's `spare`
// field counts its parents. A node whose external, temporary and parent
// counts are all zero is garbage and is freed on the spot, so the node count
// the methods compare is exact at every step.
#include <climits>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "kzuBdd/kzuBddInt.h"

namespace {

inline bool bdd_unreferenced(const struct bdd_ *n) {
  return n->refs == 0 && n->spare == 0 && (n->mark & BDD_TEMP_MASK) == 0;
}

inline void bdd_parent_inc(bdd f) { bdd_regular(f)->spare++; }

// Removes node n from its table's chain (the record stays allocated).
void bdd_unlink_node(kzu_bdd_manager m, struct bdd_ *n) {
  var_table *vt = m->unique_table.tables[n->indexindex];
  bdd_bucket *head = &vt->table[bdd_node_hash(n->data[0], n->data[1], vt->size)];
  bdd p = bdd_bucket_first(*head);
  if (p == n) {
    *head = (*head & ~BDD_BUCKET_PTR_MASK) | (uintptr_t)n->next;
  } else {
    while (p->next != n) {
      kz_debug_assert(p->next != nullptr, "node missing from its chain");
      p = p->next;
    }
    p->next = n->next;
  }
  vt->entries--;
  m->unique_table.entries--;
}

void bdd_release_node(kzu_bdd_manager m, struct bdd_ *n) {
  m->unique_table.freed++;
  bdd_free_node_record(m, n);
}

// Drops one parent of f. A node left without any reference is freed, and in
// turn the children it alone held.
void bdd_parent_dec(kzu_bdd_manager m, bdd f) {
  struct bdd_ *n = bdd_regular(f);
  for (;;) {
    kz_debug_assert(n->spare > 0, "parent count below zero");
    if (--n->spare != 0 || n->refs != 0 || (n->mark & BDD_TEMP_MASK) != 0 || n->indexindex == 0) return;
    bdd_unlink_node(m, n);
    bdd t = n->data[0], e = n->data[1];
    bdd_release_node(m, n);
    bdd_parent_dec(m, t);
    n = bdd_regular(e);
  }
}

// Visits every node of level `level` (terminals for level -1), unlinking
// those for which `drop` returns true; `drop` may free or keep them.
template <class Drop>
void bdd_filter_table(var_table *vt, Drop drop) {
  for (long i = 0; i < vt->size; i++) {
    bdd_bucket *head = &vt->table[i];
    bdd prev = nullptr;
    for (bdd n = bdd_bucket_first(*head); n != nullptr;) {
      bdd next = n->next;
      if (drop(n)) {
        if (prev == nullptr)
          *head = (*head & ~BDD_BUCKET_PTR_MASK) | (uintptr_t)next;
        else
          prev->next = next;
      } else {
        prev = n;
      }
      n = next;
    }
  }
}

// ---- The frame --------------------------------------------------------------------------------
// Frees every node that nothing holds and counts, for every other node, its
// parents. Levels are visited from the top, so a node's parents have all
// been counted when its own level is reached.
void bdd_add_internal_references(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    for (long i = 0; i < vt->size; i++)
      for (bdd n = bdd_bucket_first(vt->table[i]); n != nullptr; n = n->next) n->spare = 0;
  }
  for (long level = 0; level < m->vars; level++) {
    var_table *vt = u->tables[m->indexindexes[level]];
    bdd_filter_table(vt, [&](bdd n) {
      if (bdd_unreferenced(n)) {
        vt->entries--;
        u->entries--;
        bdd_release_node(m, n);
        return true;
      }
      bdd_parent_inc(n->data[0]);
      bdd_parent_inc(n->data[1]);
      return false;
    });
  }
  var_table *terminals = u->tables[0];
  bdd_filter_table(terminals, [&](bdd n) {
    if (!bdd_unreferenced(n)) return false;
    if (u->free_terminal_fn != nullptr)
      u->free_terminal_fn(m, (intptr_t)n->data[0], (intptr_t)n->data[1], u->free_terminal_env);
    terminals->entries--;
    u->entries--;
    bdd_release_node(m, n);
    return true;
  });
}

// Ends the parent counts: every node left must still be held by something.
// The chain summaries, whose field held the counts, are rebuilt.
void bdd_nuke_internal_references(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  for (long level = m->vars - 1; level >= -1; level--) {
    var_table *vt = u->tables[level < 0 ? 0 : m->indexindexes[level]];
    for (long i = 0; i < vt->size; i++)
      for (bdd n = bdd_bucket_first(vt->table[i]); n != nullptr; n = n->next)
        if (bdd_unreferenced(n)) kzu_bdd_fatal("bdd_nuke_internal_references: what happened?");
  }
  for (long id = 0; id <= m->vars; id++) bdd_rebuild_summaries(u->tables[id]);
}

double bdd_cpu_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

template <class Method>
void bdd_reorder_frame(kzu_bdd_manager m, Method method) {
  double start = bdd_cpu_seconds();
  bdd_flush_all(m);
  // Remembered association contents carry levels.
  bdd_clear_assoc_memo(m);
  m->reordering = 1;
  bdd_add_internal_references(m);
  method();
  bdd_nuke_internal_references(m);
  m->reordering = 0;
  m->reorderings++;
  m->reorder_seconds += bdd_cpu_seconds() - start;
}

// ---- Exchanging adjacent levels -------------------------------------------------------------------
// Node (id, t, e) inside the frame, normalised to a regular then-edge. A new
// node counts as its children's parent; the caller counts the new edge.
bdd bdd_reorder_find(kzu_bdd_manager m, long id, bdd t, bdd e) {
  if (t == e) return t;
  int negate = bdd_is_complemented(t);
  if (negate) {
    t = bdd_complement(t);
    e = bdd_complement(e);
  }
  unique *u = &m->unique_table;
  var_table *vt = u->tables[id];
  uint64_t h = bdd_node_key(t, e);
  long b = bdd_key_bucket(h, vt->size);
  unsigned s = bdd_key_summary(h);
  if ((bdd_bucket_summary(vt->table[b]) & s) == s)
    for (bdd n = bdd_bucket_first(vt->table[b]); n != nullptr; n = n->next)
      if (n->data[0] == t && n->data[1] == e) return bdd_complement_if(n, negate);
  struct bdd_ *n = bdd_new_node_record(m);
  n->indexindex = (uint16_t)id;
  n->refs = 0;
  n->mark = 0;
  n->spare = 0;
  n->data[0] = t;
  n->data[1] = e;
  bdd_bucket_push_raw(vt, b, n, s);
  vt->entries++;
  u->entries++;
  bdd_parent_inc(t);
  bdd_parent_inc(e);
  if (vt->entries > 4 * vt->size) bdd_rehash_var_table(m, vt, true);
  return bdd_complement_if(n, negate);
}

// Room for n node pointers, kept by the manager between exchanges.
struct bdd_ **bdd_reorder_scratch(kzu_bdd_manager m, long n) {
  if (n > m->reorder_scratch_size) {
    bdd_free_array(m->reorder_scratch);
    long size = n > 2 * m->reorder_scratch_size ? n : 2 * m->reorder_scratch_size;
    m->reorder_scratch = (struct bdd_ **)bdd_alloc_zeroed(size * (long)sizeof(struct bdd_ *));
    m->reorder_scratch_size = size;
  }
  return m->reorder_scratch;
}

void bdd_swap_assoc_last(var_assoc *va, long level, long x) {
  if (va->last == level)
    va->last = level + 1;  // its deepest variable, x, moves down
  else if (va->last == level + 1)
    va->last = va->assoc[x] != nullptr ? level + 1 : level;  // y moves up
}

// Exchanges the variables x at `level` and y at `level` + 1. Every node of x
// that tests y is rewritten in place as a node of y over new x-nodes, so
// every edge keeps its meaning.
void bdd_exchange(kzu_bdd_manager m, long level) {
  unique *u = &m->unique_table;
  long x = m->indexindexes[level], y = m->indexindexes[level + 1];
  var_table *xt = u->tables[x], *yt = u->tables[y];
  // 1. x's nodes are gathered (its chains walked side by side) and sorted:
  // garbage is freed, nodes that test y move to the front of the array as
  // the work list, the others go back into x's table.
  long gathered = 0;
  struct bdd_ **nodes = bdd_reorder_scratch(m, xt->entries);
  bdd_walk_chains(xt, [&](bdd n) { nodes[gathered++] = n; });
  memset(xt->table, 0, (size_t)xt->size * sizeof(bdd_bucket));
  xt->entries = 0;
  long nwork = 0;
  for (long i = 0; i < gathered; i++) {
    if (i + 8 < gathered) {
      bdd_prefetch(bdd_regular(nodes[i + 8]->data[0]));
      bdd_prefetch(bdd_regular(nodes[i + 8]->data[1]));
    }
    struct bdd_ *n = nodes[i];
    if (bdd_unreferenced(n)) {
      u->entries--;
      bdd t = n->data[0], e = n->data[1];
      bdd_release_node(m, n);
      bdd_parent_dec(m, t);
      bdd_parent_dec(m, e);
    } else if (bdd_id(n->data[0]) == y || bdd_id(n->data[1]) == y) {
      nodes[nwork++] = n;
    } else {
      uint64_t h = bdd_node_key(n->data[0], n->data[1]);
      bdd_bucket_push_raw(xt, bdd_key_bucket(h, xt->size), n, bdd_key_summary(h));
      xt->entries++;
    }
  }
  // 2. Each becomes (y, (x, f11, f01), (x, f10, f00)). The grandchildren
  // that the new x-nodes count as theirs are fetched ahead.
  for (long j = 0; j < nwork; j++) {
    if (j + 2 < nwork) {
      struct bdd_ *w = nodes[j + 2];
      for (bdd c : {w->data[0], w->data[1]}) {
        struct bdd_ *cn = bdd_regular(c);
        if (cn->indexindex == y) {
          bdd_prefetch(bdd_regular(cn->data[0]));
          bdd_prefetch(bdd_regular(cn->data[1]));
        }
      }
    }
    struct bdd_ *n = nodes[j];
    bdd f1 = n->data[0], f0 = n->data[1];
    bdd f11 = f1, f10 = f1, f01 = f0, f00 = f0;
    if (bdd_id(f1) == y) {
      f11 = bdd_then_of(f1);
      f10 = bdd_else_of(f1);
    }
    if (bdd_id(f0) == y) {
      f01 = bdd_then_of(f0);
      f00 = bdd_else_of(f0);
    }
    bdd t = bdd_reorder_find(m, x, f11, f01);
    bdd e = bdd_reorder_find(m, x, f10, f00);
    kz_debug_assert(!bdd_is_complemented(t) && t != e, "exchange made a non-canonical node");
    bdd_parent_inc(t);
    bdd_parent_inc(e);
    n->indexindex = (uint16_t)y;
    n->data[0] = t;
    n->data[1] = e;
    if (bdd_unreferenced(n)) kzu_bdd_fatal("bdd_exchange_aux: how did this happen?");
    bdd_parent_dec(m, f1);
    bdd_parent_dec(m, f0);
    uint64_t h = bdd_node_key(t, e);
    bdd_bucket_push_raw(yt, bdd_key_bucket(h, yt->size), n, bdd_key_summary(h));
    yt->entries++;
    if (yt->entries > 4 * yt->size) bdd_rehash_var_table(m, yt, true);
  }
  // 3. The levels swap.
  m->indexes[x] = (uint16_t)(level + 1);
  m->indexes[y] = (uint16_t)level;
  m->indexindexes[level] = y;
  m->indexindexes[level + 1] = x;
  bdd_swap_assoc_last(&m->temp_assoc, level, x);
  for (assoc_list *a = m->assocs; a != nullptr; a = a->next) bdd_swap_assoc_last(&a->va, level, x);
  m->swaps++;
}

// ---- Blocks ---------------------------------------------------------------------------------------------------
long bdd_block_levels(block b) { return b->last_index - b->first_index + 1; }

long bdd_block_nodes(kzu_bdd_manager m, block b) {
  long n = 0;
  for (long level = b->first_index; level <= b->last_index; level++)
    n += m->unique_table.tables[m->indexindexes[level]]->entries;
  return n;
}

void bdd_shift_block(block b, long delta) {
  b->first_index += delta;
  b->last_index += delta;
  for (long i = 0; i < b->num_children; i++) bdd_shift_block(b->children[i], delta);
}

// Exchanges the children i and i + 1 of `parent`: each variable of the lower
// block in turn rises above every variable of the upper one.
void bdd_exchange_blocks(kzu_bdd_manager m, block parent, long i) {
  block a = parent->children[i], b = parent->children[i + 1];
  long na = bdd_block_levels(a), nb = bdd_block_levels(b), top = a->first_index;
  for (long k = 0; k < nb; k++)
    for (long level = top + na + k - 1; level >= top + k; level--) bdd_exchange(m, level);
  bdd_shift_block(b, -na);
  bdd_shift_block(a, nb);
  parent->children[i] = b;
  parent->children[i + 1] = a;
}

// ---- Sifting ---------------------------------------------------------------------------------------------------
// Moves child `pos` of `parent` through every position while the node count
// stays within max_growth times its count at the start, and leaves it where
// the count was smallest (the earliest such position).
void bdd_sift_child(kzu_bdd_manager m, block parent, long pos, double max_growth) {
  unique *u = &m->unique_table;
  long k = parent->num_children;
  double cap = max_growth * (double)u->entries;
  long limit = cap >= (double)LONG_MAX ? LONG_MAX : (long)cap;
  if (u->node_limit != 0 && u->node_limit < limit) limit = u->node_limit;
  long best = u->entries, best_pos = pos, cur = pos;
  while (cur < k - 1 && u->entries <= limit) {
    bdd_exchange_blocks(m, parent, cur++);
    if (u->entries < best) {
      best = u->entries;
      best_pos = cur;
    }
  }
  while (cur > pos) bdd_exchange_blocks(m, parent, --cur);
  while (cur > 0 && u->entries <= limit) {
    bdd_exchange_blocks(m, parent, --cur);
    if (u->entries < best) {
      best = u->entries;
      best_pos = cur;
    }
  }
  while (cur < best_pos) bdd_exchange_blocks(m, parent, cur++);
  while (cur > best_pos) bdd_exchange_blocks(m, parent, --cur);
}

void bdd_sift_block(kzu_bdd_manager m, block b, double max_growth) {
  if (b->reorderable && b->num_children > 1) {
    long nc = b->num_children;
    block *cand = (block *)bdd_alloc_zeroed(nc * (long)sizeof(block));
    memcpy(cand, b->children, (size_t)nc * sizeof(block));
    while (nc > 0) {
      // The candidate with the most nodes per level goes first.
      long pick = 0;
      double most = -1.0;
      for (long i = 0; i < nc; i++) {
        double avg = (double)bdd_block_nodes(m, cand[i]) / (double)bdd_block_levels(cand[i]);
        if (avg > most) {
          most = avg;
          pick = i;
        }
      }
      if (most < 2.0) break;
      block c = cand[pick];
      memmove(cand + pick, cand + pick + 1, (size_t)(nc - pick - 1) * sizeof(block));
      nc--;
      long pos = 0;
      while (b->children[pos] != c) pos++;
      bdd_sift_child(m, b, pos, max_growth);
    }
    bdd_free_array(cand);
  }
  for (long i = 0; i < b->num_children; i++) bdd_sift_block(m, b->children[i], max_growth);
}

// ---- Stable window of three -------------------------------------------------------------------------------
// Tries the orders of children i, i+1 (and i+2) of `parent` and keeps the
// one with the fewest nodes; the earliest wins ties. True when the order
// changed.
bool bdd_window2(kzu_bdd_manager m, block parent, long i) {
  long before = m->unique_table.entries;
  bdd_exchange_blocks(m, parent, i);
  if (m->unique_table.entries < before) return true;
  bdd_exchange_blocks(m, parent, i);
  return false;
}

bool bdd_window3(kzu_bdd_manager m, block parent, long i) {
  // The six orders form a cycle of exchanges at i and i + 1:
  // ABC -i- BAC -(i+1)- BCA -i- CBA -(i+1)- CAB -i- ACB -(i+1)- ABC.
  long count[6];
  count[0] = m->unique_table.entries;
  for (int s = 1; s < 6; s++) {
    bdd_exchange_blocks(m, parent, (s & 1) ? i : i + 1);
    count[s] = m->unique_table.entries;
  }
  int best = 0;
  for (int s = 1; s < 6; s++)
    if (count[s] < count[best]) best = s;
  // From order 5, the shorter way round the cycle.
  if (best + 1 <= 5 - best) {
    bdd_exchange_blocks(m, parent, i + 1);  // to order 0
    for (int s = 1; s <= best; s++) bdd_exchange_blocks(m, parent, (s & 1) ? i : i + 1);
  } else {
    for (int s = 5; s > best; s--) bdd_exchange_blocks(m, parent, (s & 1) ? i : i + 1);
  }
  return best != 0;
}

void bdd_window3_block(kzu_bdd_manager m, block b) {
  long k = b->num_children;
  if (b->reorderable && k > 1) {
    long windows = k == 2 ? 1 : k - 2;
    char *marked = (char *)bdd_alloc_zeroed(windows);
    memset(marked, 1, (size_t)windows);
    for (bool any = true; any;) {
      any = false;
      for (long i = 0; i < windows; i++) {
        if (!marked[i]) continue;
        any = true;
        marked[i] = 0;
        bool changed = k == 2 ? bdd_window2(m, b, i) : bdd_window3(m, b, i);
        if (!changed) continue;
        for (long j = i - 2; j <= i + 4; j++)
          if (j >= 0 && j < windows && j != i) marked[j] = 1;
      }
    }
    bdd_free_array(marked);
  }
  for (long i = 0; i < b->num_children; i++) bdd_window3_block(m, b->children[i]);
}

// Runs `body` inside a reordering frame unless one is already running.
void bdd_run_method(kzu_bdd_manager m, void (*body)(kzu_bdd_manager)) {
  if (m->reordering) {
    body(m);
  } else if (!m->in_operation) {
    bdd_reorder_frame(m, [&] { body(m); });
  }
}

void bdd_sift_body(kzu_bdd_manager m) { bdd_sift_block(m, m->super_block, 2.0); }
void bdd_window_body(kzu_bdd_manager m) { bdd_window3_block(m, m->super_block); }

void bdd_hybrid_body(kzu_bdd_manager m) {
  unique *u = &m->unique_table;
  double factor = m->reorder_data != nullptr ? *(double *)m->reorder_data : 2.0;
  double growth = u->entries < 10000 || factor > 2.0 ? 2.0 : factor;
  long before = u->entries;
  bdd_sift_block(m, m->super_block, growth);
  long after = u->entries;
  if (m->reorder_data != nullptr && before > 0)
    *(double *)m->reorder_data = 1.0 + 2.0 * (double)(before - after) / (double)before;
}

}  // namespace

void bdd_reorder_aux(kzu_bdd_manager m) {
  if (m->reorder_fn == nullptr) return;
  bdd_reorder_frame(m, [&] { m->reorder_fn(m); });
}

void bdd_exchange_levels(kzu_bdd_manager m, long level) {
  if (level < 0 || level + 1 >= m->vars || m->in_operation || m->reordering) return;
  bdd_reorder_frame(m, [&] { bdd_exchange(m, level); });
}

void kzu_bdd_dynamic_reordering(kzu_bdd_manager m, void (*method)(kzu_bdd_manager)) {
  m->reorder_fn = method;
  if (m->reorder_data != nullptr) {
    mem_free_block((pointer)m->reorder_data);
    m->reorder_data = nullptr;
  }
  if (method == kzu_bdd_reorder_hybrid) {
    m->reorder_data = mem_get_block((long)sizeof(double));
    *(double *)m->reorder_data = 2.0;
  }
}

void kzu_bdd_reorder(kzu_bdd_manager m) {
  if (m->in_operation || m->reordering) return;
  bdd_collect(m);
  bdd_reorder_aux(m);
}

void kzu_bdd_reorder_sift(kzu_bdd_manager m) { bdd_run_method(m, bdd_sift_body); }
void kzu_bdd_reorder_stable_window3(kzu_bdd_manager m) { bdd_run_method(m, bdd_window_body); }
void kzu_bdd_reorder_hybrid(kzu_bdd_manager m) { bdd_run_method(m, bdd_hybrid_body); }

long kzu_bdd_reorderings(kzu_bdd_manager m) { return m->reorderings; }
double kzu_bdd_reorder_seconds(kzu_bdd_manager m) { return m->reorder_seconds; }
