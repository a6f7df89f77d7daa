#include "Util.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

int systemClock(struct timeval *tv) { return gettimeofday(tv, nullptr); }

bool optionIs(const char *arg, char lower) {
  return arg[0] == '-' && arg[1] != '\0' &&
         (arg[1] == lower || arg[1] == lower - ('a' - 'A'));
}

void coorUsage() { Util::printCoorUsage(); }
void nodeUsage() { Util::printNodeUsage(); }

// The value of the option at argv[i]; an option with nothing after it ends
// the process with the usage text and status 2.
const char *optionValue(int argc, char **argv, int i, void (*usage)()) {
  if (i + 1 >= argc) {
    usage();
    exit(2);
  }
  return argv[i + 1];
}

}  // namespace

void Util::printCoorUsage() {
  std::cout << "Usage:" << std::endl;
  std::cout << "    kelvax -p (port no.) -n (number of synthesis nodes)" << std::endl;
}

void Util::printNodeUsage() {
  std::cout << "Usage:" << std::endl;
  std::cout << "morlet -i (server IP address) -p (server port) -n (process number) -a "
               "(action number)\n\n"
            << std::endl;
}

int (*Util::clockSource)(struct timeval *tv) = systemClock;

Util::Util()
    : mintermsAsMDD(nullptr),
      timerNow{0, 0},
      timerStartSec(0),
      timerStopSec(0),
      timerStartUSec(0),
      timerStopUSec(0),
      synSec(0),
      comSec(0),
      synUSec(0),
      comUSec(0) {}

int Util::parseCoorCmdLine(int argc, char **argv, int *portNumber, int *numberOfNodes) {
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (optionIs(arg, 'p')) {
      *portNumber = atoi(optionValue(argc, argv, i, coorUsage));
    } else if (optionIs(arg, 'n')) {
      *numberOfNodes = atoi(optionValue(argc, argv, i, coorUsage));
    } else if (optionIs(arg, 'h')) {
      coorUsage();
      exit(0);
    }
  }
  return 0;
}

int Util::parseNodeCmdLine(int argc, char **argv, char **serverAddress, int *serverPort,
                           int *processNumber, int *actionNumber) {
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (optionIs(arg, 'i')) {
      *serverAddress = const_cast<char *>(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'p')) {
      *serverPort = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'n')) {
      *processNumber = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'a')) {
      *actionNumber = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'h')) {
      nodeUsage();
      exit(0);
    }
  }
  return 0;
}

void Util::readClock() {
  if (clockSource(&timerNow) == -1) {
    std::cout << "The operating system does not support getting time zone information!"
              << std::endl;
    exit(0);
  }
}

void Util::initTimer() {
  synSec = 0;
  comSec = 0;
  synUSec = 0;
  comUSec = 0;
}

void Util::startTimer() {
  readClock();
  timerStartSec = (int)timerNow.tv_sec;
  timerStartUSec = (int)timerNow.tv_usec;
}

namespace {

// Adds stop - start to the totals, borrowing a second when the microseconds
// of the stop are smaller than those of the start.
void accumulate(int startSec, int startUSec, int stopSec, int stopUSec, int *sec, int *usec) {
  if (stopUSec < startUSec) {
    *sec += stopSec - startSec - 1;
    *usec += stopUSec + 1000000 - startUSec;
  } else {
    *sec += stopSec - startSec;
    *usec += stopUSec - startUSec;
  }
}

}  // namespace

void Util::pauseSynTimer() {
  readClock();
  timerStopSec = (int)timerNow.tv_sec;
  timerStopUSec = (int)timerNow.tv_usec;
  accumulate(timerStartSec, timerStartUSec, timerStopSec, timerStopUSec, &synSec, &synUSec);
}

void Util::pauseComTimer() {
  readClock();
  timerStopSec = (int)timerNow.tv_sec;
  timerStopUSec = (int)timerNow.tv_usec;
  accumulate(timerStartSec, timerStartUSec, timerStopSec, timerStopUSec, &comSec, &comUSec);
}

int Util::getTotalSynTimeInSec() { return synSec; }
int Util::getTotalComTimeInSec() { return comSec; }
int Util::getTotalSynTimeInMSec() { return synUSec; }
int Util::getTotalComTimeInMSec() { return comUSec; }
