// Reordering frame and the selectable methods. The methods keep the current
// order for now; the frame already runs them from the periodic check and on
// request, with the computed table emptied first.
#include "kzuBdd/kzuBddInt.h"

void bdd_reorder_aux(kzu_bdd_manager m) {
  if (m->reorder_fn == nullptr) return;
  bdd_flush_all(m);
  m->reorder_fn(m);
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
  if (m->in_operation) return;
  bdd_collect(m);
  bdd_reorder_aux(m);
}

void kzu_bdd_reorder_sift(kzu_bdd_manager) {}
void kzu_bdd_reorder_stable_window3(kzu_bdd_manager) {}
void kzu_bdd_reorder_hybrid(kzu_bdd_manager) {}
