#include <cstdio>
#include <cstring>

#include "mdd/mddInt.h"

namespace {

char *copy_name(const char *name) {
  size_t len = strlen(name);
  char *copy = ALLOC(char, len + 1);
  memcpy(copy, name, len + 1);
  return copy;
}

// "mv_0", "mv_1", ... each in an allocation of exactly its length.
array_t *default_names(int count) {
  array_t *names = array_alloc(char *, count);
  for (int i = 0; i < count; i++) {
    util_assert(i >= 0, "mdd_init: internal error, value less than 0\n");
    char buf[32];
    snprintf(buf, sizeof buf, "mv_%d", i);
    array_insert_last(char *, names, copy_name(buf));
  }
  return names;
}

mdd_hook_type *new_hook() {
  mdd_hook_type *hook = ALLOC(mdd_hook_type, 1);
  hook->mvar_list = array_alloc(mvar_type, 0);
  hook->bvar_list = array_alloc(bvar_type, 0);
  return hook;
}

[[noreturn]] void stride_inconsistency(const char *name) {
  printf("mdd_record_variables: processing %s\n", name);
  util_assert_fail(__FILE__, __LINE__, "mdd_record_variables: inconsistency found in mvar_stride\n");
}

}  // namespace

int mdd_encode_length(int values) {
  if (values <= 1) return 1;
  int k = 0;
  while (k < 31 && (1L << k) < (long)values) k++;
  return k;
}

mdd_hook_type *mdd_hook(mdd_manager *mgr) {
  mdd_hook_type *hook = (mdd_hook_type *)bdd_get_external_hooks(mgr)->mdd;
  util_assert(hook != nullptr, "mdd: manager has no multi-valued variables");
  return hook;
}

mvar_type *mdd_mvar(mdd_manager *mgr, int id) {
  return &array_fetch(mvar_type, mdd_hook(mgr)->mvar_list, id);
}

mdd_t *mdd_bvar_node(mdd_manager *mgr, int id) {
  return array_fetch(bvar_type, mdd_hook(mgr)->bvar_list, id).node;
}

void mdd_record_variables(mdd_manager *mgr, int first_bvar, int first_mvar, int n_mvars,
                          array_t *names, array_t *values, array_t *strides, int bvar_limit) {
  mdd_hook_type *hook = mdd_hook(mgr);
  int e = first_bvar;  // next free position of the current group
  int j = 1;           // members of the current interleaving group so far
  int d = -1;          // the group's stride; -1 while no group is open
  for (int i = 0; i < n_mvars; i++) {
    int id = first_mvar + i;
    const char *name = array_fetch(char *, names, i);
    util_assert(name != nullptr, "mdd_record_variables: mvar without a name\n");
    int n = array_fetch(int, values, i);
    int k = mdd_encode_length(n);
    int s = array_fetch(int, strides, i);
    // A stride below 1, or a group whose members differ in bit count, would
    // give two mvars the same bit or a bit that does not exist.
    if (s < 1) stride_inconsistency(name);
    array_t *bits = array_alloc(int, k);
    for (int b = 0; b < k; b++) {
      long bvar = (long)e + (long)b * s;
      if (bvar >= bvar_limit) stride_inconsistency(name);
      array_t *bvar_list = hook->bvar_list;
      if (bvar < array_n(bvar_list) && array_fetch(bvar_type, bvar_list, (int)bvar).node != nullptr)
        stride_inconsistency(name);
      bvar_type rec;
      rec.node = bdd_get_variable(mgr, (bdd_variableId)bvar);
      rec.mvar_id = id;
      array_insert(bvar_type, bvar_list, (int)bvar, rec);
      array_insert_last(int, bits, (int)bvar);
    }
    mvar_type mv;
    mv.mvar_id = id;
    mv.status = MDD_ACTIVE;
    mv.name = copy_name(name);
    mv.values = n;
    mv.encode_length = k;
    mv.bvars = bits;
    mv.encoding = ALLOC(int, k);
    array_insert(mvar_type, hook->mvar_list, id, mv);
    if (d != -1 && s != d) stride_inconsistency(name);
    if (j == s) {
      j = 1;
      d = -1;
      e = e + (k - 1) * s + 1;
    } else {
      j++;
      d = s;
      e++;
    }
  }
  for (int i = 0; i < n_mvars; i++) {
    mvar_type *mv = mdd_mvar(mgr, first_mvar + i);
    for (int b = 0; b < mv->encode_length; b++) mv->encoding[b] = 2;
  }
}

mdd_manager *mdd_init(array_t *mvar_values, array_t *mvar_names, array_t *mvar_strides) {
  int m = array_n(mvar_values);
  mdd_hook_type *hook = new_hook();
  array_t *names = mvar_names;
  if (names == nullptr)
    names = default_names(m);
  else
    util_assert(array_n(names) == m, "mdd_init: inconsistent size of mvar_names\n");
  long total = 0;
  for (int i = 0; i < m; i++) {
    int n = array_fetch(int, mvar_values, i);
    util_assert(n >= 1, "mdd_init: domain size less than 1\n");
    total += mdd_encode_length(n);
  }
  util_assert(total < (1L << 30), "mdd_init: too many binary variables\n");
  mdd_manager *mgr = bdd_start((int)total);
  bdd_get_external_hooks(mgr)->mdd = (char *)hook;
  array_t *strides = mvar_strides;
  if (strides != nullptr) {
    util_assert(array_n(strides) == m, "mdd_init: inconsistent size of mvar_strides\n");
  } else {
    strides = array_alloc(int, m);
    for (int i = 0; i < m; i++) array_insert_last(int, strides, 1);
  }
  mdd_record_variables(mgr, 0, 0, m, names, mvar_values, strides, (int)total);
  if (mvar_strides == nullptr) array_free(strides);
  if (mvar_names == nullptr) {
    for (int i = 0; i < m; i++) MMfree(array_fetch(char *, names, i));
    array_free(names);
  }
  return mgr;
}

mdd_manager *mdd_init_empty(void) {
  mdd_manager *mgr = bdd_start(0);
  bdd_get_external_hooks(mgr)->mdd = (char *)new_hook();
  return mgr;
}

array_t *mdd_ret_mvar_list(mdd_manager *mgr) { return mdd_hook(mgr)->mvar_list; }

array_t *mdd_ret_bvar_list(mdd_manager *mgr) { return mdd_hook(mgr)->bvar_list; }

int mdd_ret_bvar_id(mvar_type *mv, int i) { return array_fetch(int, mv->bvars, i); }

bvar_type mdd_ret_bvar(mvar_type *mv, int i, array_t *bvar_list) {
  return array_fetch(bvar_type, bvar_list, mdd_ret_bvar_id(mv, i));
}

array_t *mdd_ret_bvars_of_mvar(mvar_type *mv) { return mv->bvars; }

mvar_type mdd_get_var_by_id(mdd_manager *mgr, int id) { return *mdd_mvar(mgr, id); }

array_t *mdd_set_mvar_list(mdd_manager *mgr, array_t *mvar_list) {
  mdd_hook_type *hook = mdd_hook(mgr);
  array_t *previous = hook->mvar_list;
  hook->mvar_list = mvar_list;
  return previous;
}
