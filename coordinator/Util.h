// The utility class shared by the coordinator and the synthesis nodes: the
// text form of decision diagrams, the renaming between current-state and
// next-state variables, minterm enumeration and guards, the integer-array
// form, command-line parsing and the phase timers.
//
// Every returned bdd_t* is a new handle owned by the caller unless stated
// otherwise; arguments are never consumed (except by andInto and orInto). Fatal data errors (a broken text,
// an illegal variable id, a missing counterpart) print one line on standard
// output and end the process with exit status 1.
#ifndef KELVAX_UTIL_H
#define KELVAX_UTIL_H

#include <sys/time.h>

#include <map>
#include <set>
#include <string>

#include "kzuPort/bdd.h"
#include "mdd/mdd.h"

class ProgramStructure;

class Util {
 public:
  Util();

  // ---- Folding --------------------------------------------------------------
  // acc AND g / acc OR g as a new handle. Unlike every other operation here,
  // both arguments are consumed (freed): acc = andInto(acc, literal) builds
  // a conjunction step by step.
  static bdd_t *andInto(bdd_t *acc, bdd_t *g);
  static bdd_t *orInto(bdd_t *acc, bdd_t *g);

  // ---- Text form ----------------------------------------------------------
  // Appends the text of f to *out: " T " or " F " for the constants, else one
  // line per node reference in breadth-first order from the root, each line
  // "token [!]var then-part else-part\n". Tokens are the handles' edges
  // printed as pointers ("0x" + lowercase hex).
  static void MDD2String(void *mgr, bdd_t *f, std::string *out);
  // Rebuilds the diagram a text describes and prints
  // "Finished calcualting the MDD from the given string!". Constants return
  // silently. Lines may come in any order after the root line.
  static bdd_t *String2MDD(void *mgr, std::string text);
  // Gives an empty *text room for `bytes` characters: a large text gets a
  // block of huge pages where the system offers them (the writer and the
  // link fill such texts).
  static void reserveText(std::string *text, size_t bytes);

  // ---- Renaming -------------------------------------------------------------
  // f with every binary variable swapped for its counterpart in ps's bit maps
  // (in whichever direction it has one). Both do the same swap; they differ
  // only in the wording of their failure messages.
  static bdd_t *genPrimed(bdd_t *f, void *mgr, ProgramStructure *ps);
  static bdd_t *genUnPrimed(bdd_t *f, void *mgr, ProgramStructure *ps);

  // ---- Minterms and guards ----------------------------------------------------
  // The mdd_gen* and array_t* arguments are working storage: their incoming
  // values are not read.
  // True when f has a minterm over the mvar ids in vars.
  static bool isSat(bdd_t *f, mdd_gen *gen, array_t *minterm, array_t *vars);
  // Enumerates f over the variables of labels (ascending id); keeps the
  // disjunction of the distinct minterms in mintermsAsMDD (the previous one
  // is freed) and their texts ("x1 = 1 x2 = 0 ") in mintermsAsSet.
  void calMinterms(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                   std::map<int, std::string> labels);
  // The handle kept by the last calMinterms (owned by this Util, valid until
  // the next calMinterms or releaseMinterms); null before any.
  bdd_t *getMintermsAsMDD();
  std::set<std::string> getMintermsAsSet();
  // Frees mintermsAsMDD and empties mintermsAsSet; call before mdd_quit.
  void releaseMinterms();
  // The projection of f onto the variables of labels, as calMinterms builds
  // it; no field changes.
  static bdd_t *getGuard(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                         std::map<int, std::string> labels);
  // Enumerate f over vars (which must be the ids 0, 1, 2, ... in order, as a
  // minterm position is taken for the variable id). extractPrimed keeps the
  // values at positions k + 1 for each id k of labels and returns a predicate
  // over those next-state variables; extractUnPrimed keeps positions k - 1.
  static bdd_t *extractPrimed(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                              array_t *vars, std::map<int, std::string> labels);
  static bdd_t *extractUnPrimed(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                                array_t *vars, std::map<int, std::string> labels);

  // ---- Integer-array form ---------------------------------------------------------
  // Writes one record of (position in vars, value) pairs per minterm of f over
  // vars into out, which must hold 2 * array_n(vars) * (number of minterms)
  // ints; returns the number of ints written.
  static int SerializeMDD(bdd_t *f, mdd_gen *gen, array_t *minterm, array_t *vars, int *out);
  // The union over the complete records of n pairs (id, value) in the first
  // count ints of array; an incomplete trailing record is ignored. Ids must
  // be mvar ids of the manager.
  static bdd_t *UnSerializeMDD(void *mgr, int *array, int count, int n);
  // The same with every id shifted to its next-state copy (id + 1).
  static bdd_t *getPrimedUnSerializedMDD(void *mgr, int *array, int count, int n);

  // Command lines. Arguments are recognised by their first two characters;
  // each option takes the next argument as its value and the later of two
  // equal options wins. "-h" prints the usage and exits with status 0. An
  // option with no argument after it prints the usage and exits with 2.
  int parseCoorCmdLine(int argc, char **argv, int *portNumber, int *numberOfNodes);
  int parseNodeCmdLine(int argc, char **argv, char **serverAddress, int *serverPort,
                       int *processNumber, int *actionNumber);
  // The two usage texts, as printed by the parsers.
  static void printCoorUsage();
  static void printNodeUsage();

  // Two accumulating wall-clock timers (synthesis and communication). A pause
  // adds the interval since the last startTimer; microseconds are never
  // carried into seconds. A clock read that fails prints one line and ends
  // the process with exit status 1.
  void initTimer();
  void startTimer();
  void pauseSynTimer();
  void pauseComTimer();
  int getTotalSynTimeInSec();
  int getTotalComTimeInSec();
  int getTotalSynTimeInMSec();  // microseconds, despite the name
  int getTotalComTimeInMSec();  // microseconds, despite the name

  // The clock the timers read; gettimeofday unless a test replaces it.
  static int (*clockSource)(struct timeval *tv);

 private:
  // Minterm results of the last calMinterms.
  bdd_t *mintermsAsMDD;
  std::set<std::string> mintermsAsSet;

  struct timeval timerNow;
  int timerStartSec;
  int timerStopSec;
  int timerStartUSec;
  int timerStopUSec;
  int synSec;
  int comSec;
  int synUSec;
  int comUSec;

  void readClock();
  // One pause of either timer, adding to *sec and *usec.
  void pauseInto(int *sec, int *usec);
};

#endif
