// ImageDisassembler: compiled code as readable text.
//
// Listings of instructions, functions and whole unit images (qv_vmc), for
// tests, the command line's --dump and developers. Display only: nothing
// reads these texts back.
#pragma once

#include <string>

#include "script/common/qv_vmc.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Readable listings, one instruction per line:
//   <pos> <name> <addresses, comma separated> [<immediate>] ['<text>']
// An address prints as its display text when it has one, else as L<slot>,
// G<unit>.<index> or C<slot>, and an indexed one adds [<index variable>].
// Globals carry a leading "@". The immediate prints as "-> n" for jumps, the
// relation (">", "like", ...) for comparisons, "unit:pos" for opCallPrep and
// "+1"/"-1" for opAddImm.
std::string FormatAddr(const Taddr& a);
std::string DisassembleInstruction(const TQVInstruction& ins, int pos = -1);
// A header line (name, result type, head count, variables) and the code.
std::string DisassembleFunction(const TClassDefInf& f);
// Used units, constants, globals and every function.
std::string DisassembleUnit(const TVMC_OBJ& unit);

}  // namespace corvane
