// The utility class shared by the coordinator and the synthesis nodes:
// command-line parsing and the phase timers. Later additions carry the text
// form, renaming, minterm and integer-array services.
#ifndef KELVAX_UTIL_H
#define KELVAX_UTIL_H

#include <sys/time.h>

#include <map>
#include <set>
#include <string>

#include "kzuPort/bdd.h"

class Util {
 public:
  Util();

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
  // carried into seconds.
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
};

#endif
