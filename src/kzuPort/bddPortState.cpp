// The handle layer's state per manager: blocks of handle records and the
// cache of variable lists kept as named associations.
#include <cstdlib>
#include <cstring>

#include "kzuPort/bddInt.h"

static void bdd_port_quit(kzu_bdd_manager m) {
  bdd_port_state *s = (bdd_port_state *)m->layer_state;
  if (s == nullptr) return;
  // The associations themselves go with the engine's.
  for (int i = 0; i < s->assocs; i++) MMfree(s->assoc[i].edges);
  void *b = s->blocks;
  while (b != nullptr) {
    void *next = *(void **)b;
    MMfree(b);
    b = next;
  }
  MMfree(s);
  m->layer_state = nullptr;
  m->layer_quit = nullptr;
}

bdd_port_state *bdd_port_state_of(kzu_bdd_manager m) {
  if (m->layer_state != nullptr) return (bdd_port_state *)m->layer_state;
  bdd_port_state *s = (bdd_port_state *)MMalloc(sizeof(bdd_port_state));
  if (s == nullptr) return nullptr;
  memset(s, 0, sizeof(*s));
  m->layer_state = s;
  m->layer_quit = bdd_port_quit;
  return s;
}

// ---- Handle records ------------------------------------------------------------------
// A block is a link word followed by BDD_HANDLE_BLOCK records.
struct bdd_handle_block {
  void *next;
  bdd_t rec[BDD_HANDLE_BLOCK];
};

bdd_t *bdd_new_handle_slow(kzu_bdd_manager m) {
  bdd_port_state *s = bdd_port_state_of(m);
  if (s == nullptr) return nullptr;
  if (s->free_handles == nullptr) {
    bdd_handle_block *b = (bdd_handle_block *)MMalloc(sizeof(bdd_handle_block));
    if (b == nullptr) return nullptr;
    b->next = s->blocks;
    s->blocks = b;
    for (int i = BDD_HANDLE_BLOCK - 1; i >= 0; i--) {
      b->rec[i].free = 1;
      b->rec[i].mgr = nullptr;
      b->rec[i].node = (bdd)s->free_handles;
      s->free_handles = &b->rec[i];
    }
  }
  bdd_t *f = s->free_handles;
  s->free_handles = (bdd_t *)f->node;
  return f;
}

// ---- Associations --------------------------------------------------------------------
// The handles of an array of bdd_t * (array_fetch's element-size check done
// once for the whole array).
static bdd_t *const *bdd_handles_of(array_t *a) {
  if (array_n(a) > 0) (void)array_fetch(bdd_t *, a, 0);
  return (bdd_t *const *)a->space;
}

static inline bdd bdd_edge_or_null(const bdd_t *f) { return f != nullptr ? f->node : nullptr; }

// The i-th entry of the list: vars[i], or for pairs old[i/2] and new[i/2]
// in turn.
static inline bdd bdd_list_entry(bdd_t *const *vars, bdd_t *const *news, int i) {
  if (news == nullptr) return bdd_edge_or_null(vars[i]);
  return bdd_edge_or_null((i & 1) ? news[i >> 1] : vars[i >> 1]);
}

// True when the list's entries are `edges`, in order.
static bool bdd_same_list(bdd_t *const *vars, bdd_t *const *news, const bdd *edges, int n) {
  if (news == nullptr) {
    for (int i = 0; i < n; i++)
      if (bdd_edge_or_null(vars[i]) != edges[i]) return false;
  } else {
    for (int i = 0; i < n / 2; i++)
      if (bdd_edge_or_null(vars[i]) != edges[2 * i] || bdd_edge_or_null(news[i]) != edges[2 * i + 1]) return false;
  }
  return true;
}

static bool bdd_permanent(bdd f) { return f != nullptr && bdd_regular(f)->refs == BDD_MAX_REFS; }

// True when the list may be kept: every entry permanent; a quantified
// variable is no constant; a replaced one is a positive variable.
static bool bdd_cacheable(kzu_bdd_manager m, const bdd *edges, int n, int pairs) {
  for (int i = 0; i < n; i++) {
    bdd f = edges[i];
    if (!bdd_permanent(f)) return false;
    if (pairs ? (i % 2 == 0 && !bdd_is_positive_var(m, f)) : bdd_is_const(f)) return false;
  }
  return true;
}

bool bdd_select_assoc(kzu_bdd_manager m, array_t *vars, array_t *new_array) {
  int pairs = new_array != nullptr;
  int n = pairs ? 2 * array_n(vars) : array_n(vars);
  bdd_t *const *hv = bdd_handles_of(vars);
  bdd_t *const *hn = pairs ? bdd_handles_of(new_array) : nullptr;
  bdd_port_state *s = bdd_port_state_of(m);
  if (s != nullptr) {
    for (int k = 0; k < s->assocs; k++) {
      bdd_port_assoc *a = &s->assoc[k];
      if (a->pairs != pairs || a->n != n) continue;
      if (bdd_same_list(hv, hn, a->edges, n)) {
        kzu_bdd_assoc(m, a->id);
        return true;
      }
    }
  }
  bdd *edges = (bdd *)MMalloc(sizeof(bdd) * (size_t)(n + 1));
  if (edges == nullptr) return false;
  for (int i = 0; i < n; i++) edges[i] = bdd_list_entry(hv, hn, i);
  edges[n] = nullptr;
  if (s != nullptr && s->assocs < BDD_PORT_ASSOCS && bdd_cacheable(m, edges, n, pairs)) {
    int id = kzu_bdd_new_assoc(m, edges, pairs);
    if (id >= 0) {
      s->assoc[s->assocs++] = bdd_port_assoc{pairs, n, edges, id};
      kzu_bdd_assoc(m, id);
      return true;
    }
  }
  // Anything else goes through the temporary association, as before.
  int ok = kzu_bdd_temp_assoc(m, edges, pairs);
  MMfree(edges);
  kzu_bdd_assoc(m, -1);
  return ok != 0;
}
