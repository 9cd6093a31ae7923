// SerialPort's device side on Win32 overlapped I/O. Method order mirrors
// serial_port_posix.cpp.
#include <windows.h>

#include <new>

#include "net/network_line.h"
#include "varek/serial_port.h"

namespace {

BYTE ToDcbParity(Parity parity) {
    switch (parity) {
    case Parity::None: return NOPARITY;
    case Parity::Odd: return ODDPARITY;
    case Parity::Even: return EVENPARITY;
    case Parity::Mark: return MARKPARITY;
    case Parity::Space: return SPACEPARITY;
    }
    return NOPARITY;
}

BYTE ToDcbStopBits(StopBits stop_bits) {
    switch (stop_bits) {
    case StopBits::One: return ONESTOPBIT;
    case StopBits::OnePointFive: return ONE5STOPBITS;
    case StopBits::Two: return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

// MAXDWORD interval with zero totals makes ReadFile complete at once with
// whatever has arrived, like a non-blocking socket read; writes get no
// driver time-out and are bounded by Write's own wait.
COMMTIMEOUTS ReturnAtOnceTimeouts(DWORD write_total_ms) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = write_total_ms;
    return timeouts;
}

// How much longer than the driver's own read time-out a read waits for it.
constexpr std::int32_t kDriverGraceMs = 200;

DWORD ToWaitMs(std::int32_t timeout_ms) { return timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms); }

// Issues one overlapped request and waits for it. On time-out the request is
// cancelled and waited for, so it no longer owns the caller's buffer or the
// OVERLAPPED record once we return; the count it had moved is the result.
// `issue(transferred, request)` is the ReadFile or WriteFile call.
template <typename Issue>
std::int32_t TransferOverlapped(HANDLE handle, OVERLAPPED& request, std::int32_t timeout_ms,
                                bool eof_returns_count, Issue issue) {
    ResetEvent(request.hEvent);
    request.Offset = 0;
    request.OffsetHigh = 0;
    DWORD transferred = 0;
    if (issue(transferred, request)) return static_cast<std::int32_t>(transferred);
    if (GetLastError() != ERROR_IO_PENDING) return -1;

    const DWORD wait = WaitForSingleObject(request.hEvent, ToWaitMs(timeout_ms));
    if (wait == WAIT_TIMEOUT) {
        CancelIo(handle);
        GetOverlappedResult(handle, &request, &transferred, TRUE);
        return static_cast<std::int32_t>(transferred);
    }
    if (wait != WAIT_OBJECT_0) return -1;
    if (GetOverlappedResult(handle, &request, &transferred, FALSE)) {
        return static_cast<std::int32_t>(transferred);
    }
    // A read that the driver's total time-out ended moved what it moved:
    // Windows says so with success, Wine with ERROR_TIMEOUT.
    const DWORD error = GetLastError();
    if (eof_returns_count && (error == ERROR_HANDLE_EOF || error == ERROR_IO_INCOMPLETE ||
                              error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT)) {
        return static_cast<std::int32_t>(transferred);
    }
    return -1;
}

VarekOpenFailure FailureOfCreateFile(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return VarekOpenFailure::NoSuchPort;
    // A COM port another program holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return VarekOpenFailure::Busy;
    default: return VarekOpenFailure::Other;
    }
}

// The OVERLAPPED record living in storage the public header reserves for it.
OVERLAPPED& Overlapped(unsigned char* storage) {
    return *std::launder(reinterpret_cast<OVERLAPPED*>(storage));
}

}  // namespace

SerialPort::SerialPort()
    : handle(INVALID_HANDLE_VALUE), read_overlapped{}, write_overlapped{}, network(nullptr) {
    static_assert(sizeof(OverlappedStorage) == sizeof(OVERLAPPED), "room for an OVERLAPPED");
    static_assert(alignof(OverlappedStorage) >= alignof(OVERLAPPED), "aligned as an OVERLAPPED");
    new (read_overlapped.bytes) OVERLAPPED{};
    new (write_overlapped.bytes) OVERLAPPED{};
}

bool SerialPort::OpenDevice(const PortNameChar* port_name, std::int32_t baud, std::int32_t data_bits,
                            StopBits stop_bits, Parity parity, VarekOpenError& error) {
    // Records the failing call's own error and releases what is held.
    auto fail = [&](VarekOpenFailure failure) {
        error = {failure, static_cast<std::int32_t>(GetLastError())};
        CloseDevice();
        return false;
    };
    if (!CreateOverlappedEvents()) return fail(VarekOpenFailure::Other);

    // Share mode 0: no second opener, in this process or another, until Close.
    handle = CreateFileW(port_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return fail(FailureOfCreateFile(GetLastError()));

    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &dcb)) return fail(VarekOpenFailure::NotASerialDevice);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = static_cast<BYTE>(data_bits & 0xFF);
    dcb.Parity = ToDcbParity(parity);
    dcb.StopBits = ToDcbStopBits(stop_bits);
    // Binary, no flow control of either kind, DTR and RTS raised and left
    // up. fParity follows whether any parity was asked for, even a value that
    // maps to NOPARITY. The rest (fDsrSensitivity, fTXContinueOnXoff,
    // fErrorChar, fNull, fAbortOnError) keeps what the driver reported.
    dcb.fBinary = TRUE;
    dcb.fParity = parity != Parity::None ? TRUE : FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(handle, &dcb)) return fail(VarekOpenFailure::SettingsRefused);

    // Best effort: a port that took its line settings is usable even if a
    // driver refuses these two.
    PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    COMMTIMEOUTS timeouts = ReturnAtOnceTimeouts(0);
    SetCommTimeouts(handle, &timeouts);
    return true;
}

void SerialPort::CloseDevice() {
    if (handle != INVALID_HANDLE_VALUE) {
        CancelIo(handle);
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    DestroyOverlappedEvents();
}

bool SerialPort::IsOpen() const { return handle != INVALID_HANDLE_VALUE || network != nullptr; }

NativePortHandle SerialPort::GetHandle() const { return network != nullptr ? network->socket() : handle; }

bool SerialPort::SetDeviceTimeouts(const CommTimeouts& timeouts) {
    COMMTIMEOUTS copy = timeouts;
    return SetCommTimeouts(handle, &copy) != 0;
}

bool SerialPort::SetTimeout(std::int32_t /*unused*/, std::int32_t write_timeout_ms) {
    return SetTimeouts(ReturnAtOnceTimeouts(static_cast<DWORD>(write_timeout_ms)));
}

std::int32_t SerialPort::ReadDevice(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    if (Overlapped(read_overlapped.bytes).hEvent == nullptr && !CreateOverlappedEvents()) return -1;
    return TransferOverlapped(handle, Overlapped(read_overlapped.bytes), timeout_ms, true,
                              [&](DWORD& transferred, OVERLAPPED& request) {
                                  return ReadFile(handle, buffer, static_cast<DWORD>(count), &transferred,
                                                  &request);
                              });
}

std::int32_t SerialPort::ReadDeviceAll(std::uint8_t* buffer, std::int32_t count, std::int32_t timeout_ms) {
    // A total time-out alone makes the driver end the read once all `count`
    // bytes have come or the wait is over, in one completion. A constant of
    // 0 would mean no time-out at all, so a wait of 0 stays with Read.
    COMMTIMEOUTS host_timeouts{};
    if (timeout_ms == 0 || !GetCommTimeouts(handle, &host_timeouts))
        return ReadDevice(buffer, count, timeout_ms);
    COMMTIMEOUTS whole = host_timeouts;
    whole.ReadIntervalTimeout = 0;
    whole.ReadTotalTimeoutMultiplier = 0;
    whole.ReadTotalTimeoutConstant = timeout_ms < 0 ? 0 : static_cast<DWORD>(timeout_ms);
    if (!SetCommTimeouts(handle, &whole)) return ReadDevice(buffer, count, timeout_ms);
    // The driver's time-out ends the read; ours is only there should a
    // driver ignore its own, and cancelling might lose what it had read.
    const std::int32_t got =
        ReadDevice(buffer, count, timeout_ms < 0 ? timeout_ms : timeout_ms + kDriverGraceMs);
    SetCommTimeouts(handle, &host_timeouts);
    return got;
}

std::int32_t SerialPort::WriteDevice(const std::uint8_t* buffer, std::int32_t count,
                                     std::int32_t timeout_ms) {
    if (Overlapped(write_overlapped.bytes).hEvent == nullptr && !CreateOverlappedEvents()) return -1;
    return TransferOverlapped(handle, Overlapped(write_overlapped.bytes), timeout_ms, false,
                              [&](DWORD& transferred, OVERLAPPED& request) {
                                  return WriteFile(handle, buffer, static_cast<DWORD>(count), &transferred,
                                                   &request);
                              });
}

void SerialPort::DiscardDeviceInput() {
    // The transmit side is left alone: only stale input must not be taken for
    // the coming reply.
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

bool SerialPort::CreateOverlappedEvents() {
    DestroyOverlappedEvents();  // the pair is made whole, never beside a survivor
    // Manual reset, so the event stays signalled until the next request
    // resets it, whichever of the wait and GetOverlappedResult looks first.
    Overlapped(read_overlapped.bytes).hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (Overlapped(read_overlapped.bytes).hEvent == nullptr) return false;
    Overlapped(write_overlapped.bytes).hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (Overlapped(write_overlapped.bytes).hEvent == nullptr) {
        DestroyOverlappedEvents();
        return false;
    }
    return true;
}

void SerialPort::DestroyOverlappedEvents() {
    if (Overlapped(read_overlapped.bytes).hEvent != nullptr) {
        CloseHandle(Overlapped(read_overlapped.bytes).hEvent);
        Overlapped(read_overlapped.bytes).hEvent = nullptr;
    }
    if (Overlapped(write_overlapped.bytes).hEvent != nullptr) {
        CloseHandle(Overlapped(write_overlapped.bytes).hEvent);
        Overlapped(write_overlapped.bytes).hEvent = nullptr;
    }
}
