// Serial ports on Win32: the device control block, COMMTIMEOUTS per read, the modem status
// and the port's properties, as the serial driver provides them.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "platform/serial_drain.h"
#include "platform/win32/win32_handle.h"
#include "platform/win32/win32_serial.h"

namespace vx {
namespace {

class Win32SerialDevice final : public SerialDevice {
public:
    explicit Win32SerialDevice(UniqueFileHandle handle) : handle_(std::move(handle)) {}

    bool get_comm_state(CommState& state) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(h(), &dcb)) {
            return false;
        }
        dcb_ = dcb;
        have_dcb_ = true;
        state.baud = dcb.BaudRate;
        state.byte_size = dcb.ByteSize;
        state.parity = dcb.Parity;
        state.stop_bits = dcb.StopBits;
        state.parity_check = dcb.fParity != 0;
        state.dsr_sensitivity = dcb.fDsrSensitivity != 0;
        state.evt_char = dcb.EvtChar;
        return true;
    }

    // Only the fields of CommState change; every other field keeps what the driver reported.
    bool set_comm_state(const CommState& state) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (have_dcb_) {
            dcb = dcb_;
        } else if (!GetCommState(h(), &dcb)) {
            return false;
        }
        dcb.BaudRate = state.baud;
        dcb.ByteSize = state.byte_size;
        dcb.Parity = state.parity;
        dcb.StopBits = state.stop_bits;
        dcb.fParity = state.parity_check ? TRUE : FALSE;
        dcb.fDsrSensitivity = state.dsr_sensitivity ? TRUE : FALSE;
        dcb.EvtChar = state.evt_char;
        if (!SetCommState(h(), &dcb)) {
            return false;
        }
        dcb_ = dcb;
        have_dcb_ = true;
        return set_write_timeouts(dcb);
    }

    // Every write ends within the bytes' time on the line plus a margin, whatever the flow
    // control does: the driver's write time-outs, from the line as it is now.
    bool set_write_timeouts(const DCB& dcb) {
        COMMTIMEOUTS ct{};
        if (!GetCommTimeouts(h(), &ct)) {
            return false;
        }
        const uint32_t bits =
            frame_bits(dcb.ByteSize, dcb.Parity != NOPARITY, dcb.StopBits != ONESTOPBIT);
        ct.WriteTotalTimeoutMultiplier =
            std::max<DWORD>(1, static_cast<DWORD>(line_ms(1, dcb.BaudRate, bits)));
        ct.WriteTotalTimeoutConstant = WRITE_MARGIN_MS;
        return SetCommTimeouts(h(), &ct) != 0;
    }

    bool set_read_timeouts(const ReadTimeouts& t) override {
        COMMTIMEOUTS ct{};
        if (!GetCommTimeouts(h(), &ct)) {
            return false;
        }
        ct.ReadIntervalTimeout = t.interval;
        ct.ReadTotalTimeoutMultiplier = t.multiplier;
        ct.ReadTotalTimeoutConstant = t.constant;
        return SetCommTimeouts(h(), &ct) != 0;
    }

    bool modem_status(uint32_t& status) override {
        DWORD s = 0;
        if (!GetCommModemStatus(h(), &s)) {
            return false;
        }
        status = s;
        return true;
    }

    bool clear_error() override {
        DWORD errors = 0;
        COMSTAT stat{};
        return ClearCommError(h(), &errors, &stat) != 0;
    }

    bool set_modem_line(ModemLine line, bool on) override {
        const DWORD function =
            line == ModemLine::rts ? (on ? SETRTS : CLRRTS) : (on ? SETDTR : CLRDTR);
        return EscapeCommFunction(h(), function) != 0;
    }

    // Only pending input is discarded. (A transmit purge drops bytes still in the driver's
    // buffer on USB adapters, and on Wine drops what the far end has not read yet.) Bytes
    // still queued are waited for first; FlushFileBuffers cannot be bounded, so the queue
    // that ClearCommError reports is polled instead.
    bool purge() override {
        DCB dcb = dcb_;
        dcb.DCBlength = sizeof dcb;
        if (!have_dcb_ && !GetCommState(h(), &dcb)) {
            dcb.BaudRate = 0;  // the fallback speed
            dcb.ByteSize = 8;
        }
        const HANDLE handle = h();
        last_drain_ = wait_for_drain(
            [handle](uint32_t& n) {
                DWORD errors = 0;
                COMSTAT stat{};
                if (!ClearCommError(handle, &errors, &stat))
                    return false;
                n = stat.cbOutQue;
                return true;
            },
            [] { return static_cast<uint64_t>(GetTickCount64()); }, [](uint32_t ms) { Sleep(ms); },
            dcb.BaudRate,
            frame_bits(dcb.ByteSize, dcb.Parity != NOPARITY, dcb.StopBits != ONESTOPBIT));
        return PurgeComm(handle, PURGE_RXCLEAR) != 0;
    }
    PurgeDrain last_purge_drain() const override { return last_drain_; }

    // A write that the time-outs cut short has failed.
    bool write(const uint8_t* data, uint32_t length, uint32_t& written) override {
        DWORD n = 0;
        const BOOL ok = WriteFile(h(), data, length, &n, nullptr);
        written = n;
        if (ok && n < length) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        return ok != 0;
    }

    bool read(uint8_t* data, uint32_t length, uint32_t& got) override {
        DWORD n = 0;
        const BOOL ok = ReadFile(h(), data, length, &n, nullptr);
        got = n;
        return ok != 0;
    }

    bool max_baud(uint32_t& flag) override {
        COMMPROP prop{};
        if (!GetCommProperties(h(), &prop)) {
            return false;
        }
        flag = prop.dwMaxBaud;
        return true;
    }

    HANDLE handle() const { return handle_.get(); }

private:
    HANDLE h() const { return handle_.get(); }

    UniqueFileHandle handle_;
    DCB dcb_{};
    bool have_dcb_ = false;
    PurgeDrain last_drain_{};
};

// "COMn" opens through the device namespace, which COM10 and above need.
std::string device_name(const char* name) {
    const std::string s = name != nullptr ? name : "";
    if (s.size() > 3 && std::toupper(static_cast<unsigned char>(s[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(s[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(s[2])) == 'M' &&
        std::all_of(s.begin() + 3, s.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
        return "\\\\.\\" + s;
    }
    return s;
}

OpenFailure classify(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return OpenFailure::not_found;
        case ERROR_ACCESS_DENIED:  // what CreateFile says of a COM port another program holds
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:  // Wine, for a device another process holds exclusively
            return OpenFailure::busy;
        default:
            return OpenFailure::other;
    }
}

class Win32SerialPorts final : public SerialPorts {
public:
    std::unique_ptr<SerialDevice> open(const char* name) override {
        const std::string device = device_name(name);
        UniqueFileHandle handle = own_file_handle(CreateFileA(
            device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!handle) {
            const DWORD error = GetLastError();
            last_failure_ = classify(error);
            SetLastError(error);
            return nullptr;
        }
        last_failure_ = OpenFailure::none;
        auto port = std::make_unique<Win32SerialDevice>(std::move(handle));
        // Bounded from the start: the line settings come later and bound it again.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (GetCommState(port->handle(), &dcb))
            port->set_write_timeouts(dcb);
        return port;
    }
    OpenFailure last_open_failure() const override { return last_failure_; }

private:
    OpenFailure last_failure_ = OpenFailure::none;
};

}  // namespace

SerialPorts& win32_serial_ports() {
    static Win32SerialPorts ports;
    return ports;
}

}  // namespace vx
