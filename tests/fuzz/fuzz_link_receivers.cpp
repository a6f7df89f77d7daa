// The link's receivers: arbitrary bytes from a peer on a real socket pair to
// recvMDD, recvMDDVec, recvDnf or recvCnf (the first input byte chooses the
// receiver and how many times it is called in a row). Every handle that
// comes back must be a usable function over the model's variables, and a
// received formula must convert to one.
#include <unistd.h>

#include <vector>

#include "BFormula.h"
#include "Cnf.h"
#include "Dnf.h"
#include "KelvaxComManager.h"
#include "Util.h"
#include "fuzz_support.h"

namespace {

void checkHandle(bdd_t *f) {
  if (f == nullptr) fuzz::finding("a receiver returned a null handle");
  if (bdd_size(f) < 1) fuzz::finding("a received handle has no nodes");
}

void receiveOnce(int which, fuzz::Model &model, Util *util, KelvaxComManager *com, int sock) {
  switch (which) {
    case 0: {
      bdd_t *f = com->recvMDD(model.mgr, util, sock);
      checkHandle(f);
      bdd_free(f);
      break;
    }
    case 1: {
      std::vector<bdd_t *> v = com->recvMDDVec(model.mgr, util, sock);
      for (bdd_t *f : v) checkHandle(f);
      for (bdd_t *f : v) bdd_free(f);
      break;
    }
    case 2: {
      Dnf *dnf = com->recvDnf(model.mgr, util, sock);
      bdd_t *f = dnf->toMDD();
      checkHandle(f);
      bdd_free(f);
      break;
    }
    default: {
      Cnf *cnf = com->recvCnf(model.mgr, util, sock);
      bdd_t *f = cnf->toMDD();
      checkHandle(f);
      bdd_free(f);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::setUp();
  fuzz::Input in(data, size);
  uint8_t choice = in.byte();
  int which = choice & 3;
  int times = 1 + ((choice >> 2) & 3);
  fuzz::Model model;
  Util util;
  KelvaxComManager com;
  int local, remote;
  fuzz::socketPair(&local, &remote);
  {
    fuzz::PlayedPeer peer(remote, in.rest());
    fuzz::exitsFatally([&] {
      for (int i = 0; i < times; i++) receiveOnce(which, model, &util, &com, local);
    });
    close(local);
  }
  BFormula::releaseAll();
  return 0;
}
