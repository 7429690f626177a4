// PeepholeOptimizer: the small pass over a separately built expression list.
//
// The parser builds the code of each expression (an assignment's value, a
// condition, an argument, an index, a bound) in a list of its own and runs
// Optimize over it before appending it to the function's list. The pass
// makes two changes and no other:
//  1. an opMov whose destination and source are the same operand (x := x)
//     is removed;
//  2. a temporary that an instruction computes and the opMov right after it
//     copies elsewhere is merged away: "t := a + b; x := t" becomes
//     "x := a + b". Jumps, flag operations, halt, test and the call triple
//     are never merged into, nor is a word(x) or byte(x) conversion whose
//     cut the copy's destination would not keep.
// An instruction a jump lands on is never removed (RemoveAt), and the
// targets of later jumps move up with the instructions. No other immediate
// changes: comparison kinds, unit numbers and steps stay as they are.
//
// What it deliberately does not do: drop code because it looks useless (a
// loop with an empty body and "if c then ;" keep evaluating their
// expressions, which may call functions); look beyond two neighbouring
// instructions; run over the function's whole list (its jumps were laid
// out by the statement compiler, CompilerStatements). Operand types and
// temporaries are asked of the emitter (CodeEmitter).
#pragma once

#include "script/compiler/CodeEmitter.h"

namespace corvane {

// The same kind, unit and slot, and the same indexing (both plain, or both
// indexed by the same index variable).
bool SameOperand(const Taddr& a, const Taddr& b);
// Removes instruction j unless a jump lands on it; later jump targets move
// up. False when nothing was removed.
bool RemoveAt(TsubList& list, int j);
// The pass, over a list built for one expression of the function whose
// code `code` is building.
void Optimize(TsubList& list, const TCodeEmitter& code);

}  // namespace corvane
