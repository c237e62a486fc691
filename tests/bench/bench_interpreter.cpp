// Interpreter throughput, natively: bytes per second through rx_CallBack for
// the recorded sample sessions and for the worst case of one repaint request
// every two bytes; each again with the screen readers' change reader attached
// and taken from as a window would, once per frame's worth of bytes.
#include "app/change_reader.h"
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

// Bytes between two takes of the change reader: a window takes once per
// frame, and at 60 frames a second this is a link running 128 times faster
// than 19200 baud, where capacity is measured.
enum { BYTES_PER_TAKE = 4096 };

static void play(benchmark::State &state, const std::string &bytes, bool reader) {
    lcd_reset();
    status_reset();
    rx_reset();
    change_reader_reset();
    rx_set_host({nullptr, nullptr, nullptr, reader ? change_reader_note : nullptr});
    static Speech heard[SPEECH_MAX];
    static TextView view;
    int64_t clock = 0;
    for (auto _ : state) {
        size_t k = 0;
        for (unsigned char c : bytes) {
            rx_CallBack(0, c);
            if (reader && ++k % BYTES_PER_TAKE == 0)
                benchmark::DoNotOptimize(change_reader_take(heard, view, clock += 16));
        }
    }
    rx_set_host({});
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

static void BM_RecordedSessions(benchmark::State &state) {
    play(state, recordedSessions(), false);
}
static void BM_WorstCase(benchmark::State &state) {
    play(state, worstCase(), false);
}
static void BM_RecordedSessionsWithReader(benchmark::State &state) {
    play(state, recordedSessions(), true);
}
static void BM_WorstCaseWithReader(benchmark::State &state) {
    play(state, worstCase(), true);
}

BENCHMARK(BM_RecordedSessions);
BENCHMARK(BM_WorstCase);
BENCHMARK(BM_RecordedSessionsWithReader);
BENCHMARK(BM_WorstCaseWithReader);
BENCHMARK_MAIN();
