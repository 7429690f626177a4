// Test support: a file adapter that keeps named files in memory, and a
// small built-in registry, so images and the compiler can be tested without
// the runtime's adapter and library.
#pragma once

#include <map>
#include <string>

#include "script/runtime/qv_vmc.h"

namespace corvane::testing {

class MemoryAdapter : public TFileAdapter {
  public:
    TMemoryStream* GetFile(std::string_view name) override {
        ++gets;
        auto it = files.find(std::string(name));
        return it == files.end() ? nullptr : &it->second;
    }
    bool SetFile(std::string_view name, const TMemoryStream& stream) override {
        files[std::string(name)] = TMemoryStream(stream.Bytes());
        return true;
    }
    void PutText(const std::string& name, std::string_view text) {
        files[name] = TMemoryStream(text);
    }

    std::map<std::string, TMemoryStream> files;
    int gets = 0;
};

// Three built-ins: "length(s: string): integer", "showmessage(s: string)"
// (a procedure) and "now: date".
class FakeBuiltins : public TBuiltinHeads {
  public:
    FakeBuiltins() {
        heads.push_back({});  // entry 0: placeholder
        heads.push_back({"length", dtInteger, {{"result", dtInteger}, {"s", dtString}}});
        heads.push_back({"showmessage", dtNone, {{"result", dtNone}, {"s", dtString}}});
        heads.push_back({"now", dtDate, {{"result", dtDate}}});
    }
    int Find(std::string_view name) const override {
        for (size_t i = 1; i < heads.size(); ++i) {
            const std::string& n = heads[i].Name;
            if (n.size() != name.size()) continue;
            bool same = true;
            for (size_t k = 0; k < n.size() && same; ++k)
                same = n[k] == ((name[k] >= 'A' && name[k] <= 'Z') ? name[k] + 32 : name[k]);
            if (same) return static_cast<int>(i);
        }
        return -1;
    }
    const TBuiltinHead* Head(int number) const override {
        if (number < 0 || static_cast<size_t>(number) >= heads.size()) return nullptr;
        return &heads[static_cast<size_t>(number)];
    }
    std::vector<TBuiltinHead> heads;
};

}  // namespace corvane::testing
