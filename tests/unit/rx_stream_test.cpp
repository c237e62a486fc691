// Display command stream: what each command consumes, the states it passes
// through, when it repaints and what it draws; then every byte in every state.
#include "test_lcd.h"

#include <map>
#include <set>
#include <string>

class Stream : public LcdFixture {};

// The state a command byte enters; 0 for commands without arguments and for
// bytes that mean nothing in state 0.
static int argumentState(int command) {
    static const std::map<int, int> states = {
        {0x88, 1},  {0x8A, 2},  {0x8B, 3},  {0x8C, 4},  {0x8D, 8},  {0x8E, 10}, {0x8F, 11},
        {0x93, 12}, {0x94, 13}, {0x95, 14}, {0x96, 16}, {0x97, 17}, {0x98, 21}, {0x99, 22},
        {0x9A, 24}, {0x9B, 26}, {0xA1, 25}, {0xA2, 6},  {0xA5, 27}, {0xA6, 29}, {0xA8, 15},
        {0xA9, 32}, {0xAA, 31}, {0xB1, 33}, {0xB2, 34},
    };
    auto it = states.find(command);
    return it == states.end() ? 0 : it->second;
}

static bool repaintsAtOnce(int command) {
    for (int c : {0x87, 0x89, 0x90, 0x91, 0x92, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0})
        if (c == command) return true;
    return false;
}

static std::string letters(int count) {
    std::string text;
    for (int k = 0; k < count; k++)
        text += char('A' + k % 26);
    return text;
}

TEST_F(Stream, EveryByteInStateZero) {
    for (int b = 0; b < 256; b++) {
        SCOPED_TRACE(testing::Message() << "byte " << b);
        SetUp();
        lcd_putc('X', 5, 5);
        lcd_cursor_mode(1);
        flashTimer = 7;
        Screen before = currentScreen();
        feed({b});
        EXPECT_EQ(rx_state(), argumentState(b));
        EXPECT_EQ(repaints, repaintsAtOnce(b) ? 1 : 0);
        if (!repaintsAtOnce(b) && b != 0x8B) { // 0x8B moves to (1, 1) at once
            EXPECT_TRUE(ScreenIs(before));
            EXPECT_TRUE(CursorIs(5, 5));
            EXPECT_EQ(int(flashTimer), 7);
        }
    }
}

TEST_F(Stream, ArgumentsStatesAndRepaints) {
    struct {
        const char *name;
        Bytes bytes;
        std::vector<std::pair<int, int>> states; // (state, bytes it lasts)
        bool repaintAtEnd;
    } cases[] = {
        {"ignored byte", {0x88, 0x89}, {{1, 1}, {0, 1}}, false},
        {"clear row", {0x8A, 3}, {{2, 1}, {0, 1}}, true},
        {"page text", bytes({0x8B, 0x89}, letters(80)), {{3, 1}, {9, 80}, {0, 1}}, true},
        {"row text", bytes({0x8C, 2}, letters(21)), {{4, 1}, {5, 21}, {0, 1}}, true},
        {"text at cursor", bytes({0x8D}, "ab", {0x89, 0x99, 0}), {{8, 5}, {0, 1}}, true},
        {"character", {0x8E, 0x87}, {{10, 1}, {0, 1}}, true},
        {"character again", {0x8F, 0x89}, {{11, 1}, {0, 1}}, true},
        {"signal", {0x93, 0x87}, {{12, 1}, {0, 1}}, false},
        {"rx speed", {0x94, 0x89}, {{13, 1}, {0, 1}}, false},
        {"tx speed", {0x95, 0x90}, {{14, 1}, {0, 1}}, false},
        {"user", {0xA8, 0x91}, {{15, 1}, {0, 1}}, false},
        {"status", {0x96, 0x9E}, {{16, 1}, {0, 1}}, false},
        {"move", {0x97, 3, 3}, {{17, 1}, {18, 1}, {0, 1}}, true},
        {"cursor mode", {0x98, 7}, {{21, 1}, {0, 1}}, true},
        {"centred text", bytes({0x99, 3}, "abc", {0}), {{22, 1}, {23, 4}, {0, 1}}, true},
        {"centred overflow", bytes({0x99, 3}, letters(30), {0}), {{22, 1}, {23, 31}, {0, 1}}, true},
        {"backlight", {0x9A, 0x89}, {{24, 1}, {0, 1}}, false},
        {"contrast", {0x9B, 0x87}, {{26, 1}, {0, 1}}, false},
        {"flash", {0xA1, 'a', 0, 0x89, 'd'}, {{25, 4}, {0, 1}}, true},
        {"padded row",
         bytes({0xA2, 3}, "HELLO", {0, 'Z', 0x89, 0x87, 0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         {{6, 1}, {7, 21}, {0, 1}},
         true},
        {"slot", {0xA5, 9, 0x89, 0x87, 0x8C, 0x99, 0, 1, 2}, {{27, 1}, {28, 7}, {0, 1}}, false},
        {"alt field", {0xA6, 1, 'a', 0x89, 'c'}, {{29, 1}, {30, 3}, {0, 1}}, true},
        {"ignored 0xA9", {0xA9, 0x89}, {{32, 1}, {0, 1}}, false},
        {"ignored 0xAA", {0xAA, 0x89}, {{31, 1}, {0, 1}}, false},
        {"extra status", {0xB1, 0x87}, {{33, 1}, {0, 1}}, false},
        {"ignored 0xB2", {0xB2, 0x89}, {{34, 1}, {0, 1}}, false},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::vector<int> path;
        for (auto [state, count] : c.states)
            path.insert(path.end(), count, state);
        ASSERT_EQ(path.size(), c.bytes.size());
        for (size_t k = 0; k < c.bytes.size(); k++) {
            rx_CallBack(0, c.bytes[k]);
            bool last = k + 1 == c.bytes.size();
            ASSERT_EQ(rx_state(), path[k]) << "after byte " << k;
            ASSERT_EQ(repaints, c.repaintAtEnd && last ? 1 : 0) << "after byte " << k;
        }
    }
}

TEST_F(Stream, ResetAndClearScreen) {
    for (int command : {0x87, 0x89}) {
        SCOPED_TRACE(testing::Message() << "command " << command);
        SetUp();
        feed(bytes({0x8C, 6}, letters(21)));
        feed({0x98, 1, 0x97, 9, 7});
        flashTimer = 9;
        repaints = 0;
        feed({command});
        Screen expected;
        paintMark(expected, 1, 1, true);
        EXPECT_TRUE(ScreenIs(expected));
        EXPECT_TRUE(CursorIs(1, 1));
        EXPECT_EQ(repaints, 1);
        EXPECT_EQ(int(flashTimer), command == 0x87 ? 0 : 9);
    }
}

TEST_F(Stream, ClearRow) {
    feed(bytes({0x8C, 1}, letters(21)));
    feed(bytes({0x8C, 3}, letters(21)));
    feed({0x8A, 3});
    EXPECT_TRUE(RowShows(3, 1, std::string(21, ' ').c_str()));
    EXPECT_TRUE(RowShows(1, 1, letters(21).c_str()));
    feed({0x8A, 0});
    EXPECT_EQ(setPixels(), 0);
    EXPECT_TRUE(CursorIs(1, 1));
}

TEST_F(Stream, PageTextFillsTwentyColumnsOfRowsOneToFour) {
    for (int r = 1; r <= 4; r++)
        lcd_putc(0x01, 21, r);
    lcd_cursor_mode(1);
    lcd_gotoxy(6, 6);
    feed({0x8B});
    EXPECT_TRUE(CursorIs(1, 1));
    EXPECT_EQ(markBits(1, 1), 0xFF);
    std::string text = letters(80);
    feed(bytes({0x89}, text));
    Screen expected;
    for (int r = 1; r <= 4; r++) {
        paintText(expected, 1, r, text.substr(20 * (r - 1), 20));
        paintGlyph(expected, 21, r, 0x01);
    }
    EXPECT_TRUE(ScreenIs(expected)); // no mark left behind by the row moves
    EXPECT_TRUE(CursorIs(21, 4));
    EXPECT_EQ(repaints, 1);
}

TEST_F(Stream, RowTexts) {
    feed(bytes({0x8C, 2}, letters(21)));
    EXPECT_TRUE(RowShows(2, 1, letters(21).c_str()));
    EXPECT_TRUE(CursorIs(22, 2));
    EXPECT_EQ(repaints, 1);

    for (int n = 1; n <= LCD_COLS; n++)
        lcd_putc(0x01, n, 3);
    feed(bytes({0xA2, 3}, "HELLO", {0, 'Z', 0x89, 0x87, 0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(RowShows(3, 1, ("HELLO" + std::string(16, ' ')).c_str()));
    EXPECT_TRUE(RowShows(2, 1, letters(21).c_str()));
    EXPECT_TRUE(CursorIs(22, 3));
    EXPECT_EQ(repaints, 2);

    feed(bytes({0xA2, 4}, letters(21), {0}));
    EXPECT_TRUE(RowShows(4, 1, letters(21).c_str()));
    EXPECT_EQ(rx_state(), 0);
    EXPECT_EQ(repaints, 3);
}

TEST_F(Stream, TextAtTheCursor) {
    lcd_putc(0x01, 9, 6);
    feed({0x97, 4, 6});
    feed(bytes({0x8D}, "HELLO", {0}));
    EXPECT_TRUE(RowShows(6, 4, "HELLO"));
    EXPECT_TRUE(CursorIs(9, 6));
    EXPECT_EQ(repaints, 2);
    feed({0x8D, 0x89, 0}); // a character, not a clear
    EXPECT_TRUE(RowShows(6, 4, "HELLO "));
    EXPECT_TRUE(CursorIs(10, 6));
    feed({0x8E, 'A', 0x8F, 'B', 0x90, 0x8E, 'C'});
    EXPECT_TRUE(RowShows(6, 10, "AB C"));
    EXPECT_EQ(repaints, 7);
}

TEST_F(Stream, BackslashThroughPutchIsGlyphThree) {
    struct {
        const char *name;
        Bytes stream;
        int x, code;
    } cases[] = {
        {"row text", bytes({0x8C, 1}, "\\" + letters(20)), 1, 3},
        {"padded row text",
         bytes({0xA2, 1}, "\\", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 1,
         3},
        {"page text", bytes({0x8B, 0}, "\\" + letters(79)), 1, 3},
        {"text at cursor", bytes({0x8D}, "\\", {0}), 1, 3},
        {"character", {0x8E, '\\'}, 1, 3},
        {"flash", bytes({0xA1}, "\\abc"), 12, 3},
        {"alt field", bytes({0xA6, 1}, "\\ab", {0x9E}), 1, 3},
        {"centred text", bytes({0x99, 1}, "\\", {0}), 10, 0x5C},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        feed(c.stream);
        EXPECT_EQ(rx_state(), 0);
        EXPECT_EQ(cellBits(c.x, 1), (std::array<uint8_t, 5>{0x20, 0x10, 0x08, 0x04, 0x02}));
        EXPECT_EQ(lcd_getc(c.x, 1), c.code);
    }
}

TEST_F(Stream, ScrollCommands) {
    struct {
        int command;
        const char *rows; // what rows 1..4 show afterwards, ' ' = blanked
        int cursorRow;
    } cases[] = {{0x91, "234 ", 4}, {0x92, " 123", 1}, {0x9C, "134 ", 4}, {0x9D, "1 23", 2}};
    for (auto c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.command);
        SetUp();
        for (int r = 1; r <= 4; r++)
            feed(bytes({0x8C, r}, std::string(21, char('0' + r))));
        repaints = 0;
        feed({c.command});
        for (int r = 1; r <= 4; r++) {
            char shown = c.rows[r - 1];
            EXPECT_TRUE(RowShows(r, 1, std::string(20, shown).c_str())) << "row " << r;
            EXPECT_TRUE(RowShows(r, 21, {shown == ' ' ? ' ' : '0' + r})) << "row " << r;
        }
        EXPECT_TRUE(CursorIs(1, c.cursorRow));
        EXPECT_EQ(repaints, 1);
    }
}

TEST_F(Stream, StatusValuesShowAtTheNextStatusLineCommand) {
    feed({0x93, 5, 0x94, 23, 0x95, 31, 0xA8, 2, 0x96, 0x04, 0xB1, 0x80, 0x93, 12});
    EXPECT_EQ(repaints, 0);
    EXPECT_EQ(setPixels(), 0);
    feed({0xA0});
    EXPECT_EQ(repaints, 1);
    EXPECT_TRUE(RowShows(1, 1, statusCells("RX23_.==%...vgB._TX31")));
    feed({0x96, 0x80, 0x9E});
    EXPECT_TRUE(RowShows(1, 13, statusCells("ESC.")));
    EXPECT_EQ(repaints, 2);
}

TEST_F(Stream, MoveTakesColumnThenRow) {
    const int moves[][4] = {{3, 3, 3, 3}, {5, 0, 5, 1}, {200, 9, -56, 9}, {22, 8, 22, 8}};
    for (auto m : moves) {
        feed({0x97, m[0], m[1]});
        EXPECT_TRUE(CursorIs(m[2], m[3]));
    }
    EXPECT_EQ(repaints, 4);
    feed({0x98, 2});
    EXPECT_EQ(markBits(22, 8), 0xFF);
    feed({0x98, 3});
    EXPECT_EQ(setPixels(), 0);
}

TEST_F(Stream, CentredText) {
    for (int r = 3; r <= 5; r++)
        for (int n = 1; n <= LCD_COLS; n++)
            lcd_putc(0x01, n, r);
    feed(bytes({0x99, 3}, "SEVENCH", {0}));
    EXPECT_TRUE(RowShows(3, 1, "      SEVENCH        "));
    feed({0x99, 5, 0});
    EXPECT_TRUE(RowShows(5, 1, std::string(21, ' ').c_str()));
    EXPECT_TRUE(CursorIs(11, 5));
    EXPECT_EQ(repaints, 2);
}

TEST_F(Stream, CentredTextKeepsItsFirstTwentyThreeCharacters) {
    for (int n = 1; n <= LCD_COLS; n++)
        lcd_putc(0x01, n, 5);
    std::string text = letters(23);
    // The surplus, command bytes included, is dropped while waiting for the 0.
    feed(bytes({0x99, 4}, text + "xyz", {0x89, 0x87, 0x97, 1, 1, 0}));
    EXPECT_TRUE(RowShows(4, 1, text.substr(1, 21).c_str())); // starts in column 0
    EXPECT_TRUE(CursorIs(23, 4));
    EXPECT_TRUE(RowShows(5, 1, Bytes(21, 0x01)));
    EXPECT_EQ(repaints, 1);

    feed({0x97, 2, 2});
    EXPECT_TRUE(CursorIs(2, 2));
    feed({0x99, 6, 'h', 'i', 0});
    EXPECT_TRUE(RowShows(6, 1, "         hi          "));
    EXPECT_EQ(repaints, 3);
}

TEST_F(Stream, FlashMessage) {
    feed(bytes({0xA1}, "ABC "));
    EXPECT_TRUE(RowShows(1, 12, statusCells("ABC.")));
    EXPECT_EQ(int(flashTimer), 15);
    EXPECT_EQ(repaints, 1);
}

TEST_F(Stream, AltFieldsAreStoredAndDrawnByTheStatusLine) {
    altStatLeft[3] = 'q'; // byte 3 belongs to nobody: the stream never writes it
    altStatRight[3] = 'q';
    feed(bytes({0xA6, 1}, "LFT"));
    EXPECT_EQ(std::string(altStatLeft, 4), "LFTq");
    EXPECT_EQ(setPixels(), 0);
    EXPECT_EQ(repaints, 1);
    for (int selector : {2, 0, 255}) {
        std::string text = "R" + std::to_string(selector).substr(0, 1) + "t";
        feed(bytes({0xA6, selector}, text));
        EXPECT_EQ(std::string(altStatRight, 4), text + "q");
    }
    feed({0x9E});
    EXPECT_TRUE(RowShows(1, 1, "LFTq"));
    EXPECT_TRUE(RowShows(1, 17, "R2tq"));
    feed({0xA6, 1, 0, 'x', 'y', 0x9E});
    EXPECT_TRUE(RowShows(1, 1, "RX00"));
}

TEST_F(Stream, DisplayTestReplacesTheScreen) {
    for (int r = 1; r <= 8; r++)
        feed(bytes({0x8C, r}, letters(21)));
    repaints = 0;
    feed({0x9F});
    Screen expected = displayTestPattern();
    EXPECT_TRUE(ScreenIs(expected));
    EXPECT_EQ(repaints, 1);
}

// Every byte in every state reachable by a prefix: no fault, pixels stay 0
// or 1, at most one repaint per byte, and the state after the byte is the
// one the tables give. A run of zeros then ends whatever command is open.
TEST_F(Stream, EveryByteInEveryState) {
    struct {
        const char *name;
        Bytes prefix;
        int state, next;
        bool zeroEnds;
    } reached[] = {
        {"idle", {}, 0, 0, false},
        {"idle, extremes", bytes({0x94, 255,  0x95, 255, 0xA8, 1,   0x93, 11,   0x96, 0x7F,
                                  0xB1, 0xFF, 0xA6, 2,   'a',  'b', 'c',  0x97, 200,  200}),
         0, 0, false},
        {"idle at column 22", bytes({0x8C, 8}, letters(21)), 0, 0, false},
        {"0x88", {0x88}, 1, 0, false},
        {"clear row", {0x8A}, 2, 0, false},
        {"page", {0x8B}, 3, 9, false},
        {"page, first", {0x8B, 0}, 9, 9, false},
        {"page, 20th", bytes({0x8B, 0}, letters(19)), 9, 9, false},
        {"page, last", bytes({0x8B, 0}, letters(79)), 9, 0, false},
        {"row", {0x8C}, 4, 5, false},
        {"row, first", {0x8C, 2}, 5, 5, false},
        {"row, last", bytes({0x8C, 200}, letters(20)), 5, 0, false},
        {"padded", {0xA2}, 6, 7, false},
        {"padded, first", {0xA2, 3}, 7, 7, false},
        {"padded, last", bytes({0xA2, 3, 'a', 0}, std::string(18, 'x')), 7, 0, false},
        {"at cursor", {0x8D}, 8, 8, true},
        {"at cursor past the grid", {0x97, 21, 8, 0x8D, 'a', 'b'}, 8, 8, true},
        {"0x8E", {0x8E}, 10, 0, false},
        {"0x8F", {0x8F}, 11, 0, false},
        {"signal", {0x93}, 12, 0, false},
        {"rx", {0x94}, 13, 0, false},
        {"tx", {0x95}, 14, 0, false},
        {"user", {0xA8}, 15, 0, false},
        {"status", {0x96}, 16, 0, false},
        {"move", {0x97}, 17, 18, false},
        {"move, row", {0x97, 3}, 18, 0, false},
        {"move, row after column 200", {0x97, 200}, 18, 0, false},
        {"cursor mode", {0x98}, 21, 0, false},
        {"centred", {0x99}, 22, 23, false},
        {"centred, text", {0x99, 3}, 23, 23, true},
        {"centred, full", bytes({0x99, 3}, letters(30)), 23, 23, true},
        {"centred, row 200", {0x99, 200, 'a'}, 23, 23, true},
        {"backlight", {0x9A}, 24, 0, false},
        {"flash", {0xA1}, 25, 25, false},
        {"flash, last", {0xA1, 'a', 'b', 'c'}, 25, 0, false},
        {"contrast", {0x9B}, 26, 0, false},
        {"slot", {0xA5}, 27, 28, false},
        {"slot bytes", {0xA5, 9}, 28, 28, false},
        {"slot, last", {0xA5, 9, 1, 2, 3, 4, 5, 6}, 28, 0, false},
        {"alt", {0xA6}, 29, 30, false},
        {"alt, first", {0xA6, 1}, 30, 30, false},
        {"alt left, last", {0xA6, 1, 'a', 'b'}, 30, 0, false},
        {"alt right, last", {0xA6, 7, 'a', 'b'}, 30, 0, false},
        {"0xAA", {0xAA}, 31, 0, false},
        {"0xA9", {0xA9}, 32, 0, false},
        {"extra status", {0xB1}, 33, 0, false},
        {"0xB2", {0xB2}, 34, 0, false},
    };
    std::set<int> covered;
    for (auto &r : reached)
        covered.insert(r.state);
    EXPECT_EQ(covered.size(), 33u);
    EXPECT_EQ(covered.count(19) + covered.count(20), 0u);

    auto valid = [](int state) { return state >= 0 && state <= 34 && state != 19 && state != 20; };
    for (auto &r : reached)
        for (bool on : {false, true})
            for (int b = 0; b < 256; b++) {
                SCOPED_TRACE(testing::Message()
                             << r.name << (on ? ", cursor on" : "") << ", byte " << b);
                SetUp();
                if (on) feed({0x98, 1});
                feed(r.prefix);
                ASSERT_EQ(rx_state(), r.state);
                int before = repaints;
                rx_CallBack(0, b);
                int expected = r.state == 0 ? argumentState(b) : r.zeroEnds && b == 0 ? 0 : r.next;
                ASSERT_EQ(rx_state(), expected);
                ASSERT_LE(repaints - before, 1);
                ASSERT_TRUE(mapIsBinary());
                for (int k = 0; k < 100; k++) {
                    before = repaints;
                    rx_CallBack(0, 0);
                    ASSERT_TRUE(valid(rx_state()));
                    ASSERT_LE(repaints - before, 1);
                }
                ASSERT_EQ(rx_state(), 0);
                ASSERT_TRUE(mapIsBinary());
            }
}

// Bytes that arrive together: the same screen as byte by byte, one repaint at
// most, and none when no command in the batch completed a visible change.
TEST_F(Stream, BatchRepaintsOnceAfterItsLastByte) {
    Bytes session = bytes({0x8C, 2}, letters(21), {0x8E, 'x', 0x97, 3, 3, 0x8D, 'a', 'b'});
    feed(session);
    Screen oneByOne = currentScreen();
    int8_t x = curX, y = curY;

    SetUp();
    std::vector<uint8_t> raw(session.begin(), session.end());
    rx_feed(raw.data(), raw.size());
    EXPECT_TRUE(ScreenIs(oneByOne));
    EXPECT_TRUE(CursorIs(x, y));
    EXPECT_EQ(repaints, 1);
    EXPECT_EQ(rx_state(), 8); // the text at the cursor still waits for its 0

    const uint8_t more[] = {'c', 'd'};
    rx_feed(more, sizeof more);
    EXPECT_EQ(repaints, 1) << "text still waiting for its 0 repaints nothing";
    const uint8_t end[] = {0, 0x93, 5, 0x96, 0x80};
    rx_feed(end, sizeof end);
    EXPECT_EQ(repaints, 2);
    EXPECT_EQ(gSigs, 5);
    const uint8_t values[] = {0x94, 20, 0x95, 22, 0xA8, 1};
    rx_feed(values, sizeof values);
    rx_feed(nullptr, 0);
    EXPECT_EQ(repaints, 2) << "value commands repaint nothing";
}
