// Status line on row 1, flash messages and their expiry, the display test.
#include "test_lcd.h"

#include <cstring>

class StatusLine : public LcdFixture {
  protected:
    // Row 1 full of blocks and a mark at column 22, so unwritten cells show.
    void SetUp() override {
        LcdFixture::SetUp();
        for (int n = 1; n <= LCD_COLS; n++)
            lcd_putc(0x01, n, 1);
        lcd_drawcursor(22, 1, false);
        lcd_gotoxy(1, 3);
    }

    // The screen SetUp left, with row 1 as the pattern gives it.
    static Screen withRow1(const char *pattern) {
        Bytes cells = statusCells(pattern);
        Screen s;
        for (int n = 1; n <= LCD_COLS; n++)
            paintGlyph(s, n, 1, cells.at(n - 1) < 0 ? 0x01 : cells[n - 1]);
        paintMark(s, 22, 1, true);
        return s;
    }
};

TEST_F(StatusLine, Layouts) {
    struct {
        const char *name;
        int rx, tx, user, status, xstatus;
        const char *left, *right, *row1;
    } cases[] = {
        {"all zero", 0, 0, 0, 0x00, 0x00, "", "", "RX00_.........._TX00#"},
        {"user 1", 0, 0, 1, 0x00, 0x00, "", "", "RX00_.......u..._TX00"},
        {"speeds, user 2", 7, 42, 2, 0x00, 0x00, "", "", "RX07_.......v..._TX42"},
        {"third digits: RX under column 5, TX past the grid", 123, 255, 4, 0x00, 0x00, "", "",
         "RX12_.......x..._TX25"},
        {"third TX digit in column 21", 0, 100, 0, 0x00, 0x00, "", "", "RX00_.........._TX100"},
        {"user 5 draws no cell", 0, 0, 5, 0x68, 0x40, "", "", "RX00<.......d.H>TX00#"},
        {"user 3, bits 6 and 3", 0, 0, 3, 0x48, 0xC0, "", "", "RX00_.......wg.H>TX00"},
        {"ESC over CLL, nothing right of 16", 0, 0, 3, 0xFF, 0x80, "", "r",
         "RX00<.......ESC.#####"},
        {"CLL, user 255", 0, 0, 255, 0x01, 0x00, "", "", "RX00_.......CLL.#####"},
        {"left field", 55, 0, 0, 0x00, 0x00, "AB\\", "", "AB\\%_.........._TX00#"},
        {"right field over the bit-3 cell", 0, 0, 1, 0x08, 0x00, "", "XYZ",
         "RX00_.......u...XYZ%#"},
        {"right field, no user", 0, 0, 0, 0x00, 0x00, "", "XYZ", "RX00_.........._XYZ%#"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        set_rxWpm(c.rx);
        set_txWpm(c.tx);
        set_user(c.user);
        update_status(c.status);
        gXstatus = c.xstatus;
        std::strncpy(altStatLeft, c.left, 3); // byte 3 stays 0, as the stream leaves it
        std::strncpy(altStatRight, c.right, 3);
        showStatusLine();
        EXPECT_TRUE(ScreenIs(withRow1(c.row1)));
        EXPECT_TRUE(CursorIs(1, 3));
    }
}

TEST_F(StatusLine, ModeCellPriority) {
    struct {
        int status;
        const char *cell;
    } cases[] = {{0x00, "."}, {0x04, "B"}, {0x02, "P"}, {0x06, "P"},
                 {0x10, "W"}, {0x16, "W"}, {0x12, "W"}, {0x14, "W"}};
    for (auto c : cases) {
        update_status(c.status);
        showStatusLine();
        EXPECT_TRUE(RowShows(1, 14, statusCells(c.cell))) << "status " << c.status;
    }
}

TEST_F(StatusLine, ExtraStatusGlyph) {
    struct {
        int xstatus;
        const char *cell;
    } cases[] = {{0xC0, "g"}, {0x80, "g"}, {0x40, "d"}, {0x3F, "."}, {0x00, "."}};
    for (auto c : cases) {
        gXstatus = c.xstatus;
        showStatusLine();
        EXPECT_TRUE(RowShows(1, 13, statusCells(c.cell))) << "gXstatus " << c.xstatus;
    }
}

TEST_F(StatusLine, SignalMeter) {
    const char *meters[] = {".....", "%....", "=....", "=%...", "==...", "==%..",
                            "===..", "===%.", "====.", "====%", "=====", "====+"};
    for (int level = 0; level <= 11; level++) {
        set_signal(level);
        showStatusLine();
        EXPECT_TRUE(RowShows(1, 7, statusCells(meters[level]))) << "level " << level;
    }
    set_signal(5);
    for (int level = 12; level < 256; level++)
        set_signal(level);
    EXPECT_EQ(int(gSigs), 5);
    showStatusLine();
    EXPECT_TRUE(RowShows(1, 7, statusCells(meters[5])));
}

TEST_F(StatusLine, UnwrittenColumnsKeepAnEarlierPass) {
    set_user(1);
    set_txWpm(42);
    showStatusLine();
    set_user(0);
    showStatusLine(); // fields move left; column 21 keeps the '2'
    EXPECT_TRUE(RowShows(1, 13, statusCells("..._TX422")));
    set_user(2);
    std::memcpy(altStatRight, "ABC", 4);
    showStatusLine();
    EXPECT_TRUE(RowShows(1, 17, statusCells("ABC%2")));
}

TEST_F(StatusLine, AltFieldsDrawOnlyWhenTheirFirstByteIsSet) {
    Screen before = currentScreen();
    EXPECT_EQ(updateAltLeft(), 0);
    EXPECT_EQ(updateAltRight(), 0);
    EXPECT_TRUE(ScreenIs(before));
    altStatRight[0] = 'Q';
    EXPECT_EQ(updateAltRight(), 1);
    EXPECT_TRUE(RowShows(1, 17, statusCells("Q%%%")));
    EXPECT_TRUE(CursorIs(21, 1));
}

TEST_F(StatusLine, CursorIsRestoredWithoutItsMark) {
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "cursor on" : "cursor off");
        SetUp();
        lcd_cursor_mode(on);
        lcd_gotoxy(7, 5);
        showStatusLine();
        EXPECT_TRUE(CursorIs(7, 5));
        EXPECT_EQ(bCursorOn, on);
        // No mark anywhere: the one at (7, 5) was erased by the first move.
        EXPECT_TRUE(ScreenIs(withRow1("RX00_.........._TX00#")));
    }
}

class Flash : public StatusLine {};

TEST_F(Flash, DrawsFourCellsAtColumnTwelve) {
    struct {
        const char *name;
        char bytes[5];
        const char *row1;
    } cases[] = {
        {"space as baseline", "AB C", "###########AB.C######"},
        {"zero byte as glyph 0", {'A', 0, '\\', ' ', 0}, "###########A%\\.######"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        lcd_cursor_mode(1);
        lcd_gotoxy(7, 5);
        flash_status(c.bytes);
        EXPECT_TRUE(ScreenIs(withRow1(c.row1))); // no mark at (7, 5) nor at 12
        EXPECT_TRUE(CursorIs(7, 5));
        EXPECT_TRUE(bCursorOn);
        EXPECT_EQ(int(flashTimer), 15);
    }
}

TEST_F(Flash, ExpiresOnTheFifteenthTickOnly) {
    EXPECT_FALSE(flash_tick());
    EXPECT_EQ(int(flashTimer), 0);
    update_status(0x81);
    flash_status("WAIT");
    Screen flashed = currentScreen();
    for (int tick = 1; tick < 15; tick++) {
        ASSERT_FALSE(flash_tick()) << tick;
        ASSERT_EQ(int(gStatus), 0x81);
    }
    EXPECT_EQ(int(flashTimer), 1);
    EXPECT_TRUE(flash_tick());
    EXPECT_EQ(int(gStatus), 0);
    EXPECT_EQ(int(flashTimer), 0);
    EXPECT_TRUE(ScreenIs(flashed)); // expiry redraws nothing
    update_status(0x10);
    for (int tick = 0; tick < 30; tick++)
        EXPECT_FALSE(flash_tick());
    EXPECT_EQ(int(gStatus), 0x10);
}

TEST_F(Flash, ASecondFlashRestartsTheCount) {
    flash_status("ONE ");
    for (int tick = 0; tick < 10; tick++)
        flash_tick();
    flash_status("TWO ");
    int ticks = 1;
    while (!flash_tick() && ticks < 100)
        ticks++;
    EXPECT_EQ(ticks, 15);
}

TEST_F(Flash, ResetCommandCancelsTheExpiry) {
    update_status(0x80);
    flash_status("STOP");
    flash_tick();
    feed({0x87});
    for (int tick = 0; tick < 30; tick++)
        EXPECT_FALSE(flash_tick());
    EXPECT_EQ(int(gStatus), 0x80);
}

TEST_F(Flash, StatusLineDrawsOverAPendingFlash) {
    flash_status("ABCD");
    showStatusLine();
    EXPECT_TRUE(RowShows(1, 12, statusCells("...._")));
    EXPECT_EQ(int(flashTimer), 15);
}

class DisplayTest : public LcdFixture {};

TEST_F(DisplayTest, ShowsExactlyItsSixItems) {
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "cursor on" : "cursor off");
        SetUp();
        lcd_cursor_mode(on);
        lcd_clear_all();
        displayTest();
        Screen expected = displayTestPattern();
        // With the cursor on, each centred line keeps the mark its move drew.
        paintMark(expected, 5, 2, on);
        paintMark(expected, 7, 3, on);
        EXPECT_TRUE(ScreenIs(expected));
        EXPECT_TRUE(CursorIs(14, 3));
    }
}
