// Shared fixture and helpers: every test starts from the program-start state,
// with the interpreter's repaint requests counted. Expected screens are
// composed here straight from the glyph table, never through the text engine.
#pragma once
#include "lcd/font.h"
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<int>;

// A command byte (or several), then text, then trailing bytes.
inline Bytes bytes(std::initializer_list<int> head, const std::string &text = "",
                   std::initializer_list<int> tail = {}) {
    Bytes all(head);
    for (unsigned char c : text)
        all.push_back(c);
    all.insert(all.end(), tail);
    return all;
}

class LcdFixture : public ::testing::Test {
  public:
    static inline int repaints;

  protected:
    void SetUp() override {
        lcd_reset();
        status_reset();
        rx_reset();
        repaints = 0;
        rx_set_host({[] { repaints++; }, nullptr, nullptr, nullptr});
    }
    void TearDown() override { rx_set_host({}); }

    static void feed(const std::string &text) {
        for (unsigned char c : text)
            rx_CallBack(0, c);
    }
    static void feed(std::initializer_list<int> list) {
        for (int b : list)
            rx_CallBack(0, b);
    }
    static void feed(const Bytes &list) {
        for (int b : list)
            rx_CallBack(0, b);
    }
};

// A whole screen of pixels, as the map holds it: px[x][y].
struct Screen {
    uint8_t px[LCD_WIDTH][LCD_HEIGHT] = {};
};

inline Screen currentScreen() {
    Screen s;
    std::memcpy(s.px, map, sizeof s.px);
    return s;
}

// The five column bytes a cell shows for a code: the table entry, or blank
// for codes past the table.
inline std::array<uint8_t, 5> glyphBits(int code) {
    std::array<uint8_t, 5> bits{};
    if (code >= 0 && code < FONT_GLYPHS)
        for (int k = 0; k < 5; k++)
            bits[k] = fontA09[5 * code + k];
    return bits;
}

// Paints a glyph into cell (n, r) of an expected screen.
inline void paintGlyph(Screen &s, int n, int r, int code) {
    std::array<uint8_t, 5> bits = glyphBits(code);
    for (int k = 0; k < 5; k++)
        for (int j = 0; j < 8; j++)
            s.px[6 * n - 4 + k][8 * r - 8 + j] = (bits[k] >> (7 - j)) & 1;
}

inline void paintText(Screen &s, int n, int r, const std::string &text) {
    for (unsigned char c : text)
        paintGlyph(s, n++, r, c);
}

inline void paintMark(Screen &s, int n, int r, bool set) {
    for (int j = 0; j < 8; j++)
        s.px[6 * n - 5][8 * r - 8 + j] = set;
}

// The six items of the display test pattern, marks aside.
inline Screen displayTestPattern() {
    Screen s;
    paintGlyph(s, 1, 1, '1');
    paintGlyph(s, 20, 1, '2');
    paintGlyph(s, 1, 4, '3');
    paintGlyph(s, 20, 4, '4');
    paintText(s, 5, 2, "Display Test");
    paintText(s, 7, 3, "A B C D");
    return s;
}

// The glyph area of cell (n, r) read back from the map, encoded like the glyph table.
inline std::array<uint8_t, 5> cellBits(int n, int r) {
    std::array<uint8_t, 5> bits{};
    for (int k = 0; k < 5; k++)
        for (int j = 0; j < 8; j++)
            bits[k] |= map[6 * n - 4 + k][8 * r - 8 + j] << (7 - j);
    return bits;
}

// The eight pixels of the cursor column of cell (n, r), top pixel in bit 7.
inline int markBits(int n, int r) {
    int bits = 0;
    for (int j = 0; j < 8; j++)
        bits |= map[6 * n - 5][8 * r - 8 + j] << (7 - j);
    return bits;
}

inline int setPixels() {
    int count = 0;
    for (auto &column : map)
        for (uint8_t p : column)
            count += p != 0;
    return count;
}

inline bool mapIsBinary() {
    for (auto &column : map)
        for (uint8_t p : column)
            if (p > 1) return false;
    return true;
}

inline ::testing::AssertionResult ScreenIs(const Screen &expected) {
    int differing = 0, firstX = -1, firstY = -1;
    for (int x = 0; x < LCD_WIDTH; x++)
        for (int y = 0; y < LCD_HEIGHT; y++)
            if (map[x][y] != expected.px[x][y] && differing++ == 0) {
                firstX = x;
                firstY = y;
            }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << differing << " pixels differ, first at x=" << firstX << " y=" << firstY
           << " (map has " << int(map[firstX][firstY]) << ")";
}

// Cells of row r, from column `first` on, show these codes (by their pixels).
inline ::testing::AssertionResult RowShows(int r, int first, const Bytes &codes) {
    for (size_t k = 0; k < codes.size(); k++) {
        int n = first + int(k);
        if (cellBits(n, r) != glyphBits(codes[k]))
            return ::testing::AssertionFailure()
                   << "cell (" << n << ", " << r << ") does not show code " << codes[k];
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult RowShows(int r, int first, const char *text) {
    return RowShows(r, first, bytes({}, text));
}

// A row pattern with the status line's glyphs spelt as characters:
// '_' underscore (95), '.' baseline (2), '<' and '>' the underlined signs
// (28, 29), '%' part block (0), '=' full block (1), 'u' 'v' 'w' 'x' the user
// glyphs 1..4 (5, 6, 9, 10), 'g' and 'd' the small letters (7, 8);
// '#' marks a cell left as it was (-1). Anything else is its own code.
inline Bytes statusCells(const char *pattern) {
    static const std::string legend = "_.<>%=uvwxgd#";
    static const int codes[] = {95, 2, 28, 29, 0, 1, 5, 6, 9, 10, 7, 8, -1};
    Bytes cells;
    for (const char *p = pattern; *p; p++) {
        size_t k = legend.find(*p);
        cells.push_back(k == std::string::npos ? (unsigned char)*p : codes[k]);
    }
    return cells;
}

inline ::testing::AssertionResult CursorIs(int x, int y) {
    if (curX == x && curY == y) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cursor at (" << int(curX) << ", " << int(curY) << ")";
}
