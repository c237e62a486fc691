// What the history keeps: a stream in, the lines that entered out. Each case
// starts from a cleared screen with the status line drawn on row 1.
#include "app/history.h"
#include "test_lcd.h"

struct HistoryCase {
    const char *name;
    Bytes in;
    std::vector<std::string> entered;  // the new lines, oldest first
    std::vector<std::string> onScreen; // rows 1-4 that would close a transcript
};

static int64_t fixedClock() {
    return 1796778123; // 2026-12-09T01:02:03Z
}

// Text at (x, y) with 0x97 and 0x8D.
static Bytes at(int x, int y, const std::string &text) {
    return bytes({0x97, x, y, 0x8D}, text, {0});
}

static Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

static const HistoryCase cases[] = {
    {"0x91 under the status line pushes out nothing, then the rows that rose",
     join({at(1, 2, "CQ CQ"), at(1, 3, "DE K1ABC"), {0x91}, {0x91}}),
     {"CQ CQ"},
     {"DE K1ABC"}},
    {"0x91 pushes out row 1 once it is written over",
     join({{0x8A, 1}, at(1, 1, "TOP"), at(1, 4, "LAST"), {0x91}}),
     {"TOP"},
     {"LAST"}},
    {"0x9C pushes out row 2 and leaves the status line",
     join({at(1, 2, "ONE"), at(1, 3, "TWO"), {0x9C}, {0x9C}, {0x9C}}),
     {"ONE", "TWO"},
     {}},
    {"a flash on row 1 is not text either",
     join({bytes({0xA1}, "QRM!"), at(1, 2, "K"), {0x91}, {0x91}}),
     {"K"},
     {}},
    {"blank rows, scrolls down, clears, pages and rewrites enter nothing",
     join({{0x91, 0x9C, 0x92, 0x9D},
           bytes({0x8B, 0}, std::string(80, 'P')),
           bytes({0xA2, 3}, "SAME"),
           Bytes(17, 0),
           bytes({0xA2, 3}, "SAME"),
           Bytes(17, 0),
           {0x8A, 3, 0x89}}),
     {},
     {}},
    {"special symbols read as their sign; column 21 and trailing blanks dropped",
     join({at(1, 2, std::string("A\x04 B") + std::string(16, ' ') + "Z"), {0x9C}}),
     {"A\xE2\x86\x90 B"},
     {}},
    {"a status line drawn after text makes row 1 the status line again",
     join({at(1, 1, "OLD"), {0x9E}, at(1, 2, "NEW"), {0x91}}),
     {},
     {"NEW"}},
};

class History : public LcdFixture, public ::testing::WithParamInterface<HistoryCase> {
  protected:
    void SetUp() override {
        LcdFixture::SetUp();
        rx_set_host({nullptr, nullptr, nullptr, history_note});
        history_reset();
        history_set_clock(fixedClock);
        feed({0x89, 0x94, 16, 0x95, 20, 0x9E});
    }
    void TearDown() override {
        history_set_clock(nullptr);
        LcdFixture::TearDown();
    }
};

TEST_P(History, KeepsWhatScrollsAway) {
    const HistoryCase &c = GetParam();
    uint64_t before = history_end();
    feed(c.in);
    std::vector<std::string> entered;
    HistoryLine line;
    for (uint64_t n = before; n < history_end(); n++) {
        ASSERT_TRUE(history_line(n, line));
        EXPECT_EQ(line.time, fixedClock());
        entered.push_back(line.text);
    }
    EXPECT_EQ(entered, c.entered);
    HistoryLine rows[HISTORY_ROWS];
    std::vector<std::string> onScreen;
    for (int k = 0, count = history_on_screen(rows); k < count; k++)
        onScreen.push_back(rows[k].text);
    EXPECT_EQ(onScreen, c.onScreen);
}

INSTANTIATE_TEST_SUITE_P(Cases, History, ::testing::ValuesIn(cases),
                         [](const auto &info) { return "case" + std::to_string(info.index); });

// The ring keeps the newest lines and forgets the oldest, whatever the count.
TEST_F(History, KeepsTheNewestWithinItsBound) {
    for (int k = 0; k < HISTORY_KEEP + 10; k++)
        feed(join({at(1, 2, std::to_string(k)), {0x9C}}));
    HistoryLine line;
    EXPECT_EQ(history_end(), (uint64_t)HISTORY_KEEP + 10);
    EXPECT_FALSE(history_line(9, line));
    ASSERT_TRUE(history_line(10, line));
    EXPECT_STREQ(line.text, "10");
    ASSERT_TRUE(history_line(HISTORY_KEEP + 9, line));
    EXPECT_STREQ(line.text, std::to_string(HISTORY_KEEP + 9).c_str());
    uint64_t next = 0; // behind the ring: taking starts at the oldest kept
    HistoryLine two[2];
    ASSERT_EQ(history_take(next, two, 2), 2);
    EXPECT_STREQ(two[1].text, "11");
    EXPECT_EQ(next, 12u);
}

TEST(HistoryEntry, IsTimeTabTextAndTheLineEnd) {
    HistoryLine line{1796778123, "CQ \xE2\x86\x90"};
    char out[HISTORY_ENTRY_MAX];
    EXPECT_EQ(history_entry(line, "\r\n", out, sizeof out), 29);
    EXPECT_STREQ(out, "2026-12-09T01:02:03Z\tCQ \xE2\x86\x90\r\n");
    char time[HISTORY_TIME_MAX];
    for (auto [t, text] : {std::pair<int64_t, const char *>{0, "1970-01-01T00:00:00Z"},
                           {951782400, "2000-02-29T00:00:00Z"},
                           {4107542399, "2100-02-28T23:59:59Z"}}) {
        history_time_text(t, time);
        EXPECT_STREQ(time, text);
    }
    EXPECT_EQ(history_entry(line, "\n", out, 8), 7); // cut to fit, still terminated
    EXPECT_STREQ(out, "2026-12");
}
