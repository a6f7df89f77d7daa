// Handle layer: bdd_t records over engine edges, the manager, connectives
// with phases, node inspection and quantification.
#include <cstdlib>
#include <cstring>

#include "kzuPort/bddInt.h"

static inline kzu_bdd_manager bdd_engine(bdd_manager *mgr) { return (kzu_bdd_manager)mgr; }
static inline bdd bdd_edge(bdd_t *f) { return f != nullptr ? f->node : nullptr; }
static inline bdd bdd_phased(bdd_t *f, boolean phase) {
  return f != nullptr ? bdd_phase_edge(f, phase) : nullptr;
}

// ---- Manager ---------------------------------------------------------------------
bdd_manager *bdd_start(int nvariables) {
  kzu_bdd_manager m = kzu_bdd_init();
  for (int i = 0; i < nvariables; i++) kzu_bdd_new_var_last(m);
  bdd_external_hooks *hooks = (bdd_external_hooks *)MMalloc(sizeof(bdd_external_hooks));
  if (hooks == nullptr) {  // an out-of-memory hook that returns
    kzu_bdd_quit(m);
    return nullptr;
  }
  memset(hooks, 0, sizeof(*hooks));
  m->hooks = hooks;
  return m;
}

void bdd_end(bdd_manager *mgr) {
  if (mgr == nullptr) return;
  kzu_bdd_manager m = bdd_engine(mgr);
  MMfree(m->hooks);
  m->hooks = nullptr;
  kzu_bdd_quit(m);
}

bdd_external_hooks *bdd_get_external_hooks(bdd_manager *mgr) {
  return (bdd_external_hooks *)bdd_engine(mgr)->hooks;
}

bdd_manager *bdd_get_manager(bdd_t *f) { return f->mgr; }

// ---- Construction -------------------------------------------------------------------
bdd_t *bdd_construct_bdd_t(bdd_manager *mgr, struct bdd_ *edge) {
  if (edge == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  bdd_port_state *s = (bdd_port_state *)bdd_engine(mgr)->layer_state;
  bdd_t *f;
  if (s != nullptr && s->free_handles != nullptr) {
    f = s->free_handles;
    s->free_handles = (bdd_t *)f->node;
  } else {
    f = bdd_new_handle_slow(bdd_engine(mgr));
    if (f == nullptr) kzu_bdd_fatal("bdd_construct_bdd_t: possible memory overflow");
  }
  f->free = 0;
  f->node = edge;
  f->mgr = mgr;
  return f;
}

bdd_t *bdd_one(bdd_manager *mgr) { return bdd_construct_bdd_t(mgr, kzu_bdd_one(bdd_engine(mgr))); }
bdd_t *bdd_zero(bdd_manager *mgr) { return bdd_construct_bdd_t(mgr, kzu_bdd_zero(bdd_engine(mgr))); }

bdd_t *bdd_get_variable(bdd_manager *mgr, bdd_variableId id) {
  kzu_bdd_manager m = bdd_engine(mgr);
  if ((long)id >= kzu_bdd_vars(m)) kzu_bdd_fatal("bdd_get_variable: assumption violated");
  return bdd_construct_bdd_t(mgr, kzu_bdd_var_with_id(m, (long)id + 1));
}

bdd_t *bdd_dup(bdd_t *f) { return bdd_construct_bdd_t(f->mgr, kzu_bdd_identity(f->mgr, bdd_edge(f))); }

void bdd_free(bdd_t *f) {
  util_assert(f != nullptr, "bdd_free: trying to free a NIL bdd_t");
  util_assert(f->free == 0, "bdd_free: trying to free a freed bdd_t");
  kzu_bdd_manager m = f->mgr;
  kzu_bdd_free(m, f->node);
  // Back on the manager's free list (the record was made with its state).
  bdd_port_state *s = (bdd_port_state *)m->layer_state;
  kz_debug_assert(s != nullptr, "a handle record comes from its manager's blocks");
  f->free = 1;
  f->mgr = nullptr;
  f->node = (bdd)s->free_handles;
  s->free_handles = f;
}

// ---- Connectives ------------------------------------------------------------------------
bdd_t *bdd_not(bdd_t *f) { return bdd_construct_bdd_t(f->mgr, kzu_bdd_not(f->mgr, bdd_edge(f))); }

bdd_t *bdd_and(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase) {
  bdd_manager *mgr = f->mgr;
  return bdd_construct_bdd_t(mgr, kzu_bdd_and(mgr, bdd_phased(f, f_phase), bdd_phased(g, g_phase)));
}

bdd_t *bdd_or(bdd_t *f, bdd_t *g, boolean f_phase, boolean g_phase) {
  bdd_manager *mgr = f->mgr;
  return bdd_construct_bdd_t(mgr, kzu_bdd_or(mgr, bdd_phased(f, f_phase), bdd_phased(g, g_phase)));
}

bdd_t *bdd_ite(bdd_t *i, bdd_t *t, bdd_t *e, boolean i_phase, boolean t_phase, boolean e_phase) {
  bdd_manager *mgr = i->mgr;
  return bdd_construct_bdd_t(
      mgr, kzu_bdd_ite(mgr, bdd_phased(i, i_phase), bdd_phased(t, t_phase), bdd_phased(e, e_phase)));
}

bdd_t *bdd_xor(bdd_t *f, bdd_t *g) {
  return bdd_construct_bdd_t(f->mgr, kzu_bdd_xor(f->mgr, bdd_edge(f), bdd_edge(g)));
}

bdd_t *bdd_xnor(bdd_t *f, bdd_t *g) {
  return bdd_construct_bdd_t(f->mgr, kzu_bdd_xnor(f->mgr, bdd_edge(f), bdd_edge(g)));
}

// ---- Tests ---------------------------------------------------------------------------------
boolean bdd_equal(bdd_t *f, bdd_t *g) { return f->node == g->node; }

boolean bdd_is_tautology(bdd_t *f, boolean phase) {
  kzu_bdd_manager m = f->mgr;
  return f->node == (phase == 1 ? kzu_bdd_one(m) : kzu_bdd_zero(m));
}

// ---- Node inspection -------------------------------------------------------------------------
bdd_node *bdd_get_node(bdd_t *f, boolean *is_complemented) {
  *is_complemented = bdd_is_complemented(f->node);
  return bdd_regular(f->node);
}

bdd_t *bdd_then(bdd_t *f) { return bdd_construct_bdd_t(f->mgr, kzu_bdd_then(f->mgr, bdd_edge(f))); }
bdd_t *bdd_else(bdd_t *f) { return bdd_construct_bdd_t(f->mgr, kzu_bdd_else(f->mgr, bdd_edge(f))); }

bdd_variableId bdd_top_var_id(bdd_t *f) { return (bdd_variableId)(kzu_bdd_if_id(f->mgr, bdd_edge(f)) - 1); }

int bdd_size(bdd_t *f) { return (int)kzu_bdd_size(f->mgr, bdd_edge(f), 1); }

// ---- Quantification --------------------------------------------------------------------------------
bdd *bdd_edges_of_array(array_t *a) {
  int n = a != nullptr ? array_n(a) : 0;
  bdd *edges = (bdd *)MMalloc(sizeof(bdd) * (size_t)(n + 1));
  for (int i = 0; i < n; i++) edges[i] = bdd_edge(array_fetch(bdd_t *, a, i));
  edges[n] = nullptr;
  return edges;
}

bdd_t *bdd_smooth(bdd_t *f, array_t *smoothing_vars) {
  if (smoothing_vars == nullptr || array_n(smoothing_vars) == 0) kzu_bdd_fatal("bdd_smooth: no smoothing variables");
  kzu_bdd_manager m = f->mgr;
  bool ok = bdd_select_assoc(m, smoothing_vars, nullptr);
  return bdd_construct_bdd_t(f->mgr, ok ? kzu_bdd_exists(m, f->node) : nullptr);
}

unsigned int bdd_num_vars(bdd_manager *mgr) { return (unsigned int)kzu_bdd_vars(bdd_engine(mgr)); }
