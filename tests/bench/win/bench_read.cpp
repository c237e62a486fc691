// q72bench_read.exe: how fast bytes can be read from the COM port, with the
// receive thread's reads of what is waiting, and with one-byte reads (the
// earlier form, kept here as the baseline).
//
//   q72bench_read.exe PORT waiting|one-byte COUNT
//
// Opens COM<PORT> as the program does, prints "ready", then reads COUNT bytes
// that must run 0, 1, .., 250, 0, 1, .. and prints "read bytes=N reads=N
// out_of_order=N ms=T rate=B" (bytes per second from the first byte to the
// last). Exit status 1 when a byte is missing or out of order.
#include "win32/win_serial.h"
#include "bench_clock.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

enum { PATTERN_PERIOD = 251 };

// One overlapped read of one byte, waiting for it or the port's time-out:
// 1 with a byte, 0 without, -1 on failure.
static int readOneByte(uint8_t *buf) {
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!ov.hEvent) return -1;
    DWORD done = 0;
    BOOL finished = ReadFile(hComm, buf, 1, NULL, &ov);
    DWORD error = finished ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) {
        WaitForSingleObject(ov.hEvent, INFINITE);
        error = ERROR_SUCCESS;
    }
    if (error == ERROR_SUCCESS && !GetOverlappedResult(hComm, &ov, &done, FALSE))
        error = GetLastError();
    CloseHandle(ov.hEvent);
    if (done == 1) return 1;
    return error == ERROR_SUCCESS || error == ERROR_TIMEOUT ? 0 : -1;
}

int main(int argc, char **argv) {
    if (argc != 4 || (std::strcmp(argv[2], "waiting") && std::strcmp(argv[2], "one-byte"))) {
        std::fprintf(stderr, "usage: q72bench_read PORT waiting|one-byte COUNT\n");
        return 2;
    }
    bool oneByte = std::strcmp(argv[2], "one-byte") == 0;
    long count = std::atol(argv[3]);
    if (openComm(uint8_t(std::atoi(argv[1]))) != LINK_OK) {
        std::fprintf(stderr, "q72bench_read: cannot open COM%s\n", argv[1]);
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    static uint8_t buf[256];
    long got = 0, reads = 0, outOfOrder = 0;
    double first = 0;
    while (got < count) {
        int n = oneByte ? readOneByte(buf) : readAvailable(buf, sizeof buf);
        reads++;
        if (n < 0) {
            std::fprintf(stderr, "q72bench_read: read failed, error %lu\n", GetLastError());
            return 1;
        }
        if (n > 0 && got == 0) first = nowMs();
        for (int k = 0; k < n; k++, got++)
            if (buf[k] != got % PATTERN_PERIOD) outOfOrder++;
    }
    double ms = nowMs() - first;
    std::printf("read bytes=%ld reads=%ld out_of_order=%ld ms=%.1f rate=%.0f\n", got, reads,
                outOfOrder, ms, got / ms * 1000.0);
    return outOfOrder == 0 ? 0 : 1;
}
