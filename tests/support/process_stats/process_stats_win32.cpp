#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <fstream>

#include "process_stats.h"

namespace varek::stats {

namespace {

// Wine counts neither handles nor private bytes, but a program under Wine
// runs inside a Linux process whose /proc it can read through drive Z:.
std::size_t WineResidentBytes() {
    std::ifstream statm("Z:\\proc\\self\\statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

std::size_t WineOpenDescriptors() {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(L"Z:\\proc\\self\\fd\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) return 0;
    std::size_t count = 0;
    do {
        if (entry.cFileName[0] != L'.') ++count;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return count - 1;  // the search's own descriptor
}

}  // namespace

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

std::size_t MemoryBytes() {
    if (RunningUnderWine()) return WineResidentBytes();
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
        return 0;
    }
    return counters.PrivateUsage;
}

std::size_t OpenHandles() {
    if (RunningUnderWine()) return WineOpenDescriptors();
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace varek::stats
