#include "app/text_view.h"

#include <cstring>

// Codes 0..31: the status line's own glyphs read as what they show (a user's
// digit, the small g and d), pictures as the sign a screen reader names, and
// blank or bottom-line cells as spaces.
static const uint16_t specialChars[32] = {
    0x258C,                                      // partial block
    0x2588,                                      // full block
    ' ',                                         // bottom line: the status line's empty cell
    '\\',                                        // the backslash the modem sent
    0x2190,                                      // left arrow
    '1',    '2',    'g',    'd',    '3',    '4', // the users' digits, small g and d
    ' ',    ' ',    ' ',    ' ',    ' ',         // blank
    0x25B6, 0x25C0, 0x201C, 0x201D, 0x23EB, 0x23EC, 0x25CF, 0x21B5,
    0x2191, 0x2193, 0x2192, 0x2190, '<',    '>',    0x25B2, 0x25BC,
};

uint32_t cell_char(uint8_t code) {
    if (code < 32) return specialChars[code];
    if (code < 127) return code;
    if (code == 127) return 0x2302; // the house shape
    return ' ';                     // past the glyph table: drawn blank
}

int utf8_put(uint32_t ch, char *out) {
    if (ch < 0x80) {
        out[0] = (char)ch;
        return 1;
    }
    if (ch < 0x800) {
        out[0] = (char)(0xC0 | ch >> 6);
        out[1] = (char)(0x80 | (ch & 0x3F));
        return 2;
    }
    out[0] = (char)(0xE0 | ch >> 12);
    out[1] = (char)(0x80 | (ch >> 6 & 0x3F));
    out[2] = (char)(0x80 | (ch & 0x3F));
    return 3;
}

void text_view_build(TextView &view, const char *row1Words) {
    int bytes = 0, chars = 0;
    for (int row = 1; row <= LCD_ROWS; row++) {
        view.lineChar[row - 1] = chars;
        view.lineByte[row - 1] = bytes;
        int length = row == 1 ? (int)ROW1_CHARS : (int)LCD_COLS;
        int pad = length; // characters left to fill with spaces
        if (row == 1 && row1Words) {
            // Words are ASCII: one byte per character.
            int words = (int)strnlen(row1Words, ROW1_CHARS);
            std::memcpy(view.text + bytes, row1Words, (size_t)words);
            bytes += words;
            pad -= words;
        } else {
            for (int n = 1; n <= LCD_COLS; n++)
                bytes += utf8_put(cell_char(lcd_cell_code(n, row)), view.text + bytes);
            pad -= LCD_COLS;
        }
        std::memset(view.text + bytes, ' ', (size_t)pad);
        bytes += pad;
        chars += length;
        if (row < LCD_ROWS) view.text[bytes++] = '\n';
        chars += row < LCD_ROWS;
    }
    view.text[bytes] = 0;
    view.bytes = bytes;
    view.chars = chars;
    view.lineChar[LCD_ROWS] = chars + 1;
    view.lineByte[LCD_ROWS] = bytes + 1;
    view.caret = text_view_offset(view, curX, curY);
}

int text_view_offset(const TextView &view, int x, int y) {
    int row = y < 1 ? 1 : y > LCD_ROWS ? LCD_ROWS : y;
    int length = view.lineChar[row] - 1 - view.lineChar[row - 1];
    int column = x < 1 ? 0 : x - 1 > length ? length : x - 1;
    return view.lineChar[row - 1] + column;
}

int text_view_byte(const TextView &view, int offset) {
    if (offset <= 0) return 0;
    if (offset >= view.chars) return view.bytes;
    int row = 1;
    while (view.lineChar[row] <= offset)
        row++;
    int byte = view.lineByte[row - 1];
    for (int k = view.lineChar[row - 1]; k < offset; k++) {
        byte++;
        while ((view.text[byte] & 0xC0) == 0x80)
            byte++;
    }
    return byte;
}
