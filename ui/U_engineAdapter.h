// U_engineAdapter: the real query engine behind IQueryEngine.
//
// One engine (TVeskEngineCustomer) with one file-system data source
// (TVeskDBAdapterForFile), exactly as a host drives it: register the
// source, set the statement, parse, read the error text, execute, read the
// result dataset, and the warnings of what the tables could not read. The
// adapter keeps a second reference to the source only to hand it the base
// directory of relative table paths; both go when the adapter goes (on the
// query runner's worker thread).
#pragma once

#include "ui/U_queryRunner.h"

namespace corvane {

// Makes one file-system engine per call.
TEngineFactory FileSystemEngineFactory();

}  // namespace corvane
