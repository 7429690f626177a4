// U_dirText: where the desktop program gets the table text from.
//
// The table text (directory, filter, options) and its record TFileDirOption
// belong to the file-system source; the desktop program only formats records
// into SQL text and project files and parses them back. This header is the
// one place the front end includes for that, so the tree, the project files
// and the script generator all use the same functions as the engine.
#pragma once

#include "filesource/U_CorvaneAdptr.h"
