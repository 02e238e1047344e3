// Test helper for the stand-in driver Tamsk.sys: installs and removes its service and wraps
// the diagnostic requests of tamsk_diag.h. Link the CMake target driver_diag, and give
// every test program that uses it `LOCKS portio_service` so that no two run at once.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tamsk_diag.h"

namespace driver_diag {

using Bytes = std::vector<uint8_t>;

// "0A 1B ..." for messages that show the bytes seen.
inline std::string Hex(const uint8_t* data, size_t size)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < size; i++) {
        snprintf(cell, sizeof(cell), i ? " %02X" : "%02X", data[i]);
        text += cell;
    }
    return text;
}
inline std::string Hex(const Bytes& bytes) { return Hex(bytes.data(), bytes.size()); }

inline std::string CodeText(uint32_t code)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", code);
    return text;
}

// Path of Tamsk.sys beside the running program.
std::string DriverPath();

// Registers the service "QuorvelPortIO" (kernel driver, demand start) for the Tamsk.sys beside
// the program, or re-points an existing registration to it, and stops a running instance so
// that the next start loads the fresh image with a fresh simulated machine. Does not start it.
// On failure returns false and, if error is given, says why.
bool Install(std::string* error = nullptr);

// Starts the registered service (already running is fine) and waits (bounded) until the
// device opens.
bool Start(std::string* error = nullptr);

// Install, then Start.
bool InstallAndStart(std::string* error = nullptr);

// Stops the service if it runs and waits (bounded) until it has stopped; keeps it registered.
bool Stop(std::string* error = nullptr);

// Stops the service, deletes it and waits (bounded) until the service manager has removed
// it. True when the service is gone (also when it never existed).
bool StopAndRemove(std::string* error = nullptr);

// The service's current state (SERVICE_RUNNING, ...); 0 when it does not exist.
DWORD State();
inline bool IsRunning() { return State() == SERVICE_RUNNING; }
// True while the service manager knows the service (also when it is marked for deletion).
bool Exists();
// DeleteService on the service: 0, or the error.
DWORD Delete();
// Waits (bounded) until the service manager has dropped the service; true when it has.
bool WaitUntilGone(DWORD timeoutMs = 5000);

// The registration as the service manager reports it.
struct ServiceConfig {
    DWORD type = 0, start = 0, errorControl = 0;
    std::string binary, display, group, dependencies;
};
bool QueryConfig(ServiceConfig* config);

// The registration's "ImagePath" and "Start" values as the registry holds them, which is what
// the next start reads (the service manager keeps its own copy until Windows restarts).
struct Registration {
    bool exists = false;  // the service's registry key
    std::wstring imagePath;
    DWORD start = 0;

    bool operator==(const Registration& other) const
    {
        return exists == other.exists && imagePath == other.imagePath && start == other.start;
    }
    // The driver path, without the "\??\" that an update writes before it.
    std::wstring DriverPath() const
    {
        return imagePath.compare(0, 4, L"\\??\\") == 0 ? imagePath.substr(4) : imagePath;
    }
};
Registration ReadRegistration();

// One handle to the device, opened as the library opens it (access 0, share 0,
// OPEN_EXISTING), closed by the destructor. Each call is one diagnostic request; each returns
// false when the request fails. Diagnostic requests are neither logged nor faulted.
class Device {
public:
    Device();
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }

    // Clears the log, the counts (opens, closes, requests) and any fault.
    bool Reset();
    // Puts the simulated machine (ports, registers, ECs, Dorvane configuration) back to its start.
    bool ResetMachine();
    // Logged family requests, oldest first (at most PORTIO_DIAG_LOG_ENTRIES kept); total, if
    // given, receives how many were logged since the reset.
    bool Log(std::vector<PortioDiagLogEntry>* entries, uint32_t* total = nullptr);
    bool Counts(PortioDiagCounts* counts);
    // Under Wine, CloseHandle returns before the driver sees the close: this polls the counts
    // until they show at least `closes` closes or timeoutMs passes; true when they do.
    // counts, if given, receives the last counts read.
    bool WaitForCloses(uint32_t closes, PortioDiagCounts* counts = nullptr, DWORD timeoutMs = 5000);
    // The next `count` family requests meet the fault (count 0 = 1, 0xFFFFFFFF = until reset).
    // kind is a PORTIO_FAULT_...; tamsk_diag.h says what value means.
    bool SetFault(uint32_t kind, uint32_t value, uint32_t count = 1);
    bool ClearFault() { return SetFault(PORTIO_FAULT_NONE, 0, 0); }
    // A cell of the simulated machine; space is a PORTIO_SPACE_....
    bool Peek(uint32_t space, uint32_t key, uint32_t address, uint32_t* value);
    bool Poke(uint32_t space, uint32_t key, uint32_t address, uint32_t value);

private:
    bool Request(uint32_t code, const void* in, DWORD inLen, void* out, DWORD outLen);
    HANDLE handle_;
};

// One DeviceIoControl on `device`. Returns its result; bytesReturned (preset to 0xFFFFFFFF)
// and error (GetLastError after a failure, else 0) are stored when given.
bool Call(HANDLE device, uint32_t code, const void* in, DWORD inLen, void* out, DWORD outLen,
          DWORD* bytesReturned = nullptr, DWORD* error = nullptr);

}  // namespace driver_diag
