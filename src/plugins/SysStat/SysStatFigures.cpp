#include "SysStatFigures.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace SysStatFigures {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The next unsigned decimal field of line, after blanks; false at the end or on other text.
bool nextNumber(std::string_view& line, uint64_t& value) {
    while (!line.empty() && isBlank(line.front()))
        line.remove_prefix(1);
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc())
        return false;
    line.remove_prefix(static_cast<size_t>(end - line.data()));
    return true;
}

// Calls take(line) for every line of text until it returns false.
template <typename F> void forEachLine(std::string_view text, F take) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (!take(text.substr(0, end)) || end == std::string_view::npos)
            return;
        text.remove_prefix(end + 1);
    }
}

// Rounded percentage part * 100 / whole, whole > 0, capped at 100.
int percent(uint64_t part, uint64_t whole) {
    uint64_t value = (part * 100 + whole / 2) / whole;
    return static_cast<int>(std::min<uint64_t>(value, 100));
}

} // namespace

bool parseProcStat(std::string_view text, CpuTimes& times) {
    bool found = false;
    forEachLine(text, [&](std::string_view line) {
        if (line.size() < 4 || line.substr(0, 4) != "cpu ")
            return true;
        line.remove_prefix(4);
        // user nice system idle iowait irq softirq; older kernels stop after idle.
        uint64_t field[7] = {};
        int count = 0;
        while (count < 7 && nextNumber(line, field[count]))
            ++count;
        if (count >= 4) {
            times.user = field[0] + field[1];
            times.kernel = field[2] + field[5] + field[6];
            times.idle = field[3] + field[4];
            found = true;
        }
        return false;
    });
    return found;
}

bool CCpuHistory::add(const CpuTimes& times) {
    // Counters only grow; one that went back (a counter wrap) reads as no time spent.
    auto delta = [](uint64_t now, uint64_t before) { return now > before ? now - before : 0; };
    uint64_t idle = delta(times.idle, m_previous.idle);
    uint64_t kernel = delta(times.kernel, m_previous.kernel);
    uint64_t user = delta(times.user, m_previous.user);
    m_previous = times;
    uint64_t total = idle + kernel + user;
    if (total == 0)
        return false;
    CpuSample sample;
    sample.load = 100 - percent(idle, total);
    sample.kernel = percent(kernel, total);
    std::rotate(m_samples.begin(), m_samples.begin() + 1, m_samples.end());
    m_samples.back() = sample;
    return true;
}

bool parseMeminfo(std::string_view text, MemInfo& info) {
    MemInfo read;
    bool total = false;
    bool available = false;
    forEachLine(text, [&](std::string_view line) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        std::string_view name = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        uint64_t value = 0;
        if (!nextNumber(rest, value))
            return true;
        if (name == "MemTotal") {
            read.memTotal = value;
            total = true;
        } else if (name == "MemAvailable") {
            read.memAvailable = value;
            available = true;
        } else if (name == "SwapFree") {
            read.swapFree = value;
        } else if (name == "CommitLimit") {
            read.commitLimit = value;
        } else if (name == "Committed_AS") {
            read.committedAs = value;
        }
        return true;
    });
    if (!total || !available)
        return false;
    info = read;
    return true;
}

int memoryKindFromText(std::u16string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+'))
        negative = text[at++] == u'-';
    int64_t value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at)
        value = std::min<int64_t>(value * 10 + (text[at] - u'0'), 1000);
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<int64_t>(value, kPhysical, kVirtual));
}

uint32_t availableMiB(const MemInfo& info, int kind) {
    uint64_t kib = info.memAvailable;
    if (kind == kPaging)
        kib = info.swapFree;
    else if (kind == kVirtual)
        kib = info.commitLimit > info.committedAs ? info.commitLimit - info.committedAs : 0;
    return static_cast<uint32_t>(kib / 1024);
}

int physicalLoadPercent(const MemInfo& info) {
    if (info.memTotal == 0 || info.memAvailable >= info.memTotal)
        return 0;
    return static_cast<int>((info.memTotal - info.memAvailable) * 100 / info.memTotal);
}

void parseNetDev(std::string_view text, std::vector<InterfaceCounters>& interfaces) {
    interfaces.clear();
    // "  name: rx_bytes rx_packets ... (8 receive fields) tx_bytes ..."; two heading lines.
    forEachLine(text, [&](std::string_view line) {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return true;
        std::string_view name = line.substr(0, colon);
        while (!name.empty() && isBlank(name.front()))
            name.remove_prefix(1);
        std::string_view rest = line.substr(colon + 1);
        uint64_t field[9] = {};
        int count = 0;
        while (count < 9 && nextNumber(rest, field[count]))
            ++count;
        if (name.empty() || count < 9)
            return true;
        interfaces.push_back({std::string(name), field[0], field[8]});
        return true;
    });
}

void CAdapterTable::update(const std::vector<InterfaceCounters>& interfaces, uint32_t now) {
    auto average = [](uint64_t octets, uint64_t last, uint32_t elapsed, uint64_t stored) {
        uint64_t instant = octets > last ? (octets - last) * 1000 / elapsed : 0;
        return (instant + stored) / 2;
    };
    for (const InterfaceCounters& counters : interfaces) {
        auto it = m_entries.find(counters.name);
        if (it == m_entries.end()) {
            m_entries.emplace(counters.name, Entry{counters.received, counters.sent, now, Rates{}});
            continue;
        }
        Entry& entry = it->second;
        uint32_t elapsed = now - entry.time;
        if (elapsed == 0)
            continue;
        entry.rates.received =
            average(counters.received, entry.received, elapsed, entry.rates.received);
        entry.rates.sent = average(counters.sent, entry.sent, elapsed, entry.rates.sent);
        entry.received = counters.received;
        entry.sent = counters.sent;
        entry.time = now;
    }
}

CAdapterTable::Rates CAdapterTable::rates(std::string_view name) const {
    if (!name.empty()) {
        auto it = m_entries.find(name);
        return it == m_entries.end() ? Rates{} : it->second.rates;
    }
    Rates sum;
    for (const auto& [interface, entry] : m_entries) {
        if (interface == "lo")
            continue;
        sum.received += entry.rates.received;
        sum.sent += entry.rates.sent;
    }
    return sum;
}

std::vector<std::string> CAdapterTable::names() const {
    std::vector<std::string> names;
    for (const auto& entry : m_entries)
        names.push_back(entry.first);
    return names;
}

std::string formatRate(uint64_t rate) {
    char text[48];
    auto whole = [](uint64_t value) { return static_cast<unsigned long long>(value); };
    if (rate < 1024)
        std::snprintf(text, sizeof text, "%llu B/s", whole(rate));
    else if (rate <= 0xFFFFF)
        std::snprintf(text, sizeof text, "%llu KB/s", whole(rate >> 10));
    else if (rate > 0x3FFFFFFF)
        std::snprintf(text, sizeof text, "%llu GB/s", whole(rate >> 30));
    else
        std::snprintf(text, sizeof text, "%llu MB/s", whole(rate >> 20));
    return text;
}

} // namespace SysStatFigures
