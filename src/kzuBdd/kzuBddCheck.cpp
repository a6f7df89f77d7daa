// Heap checker: verifies the stored-graph invariants of every node table,
// the entry counters and the computed table's references.
#include <cinttypes>
#include <unordered_set>

#include "kzuBdd/kzuBddInt.h"

namespace {

struct heap_report {
  long problems = 0;
  void fail(const char *what, const void *node) {
    if (problems < 20) fprintf(stderr, "kzu_bdd_check_heap: %s (node %p)\n", what, node);
    problems++;
  }
};

}  // namespace

long kzu_bdd_check_heap(kzu_bdd_manager m) {
  heap_report rep;
  unique *u = &m->unique_table;
  std::unordered_set<const struct bdd_ *> present;
  long total = 0;
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    if (vt->size != bdd_primes[vt->size_index]) rep.fail("table size is not its prime", vt);
    long count = 0;
    for (long i = 0; i < vt->size; i++) {
      for (bdd n = bdd_bucket_first(vt->table[i]); n != nullptr; n = n->next) {
        count++;
        if (bdd_is_complemented(n) || ((uintptr_t)n & 7) != 0) rep.fail("misaligned node in a chain", n);
        if (n->indexindex != id) rep.fail("node in the table of another variable", n);
        if (bdd_node_hash(n->data[0], n->data[1], vt->size) != i) rep.fail("node in the wrong bucket", n);
        if (!present.insert(n).second) rep.fail("node linked twice", n);
        // Every key's summary bits are in the head's summary and in the
        // summaries of the nodes before it.
        unsigned s = bdd_key_summary(bdd_node_key(n->data[0], n->data[1]));
        if ((bdd_bucket_summary(vt->table[i]) & s) != s) rep.fail("bucket summary misses a node", n);
        for (bdd o = bdd_bucket_first(vt->table[i]); o != n; o = o->next)
          if ((o->spare & s) != s) rep.fail("chain summary misses a node", n);
      }
    }
    if (count != vt->entries) rep.fail("table entry counter is wrong", vt);
    total += count;
  }
  if (total != u->entries) rep.fail("unique entry counter is wrong", u);
  for (long id = 1; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    long level = m->indexes[id];
    if (m->indexindexes[level] != id) rep.fail("level arrays disagree", vt);
    for (long i = 0; i < vt->size; i++) {
      for (bdd n = bdd_bucket_first(vt->table[i]); n != nullptr; n = n->next) {
        bdd t = n->data[0], e = n->data[1];
        if (bdd_is_complemented(t)) rep.fail("complemented then-edge", n);
        if (t == e) rep.fail("then-edge equals else-edge", n);
        if (((uintptr_t)t & 6) || ((uintptr_t)e & 6)) rep.fail("edge with flag bits 1-2 set", n);
        if (!present.count(bdd_regular(t)) || !present.count(bdd_regular(e))) {
          rep.fail("child not in any table", n);
          continue;
        }
        if (bdd_level(m, t) <= level || bdd_level(m, e) <= level) rep.fail("child not below its parent", n);
        for (bdd o = bdd_bucket_first(vt->table[i]); o != n; o = o->next)
          if (o->data[0] == t && o->data[1] == e) rep.fail("duplicate node", n);
      }
    }
  }
  if (bdd_regular(m->one)->refs != BDD_MAX_REFS) rep.fail("constant is not permanent", m->one);
  for (long id = 1; id <= m->vars; id++) {
    bdd v = m->variables[id];
    if (v == nullptr || bdd_regular(v)->refs != BDD_MAX_REFS || v->data[0] != m->one || v->data[1] != m->zero)
      rep.fail("projection node damaged", v);
  }
  // Cache entries of edge tags refer to nodes that still exist.
  cache *c = &m->op_cache;
  long entries = 0;
  for (long i = 0; i < c->size; i++) {
    for (int s = 0; s < 2; s++) {
      cache_entry *e = &c->table[i].entry[s];
      if (e->key == 0) continue;
      entries++;
      if (bdd_cache_entry_bin(e, c->size) != i) rep.fail("cache entry in the wrong bin", e);
      int tag = bdd_cache_tag(e);
      if (tag == BDD_TAG_ITE || tag == BDD_TAG_OP) {
        intptr_t v[4];
        bdd_cache_entry_slots(m, e, v);
        for (int k = tag == BDD_TAG_ITE ? 0 : 1; k < 4; k++)
          if (!present.count(bdd_regular((bdd)v[k]))) rep.fail("cache entry refers to a freed node", e);
      }
    }
    if (c->table[i].entry[0].key == 0 && c->table[i].entry[1].key != 0)
      rep.fail("cache bin with only slot 1 used", &c->table[i]);
  }
  if (entries != c->entries) rep.fail("cache entry counter is wrong", c);
  return rep.problems;
}

long kzu_bdd_check_temps(kzu_bdd_manager m) {
  long held = 0;
  unique *u = &m->unique_table;
  for (long id = 0; id <= m->vars; id++) {
    var_table *vt = u->tables[id];
    for (long i = 0; i < vt->size; i++)
      for (bdd n = bdd_bucket_first(vt->table[i]); n != nullptr; n = n->next)
        if (n->mark & BDD_TEMP_MASK) held++;
  }
  return held;
}
