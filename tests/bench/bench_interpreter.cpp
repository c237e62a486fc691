// Interpreter throughput, natively: bytes per second through rx_CallBack for
// the recorded sample sessions, for the worst case of one repaint request
// every two bytes and for received text scrolling up line by line; each again
// with the history attached and read as the transcript reads it, and with the
// screen readers' change reader (which feeds the history too) attached and
// taken from as a window would, once per frame's worth of bytes.
#include "app/change_reader.h"
#include "app/history.h"
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

static std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// All recorded sample streams, one after another.
static std::string recordedSessions() {
    std::string all;
    for (int k = 0; k <= 11; k++) {
        char name[32];
        std::snprintf(name, sizeof name, "/s%03d.bin", k);
        all += readFile(std::string(Q72_TEST_DATA) + name);
    }
    return all;
}

// Single characters (0x8E c) with a row text now and then: every command
// completes a visible change, so every other byte asks for a repaint.
static std::string worstCase() {
    std::string s;
    for (int k = 0; k < 4096; k++) {
        if (k % 64 == 63) {
            s += "\x8C";
            s += char(2 + k / 64 % 3);
            for (int c = 0; c < 21; c++)
                s += char('A' + (k + c) % 26);
        } else {
            s += "\x8E";
            s += char(0x20 + k % 0x5F);
        }
    }
    return s;
}

// Received text as the modem shows it: 20 characters typed on row 4, one by
// one, then rows 2-4 scrolled up, so that a line enters the history every
// 63 bytes.
static std::string scrolling() {
    std::string s;
    for (int line = 0; line < 1024; line++) {
        s += "\x97\x01\x04";
        for (int c = 0; c < 20; c++) {
            s += "\x8E";
            s += char(c % 5 == 4 ? ' ' : 'A' + (line + c) % 26);
        }
        s += "\x9C";
    }
    return s;
}

// Bytes between two takes of the change reader: a window takes once per
// frame, and at 60 frames a second this is a link running 128 times faster
// than 19200 baud, where capacity is measured.
enum { BYTES_PER_TAKE = 4096 };

enum Attached { NOTHING, HISTORY, READER };

// The lines that entered since the last take, formatted as transcript lines.
static void takeHistory(uint64_t &next) {
    static char entry[HISTORY_ENTRY_MAX];
    HistoryLine line;
    for (; history_line(next, line); next++)
        benchmark::DoNotOptimize(history_entry(line, "\n", entry, sizeof entry));
}

static void play(benchmark::State &state, const std::string &bytes, Attached attached) {
    lcd_reset();
    status_reset();
    rx_reset();
    change_reader_reset();
    history_reset();
    rx_set_host({nullptr, nullptr, nullptr,
                 attached == READER    ? change_reader_note
                 : attached == HISTORY ? history_note
                                       : nullptr});
    static Speech heard[SPEECH_MAX];
    static TextView view;
    int64_t clock = 0;
    uint64_t next = 0;
    for (auto _ : state) {
        size_t k = 0;
        for (unsigned char c : bytes) {
            rx_CallBack(0, c);
            if (attached == NOTHING || ++k % BYTES_PER_TAKE != 0) continue;
            if (attached == READER)
                benchmark::DoNotOptimize(change_reader_take(heard, view, clock += 16));
            takeHistory(next);
        }
    }
    rx_set_host({});
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

static void BM_RecordedSessions(benchmark::State &state) {
    play(state, recordedSessions(), NOTHING);
}
static void BM_RecordedSessionsWithHistory(benchmark::State &state) {
    play(state, recordedSessions(), HISTORY);
}
static void BM_RecordedSessionsWithReader(benchmark::State &state) {
    play(state, recordedSessions(), READER);
}
static void BM_WorstCase(benchmark::State &state) {
    play(state, worstCase(), NOTHING);
}
static void BM_WorstCaseWithHistory(benchmark::State &state) {
    play(state, worstCase(), HISTORY);
}
static void BM_WorstCaseWithReader(benchmark::State &state) {
    play(state, worstCase(), READER);
}
static void BM_Scrolling(benchmark::State &state) {
    play(state, scrolling(), NOTHING);
}
static void BM_ScrollingWithHistory(benchmark::State &state) {
    play(state, scrolling(), HISTORY);
}
static void BM_ScrollingWithReader(benchmark::State &state) {
    play(state, scrolling(), READER);
}

BENCHMARK(BM_RecordedSessions);
BENCHMARK(BM_RecordedSessionsWithHistory);
BENCHMARK(BM_RecordedSessionsWithReader);
BENCHMARK(BM_WorstCase);
BENCHMARK(BM_WorstCaseWithHistory);
BENCHMARK(BM_WorstCaseWithReader);
BENCHMARK(BM_Scrolling);
BENCHMARK(BM_ScrollingWithHistory);
BENCHMARK(BM_ScrollingWithReader);
BENCHMARK_MAIN();
