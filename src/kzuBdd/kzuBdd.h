// BDD engine: reduced ordered BDDs with complemented edges, one node table
// per variable, a two-way computed table, reference counting with
// mark-and-sweep collection, and an abort/restart frame around every
// top-level operation.
//
// Conventions: every function takes the manager first. Edges go in, an edge
// comes out; a null result means failure (null argument, abort, node limit).
// Arguments are never consumed. Every returned edge carries one external
// reference owned by the caller (release it with kzu_bdd_free), except the
// constants and the variables' projection edges, which are permanent.
#ifndef KZ_KZU_BDD_H
#define KZ_KZU_BDD_H

#include <cstdint>
#include <cstdio>

typedef struct bdd_ *bdd;                      // edge: node address | complement bit
typedef struct bdd_manager_ *kzu_bdd_manager;  // one engine instance
typedef struct kzu_block_ *block;              // a group of variables kept together

// ---- Manager -----------------------------------------------------------------
kzu_bdd_manager kzu_bdd_init(void);
// Frees every table, array, association and record; held edges become invalid.
void kzu_bdd_quit(kzu_bdd_manager m);

// ---- Variables ------------------------------------------------------------------
// New variable at the bottom / top of the order, before or after the top
// variable of v. The result is the new variable's permanent projection edge.
bdd kzu_bdd_new_var_last(kzu_bdd_manager m);
bdd kzu_bdd_new_var_first(kzu_bdd_manager m);
bdd kzu_bdd_new_var_before(kzu_bdd_manager m, bdd v);
bdd kzu_bdd_new_var_after(kzu_bdd_manager m, bdd v);
// Projection edge of the variable with id 1..vars / at level 0..vars-1, or null.
bdd kzu_bdd_var_with_id(kzu_bdd_manager m, long id);
bdd kzu_bdd_var_with_index(kzu_bdd_manager m, long level);
long kzu_bdd_vars(kzu_bdd_manager m);

// ---- Constants and node inspection ----------------------------------------------
bdd kzu_bdd_one(kzu_bdd_manager m);
bdd kzu_bdd_zero(kzu_bdd_manager m);
// Id / level of f's top variable; -1 for a constant or null.
long kzu_bdd_if_id(kzu_bdd_manager m, bdd f);
long kzu_bdd_if_index(kzu_bdd_manager m, bdd f);
// Projection edge of f's top variable (permanent); a constant warns and is
// returned as it is.
bdd kzu_bdd_if(kzu_bdd_manager m, bdd f);
// Cofactors of the function f with respect to its top variable, with one new
// reference. A constant warns and is returned without a new reference.
bdd kzu_bdd_then(kzu_bdd_manager m, bdd f);
bdd kzu_bdd_else(kzu_bdd_manager m, bdd f);
bdd kzu_bdd_not(kzu_bdd_manager m, bdd f);       // one new reference
bdd kzu_bdd_identity(kzu_bdd_manager m, bdd f);  // one new reference
// Drops one external reference; zero references left is fatal.
void kzu_bdd_free(kzu_bdd_manager m, bdd f);

// ---- Connectives -------------------------------------------------------------------
bdd kzu_bdd_ite(kzu_bdd_manager m, bdd f, bdd g, bdd h);
bdd kzu_bdd_and(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_or(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_xor(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_xnor(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_nand(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_nor(kzu_bdd_manager m, bdd f, bdd g);

// ---- Variable associations -------------------------------------------------------------
// `vars` is a null-terminated edge array: with pairs = 0 a list of variables
// (for quantification), otherwise (variable, replacement) pairs.
// Temporary association (id -1): replaced / extended; returns 1, 0 on error.
int kzu_bdd_temp_assoc(kzu_bdd_manager m, bdd *vars, int pairs);
int kzu_bdd_augment_temp_assoc(kzu_bdd_manager m, bdd *vars, int pairs);
// Named association: returns its id (an identical association is shared).
int kzu_bdd_new_assoc(kzu_bdd_manager m, bdd *vars, int pairs);
void kzu_bdd_free_assoc(kzu_bdd_manager m, int id);
// Selects the association used by quantification, substitution and relational
// product; returns the previously selected id.
int kzu_bdd_assoc(kzu_bdd_manager m, int id);

// ---- Quantification and substitution (over the current association) ---------------------
bdd kzu_bdd_exists(kzu_bdd_manager m, bdd f);
bdd kzu_bdd_forall(kzu_bdd_manager m, bdd f);
// Exists over the association of (f and g), without building f and g.
bdd kzu_bdd_rel_prod(kzu_bdd_manager m, bdd f, bdd g);
// Replaces every variable of a pair association by its replacement.
bdd kzu_bdd_substitute(kzu_bdd_manager m, bdd f);
// f with variable v replaced by g.
bdd kzu_bdd_compose(kzu_bdd_manager m, bdd f, bdd v, bdd g);
// Generalized cofactor of f by the care function c (f restricted to c by
// the top-down cofactor rule); a cube c gives the usual cofactor.
bdd kzu_bdd_cofactor(kzu_bdd_manager m, bdd f, bdd c);
// Compatible projection of f onto the variables of the current association:
// for every assignment of the other variables, the least (in variable order,
// 0 before 1) assignment of the association's variables that satisfies f.
bdd kzu_bdd_project(kzu_bdd_manager m, bdd f);
// A function that agrees with f wherever c holds, usually smaller.
bdd kzu_bdd_reduce(kzu_bdd_manager m, bdd f, bdd c);
// A cube contained in f and g (zero when they are disjoint) / in f and not g
// (zero when f implies g).
bdd kzu_bdd_intersects(kzu_bdd_manager m, bdd f, bdd g);
bdd kzu_bdd_implies(kzu_bdd_manager m, bdd f, bdd g);

// ---- Measures --------------------------------------------------------------------------------
// Nodes of f, terminal included; negout != 0 counts each node once, negout = 0
// once per polarity in which it is reached. 0 for null.
long kzu_bdd_size(kzu_bdd_manager m, bdd f, int negout);
// The same over a null-terminated array (shared nodes counted once).
long kzu_bdd_size_multiple(kzu_bdd_manager m, bdd *fs, int negout);
// Fraction of all assignments that satisfy f (0.0 for null).
double kzu_bdd_satisfying_fraction(kzu_bdd_manager m, bdd f);
// The variables f depends on, as a null-terminated array of projection edges
// in level order written to `support` (room for vars + 1 edges).
void kzu_bdd_support(kzu_bdd_manager m, bdd f, bdd *support);
// 1 when f is a non-zero conjunction of literals.
int kzu_bdd_is_cube(kzu_bdd_manager m, bdd f);

// ---- Variable blocks and reordering ------------------------------------------------------------
// Groups the n variables from the level of v downwards into a new block;
// reordering moves a block as a whole and permutes its children only when
// it is reorderable (new blocks are not). Bad arguments are fatal.
block kzu_bdd_new_var_block(kzu_bdd_manager m, bdd v, long n);
void kzu_bdd_var_block_reorderable(kzu_bdd_manager m, block b, int reorderable);
// Installs a reorder method (null disables dynamic reordering). The engine
// then reorders by itself when a collection leaves more than two thirds of
// its threshold live, and restarts the operation that was running.
void kzu_bdd_dynamic_reordering(kzu_bdd_manager m, void (*method)(kzu_bdd_manager));
// Collects garbage, then reorders with the installed method (nothing without
// one, or inside an operation). No function and no held edge changes.
void kzu_bdd_reorder(kzu_bdd_manager m);
// The methods: sifting (growth limit 2.0), the stable window of three, and
// sifting with a growth limit adapted to the last gain. Installed, they run
// inside the reordering; called directly, each reorders once by itself.
void kzu_bdd_reorder_sift(kzu_bdd_manager m);
void kzu_bdd_reorder_stable_window3(kzu_bdd_manager m);
void kzu_bdd_reorder_hybrid(kzu_bdd_manager m);
// Reorderings run so far (on request or dynamically) and their CPU seconds.
long kzu_bdd_reorderings(kzu_bdd_manager m);
double kzu_bdd_reorder_seconds(kzu_bdd_manager m);

// ---- Limits, callbacks, collection ------------------------------------------------------------
// 0 = no limit. An operation that would pass it returns null and calls the
// overflow callback.
void kzu_bdd_node_limit(kzu_bdd_manager m, long limit);
int kzu_bdd_overflow(kzu_bdd_manager m);
// Sizing for callers that know their workload; nothing in this program calls
// it, so by default collections start past 10000 live nodes and the computed
// table grows only with the node count. gc_floor raises the lowest collection
// threshold (never below 10000); below cache_bins bins the computed table also
// grows when three-quarters full while at least one look-up in 16 computes
// again a result that the table had recently pushed out. The node records for
// gc_floor nodes, and the computed table's memory up to cache_bins bins, are
// allocated (and their pages touched) at once.
void kzu_bdd_set_sizing(kzu_bdd_manager m, long gc_floor, long cache_bins);
void kzu_bdd_overflow_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, void *), void *env);
// While fn is set, the running operation is abandoned at its next periodic
// check, fn(m, env) is called and the operation returns null.
void kzu_bdd_abort_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, void *), void *env);
// Hook called with the two value words of each terminal node a collection frees.
void kzu_bdd_free_terminal_closure(kzu_bdd_manager m, void (*fn)(kzu_bdd_manager, intptr_t, intptr_t, void *),
                                   void *env);
// Collects garbage now; does nothing inside an operation or a reordering
// (a reorder method that calls it).
void kzu_bdd_gc(kzu_bdd_manager m);
long kzu_bdd_total_size(kzu_bdd_manager m);  // live node count (all tables)

// ---- Computed-table tags for callers --------------------------------------------------------------
// Allocates a free tag (4..7) for entries of `args` (1..3) arguments with the
// given hooks; bdd_cache_functions is fatal for another argument count.
int kzu_bdd_cache_functions(kzu_bdd_manager m, int args, int (*gc_fn)(kzu_bdd_manager, intptr_t *),
                            void (*purge_fn)(kzu_bdd_manager, intptr_t *),
                            intptr_t (*return_fn)(kzu_bdd_manager, intptr_t *),
                            int (*flush_fn)(kzu_bdd_manager, intptr_t *, void *));
void kzu_bdd_free_cache_tag(kzu_bdd_manager m, int tag);

// ---- Messages, statistics, printing -----------------------------------------------------------------
// "BDD library: warning: %s\n" on standard error.
void kzu_bdd_warning(const char *message);
// "BDD library: error: %s\n" on standard error, then exit status 1.
[[noreturn]] void kzu_bdd_fatal(const char *message);
void kzu_bdd_stats(kzu_bdd_manager m, FILE *fp);
// One line per node of f: address, variable id, then-edge, else-edge.
void kzu_bdd_print_bdd(kzu_bdd_manager m, bdd f, FILE *fp);

// ---- Debugging --------------------------------------------------------------------------------------
// Walks every table and checks the stored-graph invariants and the counters;
// returns the number of violations (each reported on standard error).
long kzu_bdd_check_heap(kzu_bdd_manager m);
// Number of nodes that still hold a temporary reference (0 between operations).
long kzu_bdd_check_temps(kzu_bdd_manager m);

#endif
