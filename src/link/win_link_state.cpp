#include "link/link.h"

std::atomic<int> gQ72open;
std::atomic<int> runRxThread;
