// U_columns: see U_columns.h.
#include "ui/U_columns.h"

#include "platform/Text.h"
#include "platform/Variant.h"

namespace corvane {

namespace {

struct ColumnInfo {
    const char* name;
    const char* caption;
    const char* width;
};

// The fifteen columns in the order the tree lists them under a directory.
constexpr ColumnInfo kColumns[] = {
    {"path", "目录", "160"},
    {"filename", "文件名", "80"},
    {"extension", "后缀", "40"},
    {"shortName", "短名称", "60"},
    {"version", "版本", "50"},
    {"size", "大小", "50"},
    {"attri", "属性", "50"},
    {"count", "个数", "50"},
    {"creationTime", "创建时间", "80"},
    {"lastAccessTime", "最后访问时间", "80"},
    {"lastWriteTime", "最后写入时间", "80"},
    {"isdir", "目录否", "50"},
    {"hidden", "隐藏否", "50"},
    {"readonly", "只读否", "50"},
    {"data", "文本数据", "50"},
};

const std::string* Lookup(const std::vector<std::pair<std::string, std::string>>& map,
                          std::string_view name) {
    for (const auto& [key, value] : map)
        if (SameTextAscii(key, name)) return &value;
    return nullptr;
}

}  // namespace

TColumnMaps::TColumnMaps() {
    for (const ColumnInfo& c : kColumns) {
        captions_.emplace_back(c.name, c.caption);
        widths_.emplace_back(c.name, c.width);
    }
}

std::string TColumnMaps::Caption(std::string_view name) const {
    const std::string* caption = Lookup(captions_, name);
    return caption ? *caption : std::string();
}

int TColumnMaps::Width(std::string_view name) const {
    const std::string* text = Lookup(widths_, name);
    int64_t width = 0;
    if (!text || !TryParseInteger(*text, width) || width < 0 || width > 100000) return 50;
    return static_cast<int>(width);
}

std::string DisplayName(std::string_view fieldName) {
    size_t dot = fieldName.find('.');
    return std::string(dot == std::string_view::npos ? fieldName : fieldName.substr(dot + 1));
}

}  // namespace corvane
