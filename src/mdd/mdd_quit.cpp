#include "mdd/mddInt.h"

void mdd_quit(mdd_manager *mgr) {
  mdd_hook_type *hook = mdd_hook(mgr);
  array_t *mvars = hook->mvar_list;
  for (int i = 0; i < array_n(mvars); i++) {
    mvar_type *mv = &array_fetch(mvar_type, mvars, i);
    MMfree(mv->name);
    MMfree(mv->encoding);
    array_free(mv->bvars);
  }
  array_free(mvars);
  array_t *bvars = hook->bvar_list;
  for (int i = 0; i < array_n(bvars); i++) {
    mdd_t *node = array_fetch(bvar_type, bvars, i).node;
    if (node != nullptr) bdd_free(node);
  }
  array_free(bvars);
  MMfree(hook);
  bdd_get_external_hooks(mgr)->mdd = nullptr;
  bdd_end(mgr);
}
