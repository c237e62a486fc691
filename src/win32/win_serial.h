// The serial link to the modem: the port, the receive thread and the key
// transmit. Everything here except rxThread runs on the window thread.
#pragma once
#include "link/link_status.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

extern HANDLE hComm; // the open port; NULL while closed, INVALID_HANDLE_VALUE after a failed open
extern DCB dcb;
extern COMMTIMEOUTS comTimeOut;
extern std::atomic<int> runRxThread; // the receive loop runs while nonzero
extern HANDLE hRxThread;             // the receive thread, NULL when there is none
extern std::atomic<int> gQ72open;    // 1 while the link is open, its device there or not
extern std::atomic<int> gLinkState;  // LinkState: closed, open, or open with the device gone
extern char portStr[16];             // name of the port last opened

// The name that opens COM port n: "COMn" below 10, "\\.\COMn" from 10 up.
void port_name(char name[16], int n);

// Opens port `comPort` at 19200 baud, 8N1, no flow control, for overlapped
// I/O, and drops what arrived before. Returns LINK_OK or a negative code; on
// failure no port stays open.
int openComm(uint8_t comPort);

// Reads the bytes already received, at most dwMax; when there are none, waits
// for the first to arrive or for the port's read time-out (250 ms). Returns
// the count (0 after the time-out), or -1 when the read failed (GetLastError
// tells why).
int readAvailable(void *lpBuf, DWORD dwMax);

// Overlapped write on hComm: returns 1 when all dwToWrite bytes were written,
// else 0. Gives up after about half a second.
int writeABuffer(const void *lpBuf, DWORD dwToWrite);

// Hands every received byte to the recording and the display stream
// interpreter until runRxThread is cleared. When the device goes away it
// closes the port and reopens it about once a second until it is back; a
// different device on the same port number is never opened.
DWORD WINAPI rxThread(LPVOID lpParameter);

// Sends one key code; a code that cannot be sent (or the device is gone) is dropped.
void q72_tx(uint8_t ch);

// Each change of gLinkState posts `message` to `window`.
void link_notify_to(HWND window, UINT message);

// Opens the port and starts the receive thread. Returns openComm's result,
// or LINK_THREAD_FAIL (the port is then closed again).
int openLink(uint8_t comPort);

// The same at start-up, without waiting for the port: the receive thread
// makes the first attempt at once. A port that cannot be opened leaves the
// link lost, and the thread tries it again about once a second.
void openLinkRetrying(uint8_t comPort);

// Stops the receive thread and its retries, waits for it to end, then closes the port.
void closeLink();
