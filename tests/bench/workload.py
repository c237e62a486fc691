"""The worst-case display stream: single characters (0x8E c) with a row text
now and then, so that every command asks for a repaint, about one for every
two bytes."""

LINE_RATE = 1920  # bytes per second at 19200 baud, 8N1

# Brings the interpreter back to idle from anywhere in a command, hides the
# cursor and clears the screen.
RESYNC = bytes(100) + b"\x98\x03\x87"
FINAL_ROW = 8  # no command but the last one writes here
BLOCK_SIZE = 149
BLOCK_COMMANDS = 64  # each asks for a repaint


def block(k):
    """64 commands in 149 bytes: three lines of 20 single characters, each
    line begun by clearing its row (0x8A r, which puts the cursor at its
    start), then one row text (0x8C r + 21 characters); rows 2..7 only."""
    out = bytearray()
    for line in range(3):
        row = 2 + (3 * k + line) % 6
        out += bytes([0x8A, row])
        for c in range(20):
            out += bytes([0x8E, 0x20 + (60 * k + 20 * line + c) % 0x5F])
    out += bytes([0x8C, 2 + k % 6]) + bytes(0x41 + (k + c) % 26 for c in range(21))
    assert len(out) == BLOCK_SIZE and 3 * 21 + 1 == BLOCK_COMMANDS
    return bytes(out)


def final_command(text):
    """The row text that ends a stream, on the row nothing else writes."""
    return bytes([0x8C, FINAL_ROW]) + text.encode("ascii").ljust(21)[:21]


def stream(size, final_text):
    """RESYNC, whole blocks, then the final row text: at most `size` bytes."""
    final = final_command(final_text)
    room = size - len(RESYNC) - len(final)
    count = max(room // BLOCK_SIZE, 1)
    return RESYNC + b"".join(block(k) for k in range(count)) + final

