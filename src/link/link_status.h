// What the user is told about the link, the same in every front end: the
// results of opening it and the setup dialog's status and button texts.
#pragma once

// Results of opening the link.
enum {
    LINK_OK = 0,
    LINK_OPEN_FAIL = -4,      // the port does not exist, is in use, or is number 0
    LINK_GET_STATE_FAIL = -5, // its line settings could not be read
    LINK_SET_STATE_FAIL = -6, // its line settings or time-outs could not be set
    LINK_PURGE_FAIL = -10,    // what arrived while it settled could not be dropped
    LINK_THREAD_FAIL = -11,   // the reader could not be started
};

// Closed by the user, open and reading, or open but with its device gone
// (the port is being reopened until the device is back or the user closes it).
enum LinkState { LINK_CLOSED, LINK_OPEN, LINK_LOST };

// "Q72 I/F Closed", "Q72 Linked" or "Q72 Link Lost".
const char *link_state_text(LinkState state);

// The open/close button: "Open I/F" while closed, else "Close I/F".
const char *link_button_text(LinkState state);

// The status text for a failed open: "Com Open Fail", "Get State Fail",
// "Set State Fail", or "Unknown Fail" for any other code.
const char *link_failure_text(int result);
