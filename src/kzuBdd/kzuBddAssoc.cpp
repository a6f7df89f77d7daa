// Variable associations: the temporary association and the named ones, the
// selection of the current one and the operation ids derived from it.
#include <cstring>

#include "kzuBdd/kzuBddInt.h"

// Checks a pair list: every first element must be a positive variable.
static bool bdd_check_assoc(kzu_bdd_manager m, bdd *vars, int pairs) {
  if (!pairs) return true;
  for (bdd *p = vars; p[0] != nullptr; p += 2) {
    if (!bdd_is_positive_var(m, p[0])) {
      kzu_bdd_warning("check_assoc: first element in pair is not a positive variable");
      return false;
    }
    if (p[1] == nullptr) break;
  }
  return true;
}

// Adds the variables (or pairs) to `va`; replacements take a reference.
static void bdd_augment_assoc(kzu_bdd_manager m, var_assoc *va, bdd *vars, int pairs) {
  for (bdd *p = vars; *p != nullptr; p += pairs ? 2 : 1) {
    bdd v = *p;
    long id = bdd_id(v);
    bdd value = pairs ? p[1] : m->one;
    if (value == nullptr) break;
    bdd_ref_inc(value);
    if (va->assoc[id] != nullptr) kzu_bdd_free(m, va->assoc[id]);
    va->assoc[id] = value;
    long level = bdd_level(m, v);
    if (level > va->last) va->last = level;
  }
}

static void bdd_clear_assoc(kzu_bdd_manager m, var_assoc *va) {
  for (long id = 1; id <= m->maxvars; id++) {
    if (va->assoc[id] != nullptr) {
      kzu_bdd_free(m, va->assoc[id]);
      va->assoc[id] = nullptr;
    }
  }
  va->last = -1;
}

static bool bdd_assoc_equal(kzu_bdd_manager m, const var_assoc *a, const var_assoc *b) {
  if (a->last != b->last) return false;
  return memcmp(a->assoc, b->assoc, (size_t)(m->maxvars + 1) * sizeof(bdd)) == 0;
}

static bool bdd_check_vars(kzu_bdd_manager m, bdd *vars, int pairs) {
  if (!bdd_check_array(m, vars)) return false;
  if (!pairs) {
    for (bdd *p = vars; *p != nullptr; p++)
      if (bdd_is_const(*p)) return false;
  }
  return bdd_check_assoc(m, vars, pairs);
}

int kzu_bdd_temp_assoc(kzu_bdd_manager m, bdd *vars, int pairs) {
  if (!bdd_check_vars(m, vars, pairs)) return 0;
  // Build the new contents aside; when they equal the current ones the
  // association keeps its generation (and so its operation ids).
  var_assoc fresh;
  fresh.assoc = (bdd *)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(bdd));
  fresh.last = -1;
  bdd_augment_assoc(m, &fresh, vars, pairs);
  if (bdd_assoc_equal(m, &fresh, &m->temp_assoc)) {
    bdd_clear_assoc(m, &fresh);
  } else {
    bdd_clear_assoc(m, &m->temp_assoc);
    memcpy(m->temp_assoc.assoc, fresh.assoc, (size_t)(m->maxvars + 1) * sizeof(bdd));
    m->temp_assoc.last = fresh.last;
    m->temp_generation++;
  }
  bdd_free_array(fresh.assoc);
  return 1;
}

int kzu_bdd_augment_temp_assoc(kzu_bdd_manager m, bdd *vars, int pairs) {
  if (!bdd_check_vars(m, vars, pairs)) return 0;
  bdd_augment_assoc(m, &m->temp_assoc, vars, pairs);
  m->temp_generation++;
  return 1;
}

int kzu_bdd_new_assoc(kzu_bdd_manager m, bdd *vars, int pairs) {
  if (!bdd_check_vars(m, vars, pairs)) return -1;
  var_assoc va;
  va.assoc = (bdd *)bdd_alloc_zeroed((m->maxvars + 1) * (long)sizeof(bdd));
  va.last = -1;
  bdd_augment_assoc(m, &va, vars, pairs);
  for (assoc_list *a = m->assocs; a != nullptr; a = a->next) {
    if (bdd_assoc_equal(m, &a->va, &va)) {
      bdd_clear_assoc(m, &va);
      bdd_free_array(va.assoc);
      a->refs++;
      return a->id;
    }
  }
  // The smallest id not in use.
  int id = 0;
  for (bool taken = true; taken; id += taken ? 1 : 0) {
    taken = false;
    for (assoc_list *a = m->assocs; a != nullptr; a = a->next)
      if (a->id == id) taken = true;
  }
  assoc_list *rec = (assoc_list *)mem_new_rec(BDD_RECORDS(m, sizeof(assoc_list)));
  rec->va = va;
  rec->id = id;
  rec->refs = 1;
  rec->next = m->assocs;
  m->assocs = rec;
  return id;
}

void kzu_bdd_free_assoc(kzu_bdd_manager m, int id) {
  assoc_list **link = &m->assocs;
  while (*link != nullptr && (*link)->id != id) link = &(*link)->next;
  if (*link == nullptr) {
    kzu_bdd_warning("kzu_bdd_free_assoc: no variable association with specified ID");
    return;
  }
  assoc_list *a = *link;
  if (--a->refs > 0) return;
  intptr_t env = id;
  bdd_flush_cache(m, m->op_cache.flush_fn[BDD_TAG_OP], &env);
  *link = a->next;
  if (m->curr_assoc == &a->va) {
    m->curr_assoc = &m->temp_assoc;
    m->curr_assoc_id = -1;
  }
  bdd_clear_assoc(m, &a->va);
  bdd_free_array(a->va.assoc);
  mem_free_rec(BDD_RECORDS(m, sizeof(assoc_list)), a);
}

int kzu_bdd_assoc(kzu_bdd_manager m, int id) {
  int previous = m->curr_assoc_id;
  if (id != -1) {
    for (assoc_list *a = m->assocs; a != nullptr; a = a->next) {
      if (a->id == id) {
        m->curr_assoc = &a->va;
        m->curr_assoc_id = id;
        return previous;
      }
    }
    kzu_bdd_warning("kzu_bdd_assoc: no variable association with specified ID");
  }
  m->curr_assoc = &m->temp_assoc;
  m->curr_assoc_id = -1;
  return previous;
}

// True when every entry of the association is a permanent node.
static bool bdd_assoc_permanent(kzu_bdd_manager m, const var_assoc *va) {
  for (long id = 1; id <= m->vars; id++)
    if (va->assoc[id] != nullptr && bdd_regular(va->assoc[id])->refs != BDD_MAX_REFS) return false;
  return true;
}

static int bdd_temp_op_flush_fn(kzu_bdd_manager, intptr_t *s, void *) { return s[0] < 0; }

// The computed table keeps operation ids in 31 bits: when the temporary ids
// run out, their entries are dropped and the ids start again at -1.
static void bdd_restart_temp_ops(kzu_bdd_manager m, int kind) {
  bdd_flush_cache(m, bdd_temp_op_flush_fn, nullptr);
  bdd_clear_assoc_memo(m);
  for (int k = 0; k < 3; k++) m->temp_kind_generation[k] = -1;
  m->temp_kind_generation[kind] = m->temp_generation;
  m->temp_op = -1;
}

static intptr_t bdd_temp_op_id(kzu_bdd_manager m, int kind) {
  var_assoc *va = &m->temp_assoc;
  size_t bytes = (size_t)(m->maxvars + 1) * sizeof(bdd);
  if (!bdd_op_fits(m->temp_op)) bdd_restart_temp_ops(m, kind);
  if (!bdd_assoc_permanent(m, va)) return m->temp_op--;
  for (int i = 0; i < BDD_TEMP_MEMO; i++) {
    auto &memo = m->temp_memo[kind][i];
    if (memo.assoc != nullptr && memo.last == va->last && memcmp(memo.assoc, va->assoc, bytes) == 0) return memo.op;
  }
  auto &memo = m->temp_memo[kind][m->temp_memo_next[kind]];
  m->temp_memo_next[kind] = (m->temp_memo_next[kind] + 1) % BDD_TEMP_MEMO;
  if (memo.assoc == nullptr) memo.assoc = (bdd *)bdd_alloc_zeroed((long)bytes);
  memcpy(memo.assoc, va->assoc, bytes);
  memo.last = va->last;
  memo.op = m->temp_op--;
  return memo.op;
}

void bdd_clear_assoc_memo(kzu_bdd_manager m) {
  for (int k = 0; k < 3; k++)
    for (int i = 0; i < BDD_TEMP_MEMO; i++) {
      bdd_free_array(m->temp_memo[k][i].assoc);
      m->temp_memo[k][i].assoc = nullptr;
    }
}

intptr_t bdd_assoc_op_id(kzu_bdd_manager m, int kind, long base) {
  if (m->curr_assoc_id != -1) return m->curr_assoc_id + base;
  // A fresh id whenever the temporary association changed since this kind
  // of operation last used it (unless the same permanent contents had one
  // recently), so that results over different temporary associations never
  // meet in the computed table.
  if (m->temp_kind_generation[kind] != m->temp_generation) {
    m->temp_kind_generation[kind] = m->temp_generation;
    m->temp_kind_op[kind] = bdd_temp_op_id(m, kind);
  }
  return m->temp_kind_op[kind];
}

void bdd_grow_assocs(kzu_bdd_manager m, long old_max, long new_max) {
  auto grow = [&](var_assoc *va) {
    bdd *p = (bdd *)bdd_alloc_zeroed((new_max + 1) * (long)sizeof(bdd));
    memcpy(p, va->assoc, (size_t)(old_max + 1) * sizeof(bdd));
    bdd_free_array(va->assoc);
    va->assoc = p;
  };
  grow(&m->temp_assoc);
  bdd_clear_assoc_memo(m);
  for (assoc_list *a = m->assocs; a != nullptr; a = a->next) grow(&a->va);
}

void bdd_shift_assoc_levels(kzu_bdd_manager m, long level) {
  if (m->temp_assoc.last >= level) m->temp_assoc.last++;
  for (assoc_list *a = m->assocs; a != nullptr; a = a->next)
    if (a->va.last >= level) a->va.last++;
}
