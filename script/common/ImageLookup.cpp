// Cross-unit lookups of TVMC_OBJ (declared in qv_vmc.h): names of
// functions, constants and global variables searched in the unit, then in
// the units it uses, then among the built-ins.
#include "script/common/qv_vmc.h"

namespace corvane {

bool TVMC_OBJ::FindFunc(std::string_view name, int& unit, int& pos) {
    int p = Funcs.IndexOf(name);
    if (p >= 0) {
        unit = 0, pos = p;
        return true;
    }
    for (int n = 1; n <= UsedUnits.Count(); ++n) {
        p = UnitImage(n).Funcs.IndexOf(name);
        if (p > 0) {
            unit = n, pos = p;
            return true;
        }
    }
    if (Builtins) {
        const int k = Builtins->Find(name);
        if (k > 0) {
            unit = -1, pos = -k;
            return true;
        }
    }
    return false;
}

static int IndexOfConst(const Tconstlist& consts, std::string_view name) {
    for (size_t i = 0; i < consts.size(); ++i)
        if (consts[i].Name == name) return static_cast<int>(i);
    return -1;
}

static int IndexOfVar(const TvarDeflist& vars, std::string_view name) {
    for (size_t i = 0; i < vars.size(); ++i)
        if (vars[i].Name == name) return static_cast<int>(i);
    return -1;
}

bool TVMC_OBJ::FindConst(std::string_view name, int& unit, int& pos) {
    int p = IndexOfConst(Consts, name);
    if (p >= 0) {
        unit = 0, pos = p;
        return true;
    }
    for (int n = 1; n <= UsedUnits.Count(); ++n) {
        p = IndexOfConst(UnitImage(n).Consts, name);
        if (p > 0) {
            unit = n, pos = p;
            return true;
        }
    }
    return false;
}

bool TVMC_OBJ::FindGlobal(std::string_view name, int& unit, int& pos) {
    int p = IndexOfVar(Globals, name);
    if (p >= 0) {
        unit = 0, pos = p;
        return true;
    }
    for (int n = 1; n <= UsedUnits.Count(); ++n) {
        p = IndexOfVar(UnitImage(n).Globals, name);
        if (p > 0) {
            unit = n, pos = p;
            return true;
        }
    }
    return false;
}

std::string TVMC_OBJ::GetConstValue(int unit, int pos) {
    const Tconstlist& c = unit == 0 ? Consts : UnitImage(unit).Consts;
    if (pos < 0 || static_cast<size_t>(pos) >= c.size())
        throw EScriptError(std::string(msg::RangeExceeded));
    return c[static_cast<size_t>(pos)].Value;
}

Tvardef TVMC_OBJ::GetGlobalDef(int unit, int pos) {
    const TvarDeflist& g = unit == 0 ? Globals : UnitImage(unit).Globals;
    if (pos < 0 || static_cast<size_t>(pos) >= g.size())
        throw EScriptError(std::string(msg::RangeExceeded));
    return g[static_cast<size_t>(pos)];
}

TClassDefInf TVMC_OBJ::GetFuncHead(int unit, int pos) {
    if (unit == -1) {
        if (!Builtins) throw EScriptError(std::string(msg::RangeExceeded));
        const int number = pos < 0 ? -pos : pos;
        if (number < 1 || number >= Builtins->Count())
            throw EScriptError(std::string(msg::RangeExceeded));
        const TBuiltinHead& h = Builtins->Head(number);
        TClassDefInf f;
        f.Name = h.Name;
        f.ResultType = h.ResultType;
        for (const TBuiltinVar& v : h.Vars) {
            if (v.Optional && f.FirstOptional == 0)
                f.FirstOptional = static_cast<int32_t>(f.varDefs.size());
            f.varDefs.emplace_back(v.Name, v.DataType);
        }
        f.HeadCount = static_cast<int32_t>(f.varDefs.size());
        f.IsExternal = 0;
        f.Loaded = 1;
        return f;
    }
    TFuncDefList& list = unit == 0 ? Funcs : UnitImage(unit).Funcs;
    if (pos < 0 || pos >= list.Count()) throw EScriptError(std::string(msg::RangeExceeded));
    return list.Get(pos);
}

}  // namespace corvane
