// The desktop program's project-file reader on arbitrary bytes: it must end,
// never touch memory it does not own, and either fail with a message or
// return a project. A project it returns must survive saving and reading
// again: the same SQL text, the same aliases and the same table texts.
#include <cstdint>
#include <string>

#include "ui/U_projectFile.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 20000) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TProjectData project;
    std::string error;
    if (!ParseProject(bytes, project, error)) {
        if (error.empty()) __builtin_trap();  // a failure always says why
        return 0;
    }
    const std::string saved = FormatProject(project);
    TProjectData again;
    if (!ParseProject(saved, again, error)) __builtin_trap();
    if (again.sql != project.sql || again.dirs.size() != project.dirs.size()) __builtin_trap();
    for (size_t i = 0; i < project.dirs.size(); ++i) {
        if (again.dirs[i].alias != project.dirs[i].alias) __builtin_trap();
        // The table text is carried exactly. (A path or filter with a blank
        // followed by "/" has no table text that parses back to it; that is
        // the table text's limit, not the project file's.)
        TFileDirOption expected;
        if (!ParseDirOption(FormatDirOption(project.dirs[i].option), expected)) __builtin_trap();
        if (!(again.dirs[i].option == expected)) __builtin_trap();
    }
    return 0;
}
