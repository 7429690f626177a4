// Memory: how much memory this process may use, and how sizes are written.
//
// The query engine and the script runtime hold data whose size comes from
// untrusted input (a join of large directories, a script that fills arrays
// with long texts). Each keeps a byte budget below what the machine can
// give, so that such input ends with a clear message instead of exhausting
// memory. This unit answers the one question the budgets ask the operating
// system: how many bytes this process can have at most (physical memory,
// narrowed by the address-space limit and the control group's limit when
// either is smaller). It also reads and writes the sizes that users give
// and see ("512M", "4 GiB").
//
// What it does not do: keep any budget (evaluation/U_memBudget for queries,
// script/runtime/varMng for scripts).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// The bytes of memory this process can use at most: physical memory, or
// less when the address-space limit (setrlimit RLIMIT_AS) or the memory
// limit of the process's control group says so. 0 when nothing is known.
int64_t AvailableMemoryBytes();

// A size as users write it: digits, optionally followed by a unit K, M, G
// or T (powers of 1024, either letter case), optionally followed by "B" or
// "iB" ("512M", "4G", "4GiB", "1048576"). Blanks around the parts are
// allowed. False (out untouched) for anything else and for sizes beyond
// 2^62 bytes.
bool ParseByteSize(std::string_view text, int64_t& out);

// The size for a message: in the largest unit it reaches, exact when the
// unit divides it ("4 GiB", "512 KiB", "1000 B"), else with one decimal
// ("1.5 GiB").
std::string FormatByteSize(int64_t bytes);

}  // namespace corvane
