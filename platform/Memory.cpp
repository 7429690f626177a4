#include "platform/Memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>

namespace corvane {

namespace {

// A limit file of a control group: a number, or "max" (no limit).
int64_t ReadLimitFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!in || !std::getline(in, text)) return 0;
    int64_t value = 0;
    if (!ParseByteSize(text, value)) return 0;
    return value;
}

// The memory limit of this process's control group (v2: memory.max; v1:
// memory.limit_in_bytes, which says "no limit" with a huge number), or 0.
int64_t ControlGroupLimit() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    int64_t best = 0;
    while (std::getline(in, line)) {
        // hierarchy-ID:controllers:path
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (path.find("..") != std::string::npos) continue;
        int64_t limit = 0;
        if (controllers.empty())
            limit = ReadLimitFile("/sys/fs/cgroup" + path + "/memory.max");
        else if (controllers == "memory" || controllers.find("memory,") == 0 ||
                 controllers.find(",memory") != std::string::npos)
            limit = ReadLimitFile("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes");
        if (limit > 0 && (best == 0 || limit < best)) best = limit;
    }
    return best;
}

}  // namespace

int64_t AvailableMemoryBytes() {
    int64_t bytes = 0;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0 && pages <= std::numeric_limits<int64_t>::max() / pageSize)
        bytes = static_cast<int64_t>(pages) * pageSize;
    auto narrow = [&](int64_t limit) {
        if (limit > 0 && (bytes == 0 || limit < bytes)) bytes = limit;
    };
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
        rl.rlim_cur <= static_cast<rlim_t>(std::numeric_limits<int64_t>::max()))
        narrow(static_cast<int64_t>(rl.rlim_cur));
    narrow(ControlGroupLimit());
    return bytes;
}

bool ParseByteSize(std::string_view text, int64_t& out) {
    size_t i = 0;
    auto blanks = [&] {
        while (i < text.size() &&
               (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
    };
    blanks();
    const size_t digitsStart = i;
    uint64_t value = 0;
    constexpr uint64_t kMax = uint64_t{1} << 62;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > kMax) return false;
        ++i;
    }
    if (i == digitsStart) return false;
    blanks();
    int shift = 0;
    if (i < text.size()) {
        switch (text[i] | 0x20) {
            case 'k':
                shift = 10;
                break;
            case 'm':
                shift = 20;
                break;
            case 'g':
                shift = 30;
                break;
            case 't':
                shift = 40;
                break;
            default:
                break;
        }
        if (shift) ++i;
        if (shift && i < text.size() && text[i] == 'i') {
            ++i;
            if (i >= text.size() || (text[i] | 0x20) != 'b') return false;
        }
        if (i < text.size() && (text[i] | 0x20) == 'b') ++i;
    }
    blanks();
    if (i != text.size()) return false;
    if (value > (kMax >> shift)) return false;
    out = static_cast<int64_t>(value << shift);
    return true;
}

std::string FormatByteSize(int64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (unit < 4 && bytes >= (int64_t{1} << (10 * (unit + 1))))
        ++unit;
    const int64_t scale = int64_t{1} << (10 * unit);
    char buf[48];
    if (bytes % scale == 0)
        std::snprintf(buf, sizeof buf, "%lld %s", static_cast<long long>(bytes / scale),
                      kUnits[unit]);
    else {
        // Tenths by integer arithmetic: the text must not depend on the locale.
        const int64_t tenths = (bytes / (scale / 16) * 10 + 8) / 16;
        std::snprintf(buf, sizeof buf, "%lld.%lld %s", static_cast<long long>(tenths / 10),
                      static_cast<long long>(tenths % 10), kUnits[unit]);
    }
    return buf;
}

}  // namespace corvane
