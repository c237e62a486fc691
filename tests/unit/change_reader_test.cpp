// What screen readers are told: a stream in, the events of the next take out.
// Each case starts from a cleared screen whose status line has been drawn
// once (RX 16, TX 20), at 10 s on the reader's clock.
#include "app/change_reader.h"
#include "test_lcd.h"

struct Step {
    Bytes in;
    int64_t atMs;                   // the take's clock
    std::vector<std::string> heard; // "typed OFFSET 'OLD'>'NEW'", "screen", "quiet", "say WORDS"
};

struct Case {
    const char *name;
    std::vector<Step> steps;
};

static std::string heard(const Speech &s) {
    switch (s.kind) {
    case SPEECH_TYPED:
        return "typed " + std::to_string(s.offset) + " '" + s.removed + "'>'" + s.text + "'";
    case SPEECH_SCREEN: return std::string("screen ") + s.text;
    case SPEECH_QUIET: return "quiet";
    case SPEECH_ANNOUNCE: return std::string("say ") + s.text;
    }
    return "?";
}

class ChangeReader : public LcdFixture {
  protected:
    TextView view{};
    void SetUp() override {
        LcdFixture::SetUp();
        rx_set_host({nullptr, nullptr, nullptr, change_reader_note});
        change_reader_reset();
        feed({0x89, 0x94, 16, 0x95, 20, 0x9E});
        take(10000);
    }
    std::vector<std::string> take(int64_t atMs) {
        Speech out[SPEECH_MAX];
        int count = change_reader_take(out, view, atMs);
        std::vector<std::string> all;
        for (int k = 0; k < count; k++)
            all.push_back(heard(out[k]));
        return all;
    }
    std::string line(int row) {
        return std::string(view.text + view.lineByte[row - 1], view.text + view.lineByte[row] - 1);
    }
};

// Row 3 starts after row 1's words ("RX 16, TX 20, signal 0", 22 characters)
// and row 2 (21 characters), each with its '\n'.
enum { ROW3 = 23 + 22 };

static const Case cases[] = {
    {"characters at the cursor come once, in order, merged while adjacent",
     {{bytes({0x97, 1, 3, 0x8E, 'C', 0x8E, 'Q', 0x90, 0x8D}, "DE", {0}),
       10100,
       {"typed " + std::to_string(ROW3) + " '     '>'CQ DE'"}},
      {bytes({0x97, 2, 3, 0x8F, 'W'}), 10200, {"typed " + std::to_string(ROW3 + 1) + " 'Q'>'W'"}},
      {bytes({0x97, 9, 3, 0x8E, 0x18, 0x8E, '\\', 0x8E, 1}),
       10300,
       {"typed " + std::to_string(ROW3 + 8) + " '   '>'↑\\█'"}}}},
    {"a character past the last column is drawn nowhere and told nowhere",
     {{bytes({0x97, 22, 3, 0x8E, 'X'}), 10100, {}}}},
    {"a page, a centred line, a row text, a scroll and the display test are one change each",
     {{bytes({0x8B, 1}, std::string(80, 'P')), 10100, {"screen screen changed"}},
      {bytes({0x99, 5}, "QRZ?", {0}), 10200, {"screen screen changed"}},
      {bytes({0x8C, 6}, std::string(21, 'L')), 10300, {"screen screen changed"}},
      {bytes({0x91, 0x8A, 7, 0x9F}), 10400, {"screen screen changed"}}}},
    {"a row blanked or the status line drawn is told quietly, the signal meter never",
     {{bytes({0x8A, 5}), 10100, {"quiet"}},
      {bytes({0x93, 7, 0x9E, 0x93, 8, 0xA0}), 10200, {"quiet"}}}},
    {"speeds are told at most once a second, the latest value",
     {{bytes({0x94, 18, 0x9E}), 10100, {"quiet", "say RX 18"}},
      {bytes({0x94, 20, 0x9E, 0x95, 22, 0x9E}), 10600, {"quiet", "say TX 22"}},
      {{}, 11000, {}},
      {{}, 11100, {"say RX 20"}},
      {bytes({0x94, 16, 0x9E, 0x94, 20, 0x9E}), 13000, {"quiet"}}}},
    {"flags are told as they turn on and off",
     {{bytes({0x96, 0x80, 0x9E}), 10100, {"say ESC", "quiet"}},
      {bytes({0x96, 0x80, 0x9E}), 10200, {"quiet"}},
      {bytes({0x96, 0x10, 0xB1, 0x40, 0x9E}), 10300, {"say d, W, ESC off", "quiet"}}}},
    {"a flash message is told once as it appears",
     {{bytes({0xA1}, "QRM!"), 10100, {"say QRM!", "quiet"}},
      {bytes({0xA1}, "QRM!"), 10200, {"quiet"}},
      {bytes({0xA1}, "WAIT"), 10300, {"say WAIT", "quiet"}},
      {bytes({0x9E, 0xA1}, "WAIT"), 10400, {"quiet", "say WAIT", "quiet"}}}},
    {"row 1 typed over becomes cells, and a full queue one whole-screen change",
     {{bytes({0x97, 3, 1, 0x8E, 'A', 0x97, 5, 1, 0x8E, 'B'}), 10100, {"quiet", "typed 4 '_'>'B'"}},
      {[] {
           Bytes all;
           for (int k = 0; k < 2 * SPEECH_QUEUE; k++)
               all.insert(all.end(), {0x97, 1 + k % 2 * 2, 4, 0x8E, 'a'});
           return all;
       }(),
       10200,
       {"screen screen changed"}}}},
};

TEST_F(ChangeReader, Table) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const Step &step : c.steps) {
            feed(step.in);
            EXPECT_EQ(take(step.atMs), step.heard);
        }
    }
}

TEST_F(ChangeReader, RowOneReadsAsWordsTheCellsAsTheModemWroteThem) {
    feed({0x93, 5, 0xA8, 1, 0x96, 0x80, 0x9E});
    feed(bytes({0x8C, 2}, std::string("a\x01\\~\x7F\xC8z") + std::string(14, ' ')));
    feed({0x97, 4, 2, 0x98, 1});
    take(10100);
    EXPECT_EQ(line(1), "RX 16, TX 20, signal 5, user 1, ESC");
    EXPECT_EQ(line(2), "a█\\~⌂ z              ");
    EXPECT_EQ(view.caret, view.lineChar[1] + 3);
    EXPECT_EQ(view.chars, 35 + 1 + 7 * 22 - 1);

    feed(bytes({0xA6, 1}, "CQ\x01"));
    feed(bytes({0xA6, 2}, "59 "));
    feed({0x96, 0, 0x9E});
    feed(bytes({0xA1}, "QRM!"));
    take(10200);
    EXPECT_EQ(line(1), "CQ, 59, signal 5, user 1, QRM!");

    feed({0x89, 0x97, 1, 1});
    take(10300);
    EXPECT_EQ(line(1), std::string(21, ' '));
    EXPECT_EQ(view.caret, 0);
}

TEST_F(ChangeReader, TheLinkStateIsTold) {
    change_reader_link(LINK_LOST);
    change_reader_link(LINK_OPEN);
    EXPECT_EQ(take(10100), (std::vector<std::string>{"say Q72 Link Lost", "say Q72 Linked"}));
}
