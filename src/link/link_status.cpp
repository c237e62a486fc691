#include "link/link_status.h"

const char *link_state_text(LinkState state) {
    switch (state) {
    case LINK_OPEN: return "Q72 Linked";
    case LINK_LOST: return "Q72 Link Lost";
    default: return "Q72 I/F Closed";
    }
}

const char *link_button_text(LinkState state) {
    return state == LINK_CLOSED ? "Open I/F" : "Close I/F";
}

const char *link_failure_text(int result) {
    switch (result) {
    case LINK_OPEN_FAIL: return "Com Open Fail";
    case LINK_GET_STATE_FAIL: return "Get State Fail";
    case LINK_SET_STATE_FAIL: return "Set State Fail";
    default: return "Unknown Fail";
    }
}
