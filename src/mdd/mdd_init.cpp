#include <cstdio>

#include "mdd/mddInt.h"

namespace {

// "mv_<first>", "mv_<first + 1>", ... each in an allocation of exactly its
// length.
array_t *default_names(int count, int first) {
  array_t *names = array_alloc(char *, count);
  for (int i = 0; i < count; i++) {
    util_assert(first + i >= 0, "mdd_init: internal error, value less than 0\n");
    char buf[32];
    snprintf(buf, sizeof buf, "mv_%d", first + i);
    array_insert_last(char *, names, util_copy_string(buf));
  }
  return names;
}

void free_names(array_t *names) {
  for (int i = 0; i < array_n(names); i++) MMfree(array_fetch(char *, names, i));
  array_free(names);
}

array_t *unit_strides(int count) {
  array_t *strides = array_alloc(int, count);
  for (int i = 0; i < count; i++) array_insert_last(int, strides, 1);
  return strides;
}

// Total bit count of the domains, each of which must have a value;
// `empty_domain` is the message for one that has none.
long total_bits(array_t *values, const char *empty_domain) {
  long total = 0;
  for (int i = 0; i < array_n(values); i++) {
    int n = array_fetch(int, values, i);
    util_assert(n >= 1, empty_domain);
    total += mdd_encode_length(n);
  }
  util_assert(total < (1L << 30), "mdd_init: too many binary variables\n");
  return total;
}

// The handle-layer id of the bit of `mv` that lies lowest in the order.
bdd_variableId lowest_bit(mdd_manager *mgr, mvar_type *mv) {
  bdd_variableId lowest = (bdd_variableId)array_fetch(int, mv->bvars, 0);
  long lowest_level = -1;
  for (int b = 0; b < mv->encode_length; b++) {
    mdd_t *bit = mdd_bvar_node(mgr, array_fetch(int, mv->bvars, b));
    long level = bdd_top_var_level(mgr, bit);
    if (level > lowest_level) {
      lowest_level = level;
      lowest = bdd_top_var_id(bit);
    }
  }
  return lowest;
}

// Adds mvars whose bits the caller has just created as handle-layer ids
// first_bvar .. first_bvar + bits - 1. Returns the first new mvar id.
int add_mvars(mdd_manager *mgr, int first_bvar, long bits, array_t *values, array_t *names,
              array_t *strides) {
  int m = array_n(values);
  int first_mvar = array_n(mdd_ret_mvar_list(mgr));
  array_t *own_names = nullptr;
  if (names == nullptr)
    names = own_names = default_names(m, first_mvar);
  else
    util_assert(array_n(names) == m, "mdd_init: inconsistent size of mvar_names\n");
  array_t *own_strides = nullptr;
  if (strides == nullptr)
    strides = own_strides = unit_strides(m);
  else
    util_assert(array_n(strides) == m, "mdd_init: inconsistent size of mvar_strides\n");
  mdd_record_variables(mgr, first_bvar, first_mvar, m, names, values, strides, first_bvar + (int)bits);
  if (own_strides != nullptr) array_free(own_strides);
  if (own_names != nullptr) free_names(own_names);
  return first_mvar;
}

mdd_hook_type *new_hook() {
  mdd_hook_type *hook = MDD_ALLOC(mdd_hook_type, 1, "mdd_init");
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
    mv.name = util_copy_string(name);
    mv.values = n;
    mv.encode_length = k;
    mv.bvars = bits;
    mv.encoding = MDD_ALLOC(int, k, "mdd_record_variables");
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
    names = default_names(m, 0);
  else
    util_assert(array_n(names) == m, "mdd_init: inconsistent size of mvar_names\n");
  long total = total_bits(mvar_values, "mdd_init: domain size less than 1\n");
  mdd_manager *mgr = bdd_start((int)total);
  bdd_get_external_hooks(mgr)->mdd = (char *)hook;
  array_t *strides = mvar_strides;
  if (strides != nullptr) {
    util_assert(array_n(strides) == m, "mdd_init: inconsistent size of mvar_strides\n");
  } else {
    strides = unit_strides(m);
  }
  mdd_record_variables(mgr, 0, 0, m, names, mvar_values, strides, (int)total);
  if (mvar_strides == nullptr) array_free(strides);
  if (mvar_names == nullptr) free_names(names);
  return mgr;
}

mdd_manager *mdd_init_empty(void) {
  mdd_manager *mgr = bdd_start(0);
  bdd_get_external_hooks(mgr)->mdd = (char *)new_hook();
  return mgr;
}

int mdd_create_variables(mdd_manager *mgr, array_t *mvar_values, array_t *mvar_names,
                         array_t *mvar_strides) {
  long bits = total_bits(mvar_values, "mdd_create_variables: domain size less than 1\n");
  int first_bvar = (int)bdd_num_vars(mgr);
  for (long b = 0; b < bits; b++) bdd_free(bdd_create_variable(mgr));
  return add_mvars(mgr, first_bvar, bits, mvar_values, mvar_names, mvar_strides);
}

int mdd_create_variables_after(mdd_manager *mgr, int after_mvar_id, array_t *mvar_values,
                               array_t *mvar_names, array_t *mvar_strides) {
  bdd_variableId previous = lowest_bit(mgr, mdd_mvar(mgr, after_mvar_id));
  long bits = total_bits(mvar_values, "mdd_create_variables_after: domain size less than 1\n");
  int first_bvar = (int)bdd_num_vars(mgr);
  // Each new bit goes right below the one made before it, so the new bits
  // keep their id order in the variable order.
  for (long b = 0; b < bits; b++) {
    mdd_t *bit = bdd_create_variable_after(mgr, previous);
    previous = bdd_top_var_id(bit);
    bdd_free(bit);
  }
  return add_mvars(mgr, first_bvar, bits, mvar_values, mvar_names, mvar_strides);
}

int mdd_create_variables_interleaved(mdd_manager *mgr, int inter_var_id, int no_mvars, array_t *mvar_names) {
  util_assert(no_mvars >= 1, "mdd_create_variables_interleaved: no variables to create\n");
  mvar_type model = *mdd_mvar(mgr, inter_var_id);
  int first_bvar = (int)bdd_num_vars(mgr);
  // Below each bit of the model mvar, one bit of every new mvar: the new
  // bits are numbered bit by bit, so mvar t gets ids first + t + b * no_mvars,
  // which is the layout of one interleaving group of stride no_mvars.
  for (int b = 0; b < model.encode_length; b++) {
    bdd_variableId previous = (bdd_variableId)array_fetch(int, model.bvars, b);
    for (int t = 0; t < no_mvars; t++) {
      mdd_t *bit = bdd_create_variable_after(mgr, previous);
      previous = bdd_top_var_id(bit);
      bdd_free(bit);
    }
  }
  array_t *values = array_alloc(int, no_mvars);
  array_t *strides = array_alloc(int, no_mvars);
  for (int t = 0; t < no_mvars; t++) {
    array_insert_last(int, values, model.values);
    array_insert_last(int, strides, no_mvars);
  }
  int first = add_mvars(mgr, first_bvar, (long)model.encode_length * no_mvars, values, mvar_names, strides);
  array_free(values);
  array_free(strides);
  return first;
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
