"""What a display stream should leave in the history, found from q72render's
text of the screen alone, never from the program's own history code: the
expected transcript of the Windows and native programs and of the page."""

import re
import subprocess


def screen_rows(env, stream):
    """The 8 rows as q72render reads them out after the start-up screen and
    `stream`: cells as characters, row 1 in words while it shows the status
    line."""
    path, out = env.scratch("prefix.bin"), env.scratch("prefix.txt")
    with open(path, "wb") as f:
        f.write(stream)
    subprocess.run([env.q72render, "--startup", path, out], check=True, capture_output=True)
    with open(out, encoding="utf-8") as f:
        return f.read().split("\n")[:8]


def status_words(row):
    """Row 1 read as the status line's words ("RX 16, TX 20, signal 0...")
    rather than as its cells."""
    return re.search(r", signal \d+", row) is not None


# Argument bytes of each display command: a count, or a count and then text
# up to a 0 ("z"). Bytes outside a command are none.
ARGUMENTS = dict.fromkeys((0x88, 0x8A, 0x8E, 0x8F, 0x93, 0x94, 0x95, 0x96, 0x98, 0x9A, 0x9B,
                           0xA8, 0xA9, 0xAA, 0xB1, 0xB2), 1)
ARGUMENTS.update({0x8B: 81, 0x8C: 22, 0xA2: 22, 0x97: 2, 0xA1: 4, 0xA5: 8, 0xA6: 4,
                  0x8D: "z", 0x99: "1z"})


def commands(stream):
    """(offset, command byte) of each display command in `stream`."""
    at = 0
    while at < len(stream):
        byte = stream[at]
        arguments = ARGUMENTS.get(byte, 0)
        end = at + 1
        if isinstance(arguments, str):
            end += len(arguments) - 1
            while end < len(stream) and stream[end] != 0:
                end += 1
            end += 1
        else:
            end += arguments
        if 0x87 <= byte:
            yield at, byte
        at = end


def history_of(env, stream):
    """(lines, on_screen): the lines that scrolls pushed out of the top of the
    scrolling area, oldest first, and the rows that still hold text, top
    first, each as columns 1-20 without trailing blanks. Read from q72render's
    text before each scroll; row 1 is no text while it reads as the status
    line's words or still shows the last flash message as it was drawn."""
    lines, flash = [], None
    for at, byte in commands(stream):
        if byte == 0xA1:
            flash = screen_rows(env, stream[:at + 5])[0][:20]
        if byte not in (0x91, 0x9C):
            continue
        top = 1 if byte == 0x91 else 2
        row = screen_rows(env, stream[:at])[top - 1]
        if top == 1 and (status_words(row) or row[:20] == flash):
            continue
        if row[:20].strip(" "):
            lines.append(row[:20].rstrip(" "))
    final = screen_rows(env, stream)
    rows = final[1:4] if status_words(final[0]) or final[0][:20] == flash else final[0:4]
    return lines, [row[:20].rstrip(" ") for row in rows if row[:20].strip(" ")]
