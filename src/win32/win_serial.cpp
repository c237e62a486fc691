// The COM port: opening and configuring it, overlapped transfers, the receive
// thread and the link's open and close sequences.
#include "win32/win_serial.h"
#include "link/rx_stream.h"
#include "win32/win_ports.h"
#include "win32/win_record.h"

#include <cstring>

HANDLE hComm;
DCB dcb;
COMMTIMEOUTS comTimeOut;
std::atomic<int> runRxThread;
HANDLE hRxThread;
std::atomic<int> gQ72open;
std::atomic<int> gLinkState;
char portStr[16];

enum : DWORD {
    READ_TIMEOUT_MS = 250,  // an idle receive thread checks runRxThread this often
    WRITE_TIMEOUT_MS = 400, // the driver ends a write it cannot finish after this
    WRITE_WAIT_MS = 450,    // then the write is cancelled ...
    CANCEL_WAIT_MS = 50,    // ... and given up on: a key holds the window thread 0.5 s at most
    SETTLE_MS = 400,        // the port settles before what arrived so far is dropped
    FAILURE_PAUSE_MS = 100, // after a read that was cancelled or aborted
    CANCEL_RETRY_MS = 20,   // while stopping the receive thread
    REOPEN_MS = 1000,       // between attempts to reopen a port whose device has gone
};

// True from the start of the receive thread until it no longer uses the port.
static std::atomic<bool> rxRunning;

// Receive buffer: a read takes what the driver already holds, up to its size.
static uint8_t rbuf[256];

// Guards hComm while the receive thread swaps it (device gone, device back)
// against the window thread's key writes and cancels.
static SRWLOCK portLock = SRWLOCK_INIT;

// Set to stop the receive thread: ends its waits between reopen attempts and
// while a reopened port settles. Lives as long as the program.
static HANDLE stopEvent() {
    static HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    return event;
}

// Waits `ms`; false when the link is being stopped meanwhile.
static bool waitUnlessStopped(DWORD ms) {
    HANDLE stop = stopEvent();
    if (!stop)
        Sleep(ms);
    else if (WaitForSingleObject(stop, ms) != WAIT_TIMEOUT)
        return false;
    return runRxThread != 0;
}

static bool portOpen(HANDLE port) {
    return port != NULL && port != INVALID_HANDLE_VALUE;
}

static HWND notifyWindow;
static UINT notifyMessage;

void link_notify_to(HWND window, UINT message) {
    notifyWindow = window;
    notifyMessage = message;
}

static void setLinkState(LinkState state) {
    if (gLinkState.exchange(state) != state && notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
}

static int configurePort(HANDLE port) {
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) return LINK_GET_STATE_FAIL;
    dcb.BaudRate = CBR_19200;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = NOPARITY;
    dcb.ByteSize = 8;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE; // null bytes are display data
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(port, &dcb)) return LINK_SET_STATE_FAIL;

    // A read ends once it has its bytes, or after READ_TIMEOUT_MS with none;
    // a write ends after WRITE_TIMEOUT_MS even when the driver holds it back.
    // Without these the receive thread could not be stopped.
    comTimeOut = {};
    comTimeOut.ReadTotalTimeoutConstant = READ_TIMEOUT_MS;
    comTimeOut.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
    if (!SetCommTimeouts(port, &comTimeOut)) return LINK_SET_STATE_FAIL;

    waitUnlessStopped(SETTLE_MS);
    if (!PurgeComm(port, PURGE_RXCLEAR)) return LINK_PURGE_FAIL;
    return LINK_OK;
}

void port_name(char name[16], int n) {
    // Ports from 10 up exist only under their device path.
    wsprintfA(name, n < 10 ? "COM%d" : "\\\\.\\COM%d", n);
}

// Opens and configures port `comPort` into `port`; on failure nothing stays
// open (a port left open would make every later attempt fail).
static int openPort(uint8_t comPort, HANDLE &port) {
    port_name(portStr, comPort);
    port = CreateFileA(portStr, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
    if (port == INVALID_HANDLE_VALUE) return LINK_OPEN_FAIL;
    int result = configurePort(port);
    if (result != LINK_OK) {
        CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
    }
    return result;
}

int openComm(uint8_t comPort) {
    return openPort(comPort, hComm);
}

// One overlapped read on hComm with an event of its own, waited for until it
// ends: by its bytes, the read time-out, or a cancel. Returns ERROR_SUCCESS
// or the error; `done` counts the bytes read either way.
static DWORD readTransfer(void *buf, DWORD count, DWORD &done) {
    done = 0;
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!ov.hEvent) return GetLastError();
    DWORD error = ReadFile(hComm, buf, count, NULL, &ov) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) error = ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && !GetOverlappedResult(hComm, &ov, &done, TRUE))
        error = GetLastError();
    CloseHandle(ov.hEvent);
    return error;
}

// Bytes in the driver's receive queue; 0 when it cannot tell.
static DWORD bytesWaiting() {
    DWORD errors = 0;
    COMSTAT status = {};
    return ClearCommError(hComm, &errors, &status) ? status.cbInQue : 0;
}

// Asks only for bytes that are already there, so the read returns at once, or
// for one byte when there are none. (A read of more than is there would wait
// for the rest, or for the whole time-out under Wine, which ignores an
// interval time-out of MAXDWORD.)
int readAvailable(void *lpBuf, DWORD dwMax) {
    if (dwMax == 0) return 0;
    DWORD waiting = bytesWaiting();
    DWORD count = waiting == 0 ? 1 : waiting < dwMax ? waiting : dwMax;
    DWORD done = 0;
    DWORD error = readTransfer(lpBuf, count, done);
    SetLastError(error);
    // Wine reports the time-out as ERROR_TIMEOUT, Windows as success with no byte.
    if (done > 0 || error == ERROR_SUCCESS || error == ERROR_TIMEOUT) return int(done);
    return -1;
}

// The key write in flight. A driver may keep a write, even a cancelled one,
// past any limit; its record and bytes stay the driver's until it ends, so
// they live here rather than on the stack, and a new write waits its turn.
static struct {
    OVERLAPPED ov;
    uint8_t bytes[16];
    bool pending; // given up on while the driver still held it
} tx;

static bool txEnded() {
    if (tx.pending && WaitForSingleObject(tx.ov.hEvent, 0) == WAIT_OBJECT_0) tx.pending = false;
    return !tx.pending;
}

// Also sets the last error: ERROR_TIMEOUT when the write ended short or was
// given up on, ERROR_BUSY while an earlier one is still held by the driver.
int writeABuffer(const void *lpBuf, DWORD dwToWrite) {
    if (dwToWrite > sizeof tx.bytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!txEnded()) {
        SetLastError(ERROR_BUSY);
        return 0;
    }
    HANDLE event = tx.ov.hEvent ? tx.ov.hEvent : CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!event) return 0;
    tx.ov = {};
    tx.ov.hEvent = event;
    std::memcpy(tx.bytes, lpBuf, dwToWrite);
    DWORD error =
        WriteFile(hComm, tx.bytes, dwToWrite, NULL, &tx.ov) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) {
        error = ERROR_SUCCESS;
        if (WaitForSingleObject(event, WRITE_WAIT_MS) != WAIT_OBJECT_0) {
            CancelIoEx(hComm, &tx.ov);
            if (WaitForSingleObject(event, CANCEL_WAIT_MS) != WAIT_OBJECT_0) {
                tx.pending = true;
                SetLastError(ERROR_TIMEOUT);
                return 0;
            }
        }
    }
    DWORD done = 0;
    if (error == ERROR_SUCCESS && !GetOverlappedResult(hComm, &tx.ov, &done, FALSE))
        error = GetLastError();
    if (error == ERROR_SUCCESS && done != dwToWrite) error = ERROR_TIMEOUT;
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

// The port the link is on, and whether a driver has listed it as present
// since it was opened: only then does its leaving the list mean it is gone.
static uint8_t linkPort;
static bool linkRegistered;

// The device the link was first opened on (its instance ID, empty for a port
// no installed device names), known once it has been opened. Two adapters
// swapped in one socket can give the modem's number to, say, a radio's PTT
// interface, which opening would key (DTR, RTS): only this device is reopened.
static char linkDevice[PORT_DEVICE_MAX];
static bool linkDeviceKnown;

// Opens the link's port into `port` unless another device now holds its
// number; then it fails as a port that is not there.
static int openLinkPort(HANDLE &port) {
    char device[PORT_DEVICE_MAX];
    port_device(linkPort, device);
    if (linkDeviceKnown && std::strcmp(device, linkDevice) != 0) return LINK_OPEN_FAIL;
    int result = openPort(linkPort, port);
    if (result == LINK_OK && !linkDeviceKnown) {
        std::strcpy(linkDevice, device);
        linkDeviceKnown = true;
    }
    return result;
}

// Checked whenever a read ends with no byte or is aborted: some drivers
// never fail a pending read when their device goes, but then the port can no
// longer report its state, or the driver takes it off the list of present
// ports.
static bool deviceThere() {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(hComm, &errors, &status)) return false;
    bool registered = port_registered(linkPort);
    if (registered) linkRegistered = true;
    return registered || !linkRegistered;
}

static void swapPort(HANDLE port) {
    AcquireSRWLockExclusive(&portLock);
    if (portOpen(hComm)) CloseHandle(hComm);
    hComm = port;
    ReleaseSRWLockExclusive(&portLock);
}

// The device has gone: the port is closed, and the link waits to reopen it.
static void loseDevice() {
    swapPort(NULL);
    setLinkState(LINK_LOST);
}

// Some ports (a Bluetooth link whose far end is off) hold an open for
// seconds; the window thread cancels it when the link is stopped, and only
// it, never another synchronous transfer of the thread's (a record write).
static SRWLOCK openingLock = SRWLOCK_INIT;
static bool rxOpening;

static void setOpening(bool opening) {
    AcquireSRWLockExclusive(&openingLock);
    rxOpening = opening;
    ReleaseSRWLockExclusive(&openingLock);
}

static void cancelOpening() {
    AcquireSRWLockShared(&openingLock);
    if (rxOpening) CancelSynchronousIo(hRxThread);
    ReleaseSRWLockShared(&openingLock);
}

// One attempt, after `pause` ms, to open the port with the same settings,
// settling and purge as the first open. A failure leaves the link lost.
static void reopenPort(DWORD pause) {
    if (!waitUnlessStopped(pause)) return;
    HANDLE port;
    setOpening(true);
    int result = openLinkPort(port);
    setOpening(false);
    if (result != LINK_OK) {
        setLinkState(LINK_LOST);
        return;
    }
    if (!runRxThread) {
        CloseHandle(port);
        return;
    }
    linkRegistered = port_registered(linkPort);
    swapPort(port);
    setLinkState(LINK_OPEN);
}

// Read errors that are a cancel (995; 676 under Wine when the handle is
// closed): the link is being stopped, or the driver aborted a read after a
// line error, which the next ClearCommError clears. Some drivers also abort
// every read once their device has gone, so the device is looked for then.
static bool cancelled(DWORD error) {
    return error == ERROR_OPERATION_ABORTED || error == 676;
}

// Bytes read together are recorded, then interpreted one by one, in order,
// and shown together by one repaint after the last of them. Any other read
// failure (Wine answers every read with 109 once the device has gone) means
// the device is gone. A port not yet open at the start is tried at once.
DWORD WINAPI rxThread(LPVOID) {
    DWORD pause = portOpen(hComm) ? DWORD(REOPEN_MS) : 0;
    while (runRxThread) {
        if (!portOpen(hComm)) {
            reopenPort(pause);
            pause = REOPEN_MS;
            continue;
        }
        int got = readAvailable(rbuf, sizeof rbuf);
        if (got > 0) {
            record_bytes(rbuf, (size_t)got);
            rx_feed(rbuf, (size_t)got);
        } else if (got < 0 && cancelled(GetLastError())) {
            // A pause, so that a driver that keeps aborting makes no busy loop.
            if (waitUnlessStopped(FAILURE_PAUSE_MS) && !deviceThere()) loseDevice();
        } else if (runRxThread && (got < 0 || !deviceThere())) {
            loseDevice();
        }
    }
    rxRunning = false;
    return 0;
}

void q72_tx(uint8_t ch) {
    uint8_t txBuf[1] = {ch};
    AcquireSRWLockShared(&portLock);
    if (portOpen(hComm)) writeABuffer(txBuf, 1);
    ReleaseSRWLockShared(&portLock);
}

// Ends the receive thread: clears the flag, cancels its pending read or the
// open it is making, and waits until it has ended. The thread may be inside
// its repaint request, which waits for this (the window) thread to paint, so
// sent messages are served while waiting. The cancel is repeated because a
// read started just after the flag was cleared would otherwise run to its
// time-out. The thread says itself when it is done with the port, so even a
// failing wait never lets the port close under it.
static void stopRxThread() {
    runRxThread = 0;
    if (stopEvent()) SetEvent(stopEvent());
    if (!hRxThread) return;
    while (rxRunning) {
        AcquireSRWLockShared(&portLock);
        if (portOpen(hComm)) CancelIoEx(hComm, NULL); // the read ends with 995 (676 under Wine)
        ReleaseSRWLockShared(&portLock);
        cancelOpening();
        DWORD woken =
            MsgWaitForMultipleObjects(1, &hRxThread, FALSE, CANCEL_RETRY_MS, QS_SENDMESSAGE);
        if (woken == WAIT_FAILED) Sleep(CANCEL_RETRY_MS);
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    WaitForSingleObject(hRxThread, INFINITE); // it has left the loop; this is its return
    CloseHandle(hRxThread);
    hRxThread = NULL;
}

// A new link on port `comPort`, on whichever device has it now.
static void beginLink(uint8_t comPort) {
    if (stopEvent()) ResetEvent(stopEvent());
    linkPort = comPort;
    linkDeviceKnown = false;
}

// Starts the receive thread on hComm, open or not (then the thread opens the
// port). The link is published as open first: the thread may lose the port
// at once, and its state must not be overwritten after that. A port that is
// still to be opened counts as open until the thread's first attempt fails.
static int startRxThread() {
    linkRegistered = port_registered(linkPort);
    gQ72open = 1;
    setLinkState(LINK_OPEN);
    // Set before the thread starts, so that a close right after the open
    // cannot be undone by the thread.
    runRxThread = 1;
    rxRunning = true;
    hRxThread = CreateThread(NULL, 0, rxThread, NULL, 0, NULL);
    if (!hRxThread) {
        runRxThread = 0;
        rxRunning = false;
        swapPort(NULL);
        gQ72open = 0;
        setLinkState(LINK_CLOSED);
        return LINK_THREAD_FAIL;
    }
    return LINK_OK;
}

int openLink(uint8_t comPort) {
    beginLink(comPort);
    int result = openLinkPort(hComm);
    return result == LINK_OK ? startRxThread() : result;
}

void openLinkRetrying(uint8_t comPort) {
    beginLink(comPort);
    startRxThread();
}

void closeLink() {
    stopRxThread();
    swapPort(NULL);
    gQ72open = 0;
    setLinkState(LINK_CLOSED);
}
