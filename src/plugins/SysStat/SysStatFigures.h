#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The system figures the SysStat views show, worked out from the text of the kernel's
// /proc files. Nothing here reads a file: the views hand in what they read, tests hand in
// recorded samples. Not thread-safe; each object belongs to the working thread.
namespace SysStatFigures {

// Processor times summed over all processors, in clock ticks since boot.
struct CpuTimes {
    uint64_t idle = 0;   // idle + iowait
    uint64_t kernel = 0; // system + irq + softirq
    uint64_t user = 0;   // user + nice
};

// The "cpu" line of /proc/stat; false when the text has none.
bool parseProcStat(std::string_view text, CpuTimes& times);

// One history entry: load and kernel share, each 0..100 percent.
struct CpuSample {
    int load = 0;
    int kernel = 0;
};

// Load and kernel share from successive /proc/stat readings, and the last 16 of them.
class CCpuHistory {
public:
    static constexpr int kLength = 16;

    // Takes a reading: its difference to the previous one (the reading itself the first
    // time) becomes the newest sample. A reading with no time passed adds nothing; false then.
    bool add(const CpuTimes& times);

    // Oldest first; all zero at start.
    const std::array<CpuSample, kLength>& samples() const { return m_samples; }
    const CpuSample& newest() const { return m_samples.back(); }

private:
    std::array<CpuSample, kLength> m_samples{};
    CpuTimes m_previous;
};

// The lines of /proc/meminfo the memory view uses, in KiB.
struct MemInfo {
    uint64_t memTotal = 0;
    uint64_t memAvailable = 0;
    uint64_t swapFree = 0;
    uint64_t commitLimit = 0;
    uint64_t committedAs = 0;
};

// False when MemTotal or MemAvailable is missing.
bool parseMeminfo(std::string_view text, MemInfo& info);

// The memory kinds the view offers: 0 physical, 1 paging (swap), 2 virtual (commit headroom).
enum MemoryKind { kPhysical = 0, kPaging = 1, kVirtual = 2 };

// The stored "MemoryType" text as a kind: a decimal number after optional blanks and sign,
// read up to the first non-digit (none reads as 0), clamped into 0..2.
int memoryKindFromText(std::u16string_view text);

// Available memory of the kind in MiB (truncated to 32 bits).
uint32_t availableMiB(const MemInfo& info, int kind);

// The share of physical memory in use, 0..100.
int physicalLoadPercent(const MemInfo& info);

// One interface's byte counters.
struct InterfaceCounters {
    std::string name;
    uint64_t received = 0;
    uint64_t sent = 0;
};

// The interfaces of /proc/net/dev in the order listed; lines it cannot read are left out.
void parseNetDev(std::string_view text, std::vector<InterfaceCounters>& interfaces);

// Receive and send rates per interface, in bytes per second: each reading's rate is averaged
// with the stored one, and a counter that went backwards (an interface reset) reads as rate
// 0, so the stored rate halves instead of jumping. Interfaces are never forgotten.
class CAdapterTable {
public:
    struct Rates {
        uint64_t received = 0;
        uint64_t sent = 0;
    };

    // A reading of every interface at millisecond tick now.
    void update(const std::vector<InterfaceCounters>& interfaces, uint32_t now);

    // The rates of the interface called name; empty name: the sum over all interfaces but
    // the loopback one, whose traffic never leaves the machine. Unknown name: zero.
    Rates rates(std::string_view name) const;

    // Every interface seen so far, in name order.
    std::vector<std::string> names() const;

private:
    struct Entry {
        uint64_t received = 0;
        uint64_t sent = 0;
        uint32_t time = 0;
        Rates rates;
    };
    std::map<std::string, Entry, std::less<>> m_entries;
};

// A rate as the network view shows it: "%d B/s" below 1024, then KB/s up to 0xFFFFF, MB/s up
// to 0x3FFFFFFF and GB/s above, each a whole number rounded down.
std::string formatRate(uint64_t bytesPerSecond);

} // namespace SysStatFigures
