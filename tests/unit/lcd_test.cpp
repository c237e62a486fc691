// Text engine: glyph placement, the cursor mark, rows, centring, scrolling,
// and what happens to positions and codes outside the grid.
#include "test_lcd.h"

#include <cstring>
#include <string>

class TextEngine : public LcdFixture {};

static void fillMap() {
    std::memset(map, 1, sizeof map);
}

TEST_F(TextEngine, ShowCharWritesTheFortyPixelsOfTheCursorCell) {
    struct {
        int x, y, left, top;
    } cells[] = {{1, 1, 2, 0}, {2, 1, 8, 0},    {21, 1, 122, 0},
                 {1, 2, 2, 8}, {11, 5, 62, 32}, {21, 8, 122, 56}};
    for (auto c : cells) {
        SCOPED_TRACE(testing::Message() << "cell " << c.x << "," << c.y);
        lcd_reset();
        curX = c.x;
        curY = c.y;
        show_char(0x01);
        EXPECT_EQ(setPixels(), 40);
        for (int x = c.left; x < c.left + 5; x++)
            for (int y = c.top; y < c.top + 8; y++)
                EXPECT_EQ(map[x][y], 1) << x << "," << y;
        EXPECT_TRUE(CursorIs(c.x, c.y));
    }
}

TEST_F(TextEngine, ShowCharReplacesTheGlyphAreaAndSparesTheCursorColumns) {
    curX = 3;
    curY = 2;
    lcd_drawcursor(3, 2, false);
    lcd_drawcursor(4, 2, false);
    show_char(0x01);
    show_char(0x41);
    EXPECT_EQ(cellBits(3, 2), (std::array<uint8_t, 5>{0x1F, 0x24, 0x44, 0x24, 0x1F}));
    EXPECT_EQ(markBits(3, 2), 0xFF);
    EXPECT_EQ(markBits(4, 2), 0xFF);
    show_char(0x20);
    EXPECT_EQ(setPixels(), 16);
}

TEST_F(TextEngine, CursorModeForEveryModeByte) {
    // (flag, mark standing) before the call; modes 0..3 rewrite the mark
    // even when the flag already had the value.
    const bool starts[][2] = {{false, false}, {false, true}, {true, true}, {true, false}};
    for (int mode = 0; mode < 256; mode++)
        for (auto start : starts) {
            SCOPED_TRACE(testing::Message()
                         << "mode " << mode << " on " << start[0] << " mark " << start[1]);
            lcd_reset();
            curX = 4;
            curY = 3;
            bCursorOn = start[0];
            if (start[1]) lcd_drawcursor(4, 3, false);
            Screen expected = currentScreen();
            bool on = mode == 1 || mode == 2 ? true : mode == 0 || mode == 3 ? false : start[0];
            if (mode <= 3) paintMark(expected, 4, 3, on);
            lcd_cursor_mode(mode);
            ASSERT_EQ(bCursorOn, on);
            ASSERT_TRUE(ScreenIs(expected));
            ASSERT_TRUE(CursorIs(4, 3));
        }
}

TEST_F(TextEngine, GotoxyErasesTheOldMarkEvenWhenTheCursorIsHidden) {
    curX = 3;
    curY = 2;
    lcd_drawcursor(3, 2, false);
    lcd_gotoxy(5, 6);
    EXPECT_EQ(setPixels(), 0);
    EXPECT_TRUE(CursorIs(5, 6));
}

TEST_F(TextEngine, GotoxyCarriesAShownMark) {
    lcd_cursor_mode(1);
    lcd_gotoxy(5, 6);
    Screen expected;
    paintMark(expected, 5, 6, true);
    EXPECT_TRUE(ScreenIs(expected));
    lcd_gotoxy(22, 8);
    expected = Screen{};
    paintMark(expected, 22, 8, true);
    EXPECT_TRUE(ScreenIs(expected));
    lcd_gotoxy(5, 0); // row 0 is row 1
    expected = Screen{};
    paintMark(expected, 5, 1, true);
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(CursorIs(5, 1));
}

TEST_F(TextEngine, PutchDrawsAdvancesAndLeavesNoMark) {
    lcd_cursor_mode(1);
    lcd_putch(0x41);
    Screen expected;
    paintGlyph(expected, 1, 1, 0x41);
    EXPECT_TRUE(ScreenIs(expected)); // pixel columns 1 and 7 clear
    EXPECT_TRUE(CursorIs(2, 1));
    lcd_putch('B');
    lcd_putch('C');
    paintText(expected, 2, 1, "BC");
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(bCursorOn);
}

TEST_F(TextEngine, PrstrNeitherErasesNorDrawsAMark) {
    lcd_cursor_mode(1);
    lcd_drawcursor(2, 1, false);
    lcd_prstr("AB\\");
    Screen expected;
    paintText(expected, 1, 1, "AB\\");
    paintMark(expected, 1, 1, true);
    paintMark(expected, 2, 1, true);
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(CursorIs(4, 1));
    EXPECT_EQ(lcd_getc(3, 1), 0x5C); // drawn as itself
}

TEST_F(TextEngine, PutcLeavesTheCursorOnItsCell) {
    lcd_cursor_mode(1);
    lcd_putc('X', 4, 2);
    Screen expected;
    paintGlyph(expected, 4, 2, 'X');
    paintMark(expected, 4, 2, true);
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(CursorIs(4, 2));
    lcd_putch('Y');
    expected = Screen{};
    paintGlyph(expected, 4, 2, 'Y');
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(CursorIs(5, 2));
}

TEST_F(TextEngine, GetcReadsTheCodeShownAndMovesTheCursorThere) {
    lcd_cursor_mode(1);
    lcd_putc(0x17, 3, 3);
    lcd_gotoxy(7, 5);
    lcd_prstr("ok");
    EXPECT_EQ(lcd_getc(3, 3), 0x17);
    EXPECT_EQ(markBits(3, 3), 0xFF);
    EXPECT_EQ(markBits(9, 5), 0x00);
    EXPECT_EQ(lcd_getc(8, 5), 'k');
    EXPECT_EQ(lcd_getc(21, 8), ' '); // never written
    EXPECT_TRUE(CursorIs(21, 8));
}

TEST_F(TextEngine, BackslashIsGlyphThreeOnlyThroughPutch) {
    const std::array<uint8_t, 5> backslash = {0x20, 0x10, 0x08, 0x04, 0x02};
    lcd_putch('\\');
    lcd_putc('\\', 2, 1);
    lcd_gotoxy(3, 1);
    lcd_prstr("\\");
    for (int n = 1; n <= 3; n++)
        EXPECT_EQ(cellBits(n, 1), backslash) << n;
    EXPECT_EQ(lcd_getc(1, 1), 3);
    EXPECT_EQ(lcd_getc(2, 1), 0x5C);
    EXPECT_EQ(lcd_getc(3, 1), 0x5C);
}

TEST_F(TextEngine, ClearRowBlanksPixelColumnsOneTo127) {
    struct {
        int row, cleared;
        bool on;
    } cases[] = {{3, 3, false}, {3, 3, true}, {0, 1, false}, {8, 8, true}};
    for (auto c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " cursor " << c.on);
        lcd_reset();
        fillMap();
        bCursorOn = c.on;
        Screen expected = currentScreen();
        for (int x = 1; x < LCD_WIDTH; x++)
            for (int j = 0; j < 8; j++)
                expected.px[x][8 * c.cleared - 8 + j] = 0;
        paintMark(expected, 1, c.cleared, c.on);
        paintMark(expected, 1, 1, false); // the first move erases at the old cursor (1, 1)
        if (c.cleared == 1) paintMark(expected, 1, 1, c.on);
        lcd_clear_row(c.row);
        EXPECT_TRUE(ScreenIs(expected));
        EXPECT_TRUE(CursorIs(1, c.cleared));
    }
}

TEST_F(TextEngine, CenterTextStartColumns) {
    struct {
        int length, start;
    } cases[] = {{0, 11}, {1, 10}, {2, 10}, {3, 9},  {4, 9},  {5, 8},  {12, 5}, {16, 3},
                 {17, 2}, {18, 2}, {19, 1}, {20, 1}, {21, 1}, {22, 0}, {23, 0}};
    for (auto c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length);
        lcd_reset();
        lcd_cursor_mode(1);
        for (int n = 1; n <= LCD_COLS; n++)
            lcd_putc(0x01, n, 5);
        std::string text;
        for (int k = 0; k < c.length; k++)
            text += char('a' + k);
        lcd_center_text(5, text.c_str());
        Screen expected;
        for (int n = 1; n <= LCD_COLS; n++) {
            int k = n - c.start;
            paintGlyph(expected, n, 5, k >= 0 && k < c.length ? text[k] : ' ');
        }
        if (c.start >= 1)
            paintMark(expected, c.start, 5, true); // drawn by the move, left alone by the text
        EXPECT_TRUE(ScreenIs(expected));
        EXPECT_TRUE(CursorIs(c.start + c.length, 5));
    }
}

static int codeOf(int n, int r) {
    return 0x21 + ((r - 1) * LCD_COLS + n - 1) % 94;
}

static void fillGrid() {
    for (int r = 1; r <= LCD_ROWS; r++)
        for (int n = 1; n <= LCD_COLS; n++)
            lcd_putc(codeOf(n, r), n, r);
}

TEST_F(TextEngine, ScrollMovesColumnsOneToTwentyAndBlanksOneRow) {
    struct {
        void (*scroll)(uint8_t);
        int lines, firstMoved, lastMoved, from, blanked;
    } cases[] = {
        {lcd_scroll_up, 4, 1, 3, +1, 4},   {lcd_scroll_up, 3, 2, 3, +1, 4},
        {lcd_scroll_up, 0, 2, 3, +1, 4},   {lcd_scroll_up, 255, 2, 3, +1, 4},
        {lcd_scroll_down, 4, 2, 4, -1, 1}, {lcd_scroll_down, 3, 3, 4, -1, 2},
        {lcd_scroll_down, 9, 3, 4, -1, 2},
    };
    for (auto c : cases)
        for (bool on : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << (c.from > 0 ? "up " : "down ") << c.lines << " cursor " << on);
            lcd_reset();
            fillGrid();
            lcd_cursor_mode(on);
            lcd_gotoxy(9, 7);
            c.scroll(c.lines);
            Screen expected;
            for (int r = 1; r <= LCD_ROWS; r++)
                for (int n = 1; n <= LCD_COLS; n++) {
                    bool moved = r >= c.firstMoved && r <= c.lastMoved && n <= 20;
                    int code = r == c.blanked ? ' ' : codeOf(n, moved ? r + c.from : r);
                    paintGlyph(expected, n, r, code);
                }
            paintMark(expected, 1, c.blanked, on);
            EXPECT_TRUE(ScreenIs(expected));
            EXPECT_TRUE(CursorIs(1, c.blanked));
        }
}

TEST_F(TextEngine, ScrolledCellsReadBackAsTheirNewCodes) {
    fillGrid();
    lcd_scroll_down(4); // blanks all of row 1, column 21 included
    lcd_scroll_up(4);
    for (int r = 1; r <= 3; r++) {
        Bytes row;
        for (int n = 1; n <= LCD_COLS; n++)
            row.push_back(n == 21 && r == 1 ? ' ' : codeOf(n, r));
        EXPECT_TRUE(RowShows(r, 1, row)) << "row " << r;
    }
    for (int k = 0; k < 3; k++)
        lcd_scroll_up(4);
    for (int r = 1; r <= 4; r++)
        EXPECT_TRUE(RowShows(r, 1, Bytes(20, ' '))) << "row " << r;
    EXPECT_EQ(lcd_getc(21, 3), codeOf(21, 3));
}

TEST_F(TextEngine, EveryClearResetsTheReadBack) {
    struct {
        const char *name;
        void (*clear)();
    } clears[] = {
        {"clear_all", lcd_clear_all},
        {"clear_map", lcd_clear_map},
        {"clear_row", [] { lcd_clear_row(2); }},
        {"center_text", [] { lcd_center_text(2, "mid"); }},
    };
    for (auto c : clears) {
        SCOPED_TRACE(c.name);
        lcd_reset();
        fillGrid();
        c.clear();
        lcd_scroll_up(4); // row 1 takes what row 2 reads back
        Bytes row(20, ' ');
        if (std::string(c.name) == "center_text") row[8] = 'm', row[9] = 'i', row[10] = 'd';
        EXPECT_TRUE(RowShows(1, 1, row));
    }
}

TEST_F(TextEngine, CursorCoordinatesAreSignedBytes) {
    lcd_cursor_mode(1);
    lcd_gotoxy(200, 255);
    EXPECT_TRUE(CursorIs(-56, -1));
    lcd_gotoxy(127, 2);
    lcd_putch('A');
    EXPECT_TRUE(CursorIs(-128, 2));
    lcd_prstr("B");
    EXPECT_TRUE(CursorIs(-127, 2));
    EXPECT_EQ(setPixels(), 0);
}

TEST_F(TextEngine, TextRunningRoundTheSignedColumnComesBackAtColumnOne) {
    std::string text;
    for (int k = 0; k < 256; k++)
        text += char('A' + k % 26);
    lcd_center_text(3, text.c_str()); // length 256 counts as 0: start 11
    EXPECT_TRUE(CursorIs(11, 3));
    EXPECT_TRUE(RowShows(3, 11, text.substr(0, 11).c_str()));
    EXPECT_TRUE(RowShows(3, 1, text.substr(246).c_str()));
}

TEST_F(TextEngine, NothingIsDrawnOutsideTheGrid) {
    const int positions[][2] = {{0, 1},  {22, 1}, {23, 4}, {127, 1},
                                {-1, 3}, {1, 0},  {1, 9},  {5, -56}};
    for (auto p : positions) {
        SCOPED_TRACE(testing::Message() << "at " << p[0] << "," << p[1]);
        fillMap();
        curX = p[0];
        curY = p[1];
        show_char(0x20);
        EXPECT_EQ(setPixels(), LCD_WIDTH * LCD_HEIGHT);
        lcd_prstr(" ");
        EXPECT_EQ(setPixels(), LCD_WIDTH * LCD_HEIGHT);
    }
    const int marks[][2] = {{0, 1}, {23, 1}, {255, 1}, {1, 0}, {1, 9}, {1, 255}};
    for (auto m : marks) {
        SCOPED_TRACE(testing::Message() << "mark " << m[0] << "," << m[1]);
        lcd_clear_map();
        lcd_drawcursor(m[0], m[1], false);
        EXPECT_EQ(setPixels(), 0);
        fillMap();
        lcd_drawcursor(m[0], m[1], true);
        EXPECT_EQ(setPixels(), LCD_WIDTH * LCD_HEIGHT);
    }
}

TEST_F(TextEngine, PutchPastColumnTwentyOneOnlyErasesTheLastCursorColumn) {
    fillMap();
    curX = 22;
    curY = 3;
    Screen expected = currentScreen();
    paintMark(expected, 22, 3, false);
    lcd_putch('Z');
    lcd_putch('Z');
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_TRUE(CursorIs(24, 3));
}

TEST_F(TextEngine, CodesPastTheTableDrawABlankCell) {
    for (int code = 128; code < 256; code++) {
        lcd_putc(0x01, 2, 2);
        show_char(code);
        ASSERT_EQ(setPixels(), 0) << code;
        lcd_putc(0x01, 2, 2);
        lcd_putch(char(code));
        ASSERT_EQ(setPixels(), 0) << code;
    }
}
