// What screen readers are told: a stream in, the events of the next take out.
// Each case starts from a cleared screen whose status line has been drawn
// once (RX 16, TX 20), at 10 s on the reader's clock.
#include "app/change_reader.h"
#include "test_lcd.h"

struct Step {
    Bytes in;
    int64_t atMs; // the take's clock
    // "typed OFFSET 'OLD'>'NEW'", "screen ROW|ROW", "quiet", "say WORDS", "alert WORDS"
    std::vector<std::string> heard;
};

struct Case {
    const char *name;
    std::vector<Step> steps;
};

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
    std::string heard(const Speech &s) {
        std::string screen = view.screen;
        for (char &c : screen)
            c = c == '\n' ? '|' : c;
        switch (s.kind) {
        case SPEECH_TYPED:
            return "typed " + std::to_string(s.offset) + " '" + s.removed + "'>'" + s.text + "'";
        case SPEECH_SCREEN: return "screen " + screen;
        case SPEECH_QUIET: return "quiet";
        case SPEECH_ANNOUNCE: return std::string(s.alert ? "alert " : "say ") + s.text;
        }
        return "?";
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

// Row 1 is always 48 characters (the status line's words padded), rows 2-8
// are 21; each but the last has its '\n'.
enum { ROW2 = 49, ROW3 = ROW2 + 22, ROW4 = ROW3 + 22, ROW6 = ROW4 + 44 };

static std::string typed(int offset, const std::string &was, const std::string &now) {
    return "typed " + std::to_string(offset) + " '" + was + "'>'" + now + "'";
}

static Bytes chars(const std::string &text) {
    Bytes all;
    for (unsigned char c : text)
        all.insert(all.end(), {0x8E, c});
    return all;
}

static Bytes at(int x, int y, const std::string &text) {
    Bytes all = {0x97, x, y};
    Bytes more = chars(text);
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

static const Case cases[] = {
    {"characters at the cursor are told a word at a time, with its space, or after a pause",
     {{bytes({0x97, 1, 3, 0x8E, 'C', 0x8E, 'Q', 0x90, 0x8D}, "DE", {0}),
       10100,
       {typed(ROW3, "   ", "CQ ")}},
      {{}, 11000, {}},
      {{}, 11100, {typed(ROW3 + 3, "  ", "DE")}},
      {bytes({0x97, 2, 3, 0x8F, 'W'}), 11200, {}},
      {bytes({0x97, 9, 3, 0x8E, 0x18, 0x8E, '\\', 0x8E, 1}), 11300, {}},
      {{}, 12300, {typed(ROW3 + 1, "Q", "W"), typed(ROW3 + 8, "   ", "↑\\█")}}}},
    {"a word of digits waits for the next word, or for the pause",
     {{at(1, 4, "579 599 "), 10100, {}},
      {at(9, 4, "NAME "), 10200, {typed(ROW4, std::string(13, ' '), "579 599 NAME ")}},
      {at(14, 4, "73"), 10300, {}},
      {at(16, 4, " "), 10400, {}},
      {{}, 11400, {typed(ROW4 + 13, "   ", "73 ")}}}},
    {"a run that fills its row is told with the next character; one past the row, never",
     {{at(20, 3, "QR"), 10100, {}},
      {at(1, 4, "Z "), 10200, {typed(ROW3 + 19, "  ", "QR"), typed(ROW4, "  ", "Z ")}},
      {bytes({0x97, 22, 3, 0x8E, 'X'}), 11300, {}}}},
    {"the received text and the echo of keys are held apart, told in the order they began",
     {{at(1, 3, "Q9"), 10100, {}},
      {at(1, 6, "ab"), 10200, {}},
      {at(3, 3, "ZX "), 10300, {typed(ROW3, "     ", "Q9ZX ")}},
      {{}, 11300, {typed(ROW6, "  ", "ab")}}}},
    {"a new screen is told by the rows it brought, top to bottom, once it has settled",
     {{bytes({0x8B, 1}, "PAGE ONE, ROW 1 ....PAGE ONE, ROW 2 ....PAGE ONE, "), 10100, {}},
      {bytes({}, "ROW 3 ....PAGE ONE, ROW 4 ...."), 10150, {}},
      {{},
       10350,
       {"screen PAGE ONE, ROW 1 ....|PAGE ONE, ROW 2 ....|PAGE ONE, ROW 3 ....|PAGE ONE, ROW 4 "
        "...."}},
      {bytes({0x99, 5}, "QRZ?", {0}), 10400, {}},
      {{}, 10600, {"screen QRZ?"}},
      {bytes({0x89, 0xA2, 2}, "MENU" + std::string(17, '\0')), 10700, {}},
      {bytes({0xA2, 3}, "1 SEND" + std::string(15, '\0')), 10800, {}},
      {{}, 11000, {"screen MENU|1 SEND"}},
      {bytes({0x9F}), 11100, {}},
      {{}, 11300, {"screen 1                  2|Display Test|A B C D|3                  4"}}}},
    {"a scroll, rows drawn again as they were and a row blanked bring nothing new",
     {{bytes({0x8C, 2}, "CQ CQ DE Q9ZX        "), 10100, {}},
      {{}, 10300, {"screen CQ CQ DE Q9ZX"}},
      {bytes({0x9D}), 10400, {"quiet"}},
      {bytes({0x8C, 3}, "CQ CQ DE Q9ZX        "), 10500, {"quiet"}},
      {bytes({0x8A, 3}), 10600, {"quiet"}},
      {{}, 10800, {}}}},
    {"what was held is told before a new screen moves it",
     {{at(1, 4, "K"), 10100, {}}, {bytes({0x9C}), 10200, {typed(ROW4, " ", "K"), "quiet"}}}},
    {"the status line drawn is told quietly, the signal meter never",
     {{bytes({0x93, 7, 0x9E, 0x93, 8, 0xA0}), 10100, {"quiet"}}}},
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
    {"a flash message is an alert, once as it appears",
     {{bytes({0xA1}, "QRM!"), 10100, {"alert QRM!", "quiet"}},
      {bytes({0xA1}, "QRM!"), 10200, {"quiet"}},
      {bytes({0xA1}, "WAIT"), 10300, {"alert WAIT", "quiet"}},
      {bytes({0x9E, 0xA1}, "WAIT"), 10400, {"quiet", "alert WAIT", "quiet"}}}},
    {"row 1 typed over becomes cells, and a full queue one new screen",
     {{at(3, 1, "A"), 10100, {}},
      {{}, 11100, {typed(2, "1", "A")}},
      {[] {
           Bytes all;
           for (int k = 0; k < 2 * SPEECH_QUEUE; k++) {
               Bytes one = at(1 + k % 2 * 3, 4, "a ");
               all.insert(all.end(), one.begin(), one.end());
           }
           return all;
       }(),
       11200,
       {}},
      {{}, 11400, {"screen RXA6_          _TX20|a  a"}}}},
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

// The caret moves only with the cursor: while characters are held it stays
// where the text told ends, and row 1 changing never moves it.
TEST_F(ChangeReader, TheCaretStaysWhereTheToldTextEnds) {
    feed(at(1, 3, "CQ "));
    take(10100);
    EXPECT_EQ(view.caret, ROW3 + 3);
    feed(at(4, 3, "DE"));
    take(10200);
    EXPECT_EQ(view.caret, ROW3 + 3);
    feed({0x93, 9, 0xA0, 0x93, 10, 0xA0, 0xA1, 'Q', 'R', 'M', '!'});
    take(10300);
    EXPECT_EQ(view.caret, ROW3 + 3);
    EXPECT_EQ(view.lineChar[1], ROW2);
    take(11300);
    EXPECT_EQ(view.caret, ROW3 + 5);
}

TEST_F(ChangeReader, RowOneReadsAsWordsTheCellsAsTheModemWroteThem) {
    feed({0x93, 5, 0xA8, 1, 0x96, 0x80, 0x9E});
    feed(bytes({0x8C, 2}, std::string("a\x01\\~\x7F\xC8z") + std::string(14, ' ')));
    feed({0x97, 4, 2, 0x98, 1});
    take(10100);
    EXPECT_EQ(line(1), "RX 16, TX 20, signal 5, user 1, ESC" + std::string(13, ' '));
    EXPECT_EQ(line(2), "a█\\~⌂ z              ");
    EXPECT_EQ(view.caret, view.lineChar[1] + 3);
    EXPECT_EQ(view.chars, 48 + 1 + 7 * 22 - 1);

    feed(bytes({0xA6, 1}, "CQ\x01"));
    feed(bytes({0xA6, 2}, "59 "));
    feed({0x96, 0, 0x9E});
    feed(bytes({0xA1}, "QRM!"));
    take(10200);
    EXPECT_EQ(line(1), "CQ, 59, signal 5, user 1, QRM!" + std::string(18, ' '));

    feed({0x89, 0x97, 1, 1});
    take(10300);
    EXPECT_EQ(line(1), std::string(48, ' '));
    EXPECT_EQ(view.caret, 0);
}

TEST_F(ChangeReader, TheLinkStateIsTold) {
    change_reader_link(LINK_LOST);
    change_reader_link(LINK_OPEN);
    EXPECT_EQ(take(10100), (std::vector<std::string>{"alert Q72 Link Lost", "alert Q72 Linked"}));
}
