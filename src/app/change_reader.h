// Tells screen readers, and the browser panel, what the modem did to the
// screen: characters written at the cursor as they come, a whole-screen
// change as one event, and short status announcements; the signal meter's
// movement is never told. It listens to the interpreter's changes (not to
// the pixels), keeps the view of the text in step, and owns no platform type.
//
// change_reader_note runs on the thread that interprets the stream, under the
// map lock; the other calls belong to the thread that talks to the screen
// reader and take the same lock around them.
#pragma once
#include "app/text_view.h"
#include "link/link_status.h"
#include "link/rx_stream.h"

#include <cstdint>

enum SpeechKind : uint8_t {
    SPEECH_TYPED,  // cells at the cursor overwritten: `removed` replaced by `text` at `offset`
    SPEECH_SCREEN, // much of the screen rewritten at once; `text` is "screen changed"
    SPEECH_QUIET, // the text changed where nothing was typed (a row blanked, the status line drawn)
    SPEECH_ANNOUNCE, // a short announcement in `text`: a flash message, a speed, a flag, the link
};

enum { SPEECH_TEXT_MAX = 3 * LCD_COLS + 1 };

struct Speech {
    SpeechKind kind;
    int offset;                    // TYPED: character offset of the first cell in the view
    int count;                     // TYPED: characters replaced, as many as were inserted
    char removed[SPEECH_TEXT_MAX]; // TYPED: what the cells read before, UTF-8
    char text[SPEECH_TEXT_MAX];    // TYPED: what they read now; otherwise the words to say
};

// The interpreter's `changed` hook.
void change_reader_note(RxChange what, int x, int y);

// Queues the announcement of the link's new state ("Q72 Linked" ...).
void change_reader_link(LinkState state);

// Events held between two takes, and the most one take returns: the queue
// plus the speed announcements that fall due.
enum { SPEECH_QUEUE = 64, SPEECH_MAX = SPEECH_QUEUE + 2 };

// Moves what happened since the last take into `out`, in order, and brings
// `view` up to date when anything changed (its caret included); returns the
// number of events. Speed changes are told at most once a second by `nowMs`,
// any monotonic clock in milliseconds; call it on a tick as well, so that a
// held-back speed is told.
int change_reader_take(Speech out[SPEECH_MAX], TextView &view, int64_t nowMs);

// Back to the start: row 1 read as cells, nothing queued or announced yet.
void change_reader_reset();
