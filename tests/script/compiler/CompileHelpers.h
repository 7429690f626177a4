// Test support for the compiler: compile a source or a fragment of
// statements and read back diagnostics and instruction listings.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "script/common/ImageDisassembler.h"
#include "script/common/qv_vmc.h"
#include "script/compiler/u_compile.h"

namespace corvane::testing {

struct Compiled {
    std::unique_ptr<TVMC_OBJ> image;
    std::vector<std::string> errors;  // rendered, "Compile: line N:text"
    std::string raised;               // what Compile raised, if it did

    const TClassDefInf& Func(const std::string& name) const {
        return image->Funcs.Get(image->Funcs.IndexOf(name));
    }
    // The code of a function, one DisassembleInstruction line per
    // instruction, without positions.
    std::vector<std::string> Code(const std::string& name) const {
        std::vector<std::string> out;
        for (const TQVInstruction& i : Func(name).code)
            out.push_back(DisassembleInstruction(i));
        return out;
    }
};

inline Compiled CompileSource(std::string_view source, TFileAdapter* adapter = nullptr) {
    Compiled c;
    c.image = std::make_unique<TVMC_OBJ>(adapter);
    TsourceFile sf(adapter);
    sf.target = c.image.get();
    sf.SetText(source);
    try {
        sf.Compile();
    } catch (const EScriptError& e) {
        c.raised = e.what();
    }
    c.errors = sf.errors.Render();
    return c;
}

// A fragment of statements becomes the body of f, starting on line 13:
//   slots: result 0, a 1, b 2, r 3 (var), c 4, i 5, j 6, w 7, y 8, s 9,
//   ch 10, d 11, t 12, dt 13, v 14, arr 15 (5 integers); temporaries from 16.
//   globals: g (integer), gs (string); procedure p(var v: integer) is
//   function 1, q: integer (no parameters) function 2, one(x: integer)
//   function 3, procedure z (no parameters) function 4, f function 5.
inline constexpr int kFragmentLine = 13;

inline std::string FragmentSource(std::string_view statements) {
    return "interface\n"
           "var g: integer; gs: string;\n"
           "procedure p(var v: integer); function q: integer; function one(x: integer): integer; "
           "procedure z;\n"
           "function f(a, b: integer; var r: string; c: char): integer;\n"
           "implementation\n"
           "procedure p(var v: integer); begin end;\n"
           "function q: integer; begin end;\n"
           "function one(x: integer): integer; begin end;\n"
           "procedure z; begin end;\n"
           "function f(a, b: integer; var r: string; c: char): integer;\n"
           "var i, j: integer; w: word; y: byte; s: string; ch: char; d: double; t: boolean; "
           "dt: date; v: variant; arr: array[5] of integer;\n"
           "begin\n" +
           std::string(statements) + "\nend;\nend.\n";
}

inline Compiled CompileFragment(std::string_view statements) {
    return CompileSource(FragmentSource(statements));
}

// "Compile: line N:" + text, N counted from the fragment's first line.
inline std::string At(int fragmentLine, std::string_view text) {
    return "Compile: line " + std::to_string(kFragmentLine + fragmentLine - 1) + ":" +
           std::string(text);
}

}  // namespace corvane::testing
