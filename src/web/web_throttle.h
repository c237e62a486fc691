// A page's connection read in small helpings, so that one page sending as
// fast as it can neither holds the main loop nor goes on for long.
#pragma once
#include <gio/gio.h>

// `base` with its input read at most `perTurn` bytes a main-loop turn (then
// the loop goes round before more is read), and `perSecond` bytes a second on
// average, in bursts of as many: beyond that a read fails with an error of
// web_flood_quark() saying so, which ends the connection.
GIOStream *web_throttle(GIOStream *base, gsize perTurn, gsize perSecond);

GQuark web_flood_quark();
