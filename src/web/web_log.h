// The panel's refusals on standard error: each one as it comes, and a
// flood of the same from one address summed up every 10 s.
#pragma once

// One line on standard error for a refused request or a dropped client,
// "q72display: refused ADDRESS: REASON". The same address and reason more
// than a few times in 10 s are then counted instead, and given as one line
// when the 10 s are over: "refused ADDRESS: REASON, 4,000 more times in 10 s".
void web_log_refusal(const char *address, const char *reason);
