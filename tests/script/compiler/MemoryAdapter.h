// Test support: a file adapter that keeps named files in memory, so images
// and the compiler can be tested without the build driver's adapter.
#pragma once

#include <map>
#include <string>

#include "script/common/qv_vmc.h"

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

}  // namespace corvane::testing
