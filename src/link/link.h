// Link flags shared by the window thread and the receive thread.
#pragma once
#include <atomic>

extern std::atomic<int> gQ72open;    // 1 while the link is open
extern std::atomic<int> runRxThread; // the receive loop runs while nonzero
