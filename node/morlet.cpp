// Entry point of the synthesis node.
#include "NodeSession.h"

int main(int argc, char **argv) { return NodeSession::nodeMain(argc, argv); }
