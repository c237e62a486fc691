// Tells screen readers, and the browser panel, what the modem did to the
// screen: characters written at the cursor a word at a time, a new screen as
// one event with the text it brought, and short status announcements; the
// signal meter's movement and the status line's redraws are never told. It
// listens to the interpreter's changes (not to the pixels), keeps the view of
// the text in step, and owns no platform type.
//
// Characters written at the cursor are held back until their word is whole:
// they are told at the space after it, or once a second has passed with
// nothing more written there. A word of digits only waits for the next word
// (or the pause), so that a reader hears "579 NAME" rather than a bare number
// it might take for noise. Each character is told once.
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
    SPEECH_SCREEN, // a new screen; `text` is "screen changed", the view's `screen` what it brought
    SPEECH_QUIET,  // the text changed with nothing to tell (a row blanked, a scroll, a redraw)
    SPEECH_ANNOUNCE, // a short announcement in `text`: a flash message, a speed, a flag, the link
};

enum { SPEECH_TEXT_MAX = 3 * LCD_COLS + 1 };

struct Speech {
    SpeechKind kind;
    int offset;                    // TYPED: character offset of the first cell in the view
    int count;                     // TYPED: characters replaced, as many as were inserted
    char removed[SPEECH_TEXT_MAX]; // TYPED: what the cells read before, UTF-8
    char text[SPEECH_TEXT_MAX];    // TYPED: what they read now; otherwise the words to say
    bool alert; // ANNOUNCE: news to hear at once (a flash message, the link's state), not a value
};

// The interpreter's `changed` hook.
void change_reader_note(RxChange what, int x, int y);

// Queues the announcement of the link's new state ("Q72 Linked" ...).
void change_reader_link(LinkState state);

// Events held between two takes, and the most one take returns: the queue
// plus the speed announcements that fall due.
enum { SPEECH_QUEUE = 64, SPEECH_MAX = SPEECH_QUEUE + 2 };

// Moves what happened since the last take into `out`, in order, and brings
// `view` up to date when anything changed; returns the number of events.
// The caret stands at the cursor, except that while characters are held back
// it stays at the end of the text last told. Held characters and speed
// changes fall due by `nowMs`, any monotonic clock in milliseconds: call it on
// a tick as well, so that they are told.
int change_reader_take(Speech out[SPEECH_MAX], TextView &view, int64_t nowMs);

// Back to the start: row 1 read as cells, nothing queued or announced yet.
void change_reader_reset();
