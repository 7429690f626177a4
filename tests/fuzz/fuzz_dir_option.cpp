// Table texts: whatever parses must format to a text that parses back to
// the same record, as long as the record is one the formatter can express
// (see FormatDirOption): its mask holds the archive and volume bits, and
// its path does not end in a blank (the formatter would put that blank
// before a "/"). Records whose directory ends in a dotted name, ".", ".."
// or the marker "/." are expressible too, whatever the disk holds.
#include <cstdint>
#include <string>

#include "filesource/U_CorvaneAdptr.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TFileDirOption opt;
    if (!ParseDirOption(text, opt)) return 0;
    std::string formatted = FormatDirOption(opt);
    TFileDirOption again;
    if (!ParseDirOption(formatted, again)) __builtin_trap();
    const bool expressible =
        (opt.attrMask & (faArchive | faVolumeId)) == (faArchive | faVolumeId) &&
        (opt.path.empty() || opt.path.back() != ' ');
    if (expressible && !(again == opt)) __builtin_trap();
    // A second round must be stable whatever the first one normalised.
    std::string twice = FormatDirOption(again);
    TFileDirOption third;
    if (!ParseDirOption(twice, third) || !(third == again)) __builtin_trap();
    return 0;
}
