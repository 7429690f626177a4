// U_columns: the caption and width maps of the result list and the tree.
//
// Every column of a directory table has a Chinese caption and a default
// width in the result list; the tree shows the same captions under each
// directory node. Both maps are ordered name=value lists (the order is the
// order of the column nodes in the tree) looked up by name ignoring ASCII
// letter case. This unit also knows how a result field name becomes the name
// the maps are asked for ("a.path" is shown as "path").
//
// It knows nothing of widgets or models: the result model (U_resultModel)
// and the tree model (U_dirTree) use it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

class TColumnMaps {
  public:
    // Filled with the fifteen columns in their fixed order.
    TColumnMaps();

    // Caption of a column, or the empty string when the map has none.
    std::string Caption(std::string_view name) const;
    // Width of a column; a missing or non-integer width counts as 50.
    int Width(std::string_view name) const;

    // The "name=value" lines of the two maps, in map order.
    const std::vector<std::pair<std::string, std::string>>& CaptionEntries() const {
        return captions_;
    }
    const std::vector<std::pair<std::string, std::string>>& WidthEntries() const { return widths_; }

  private:
    std::vector<std::pair<std::string, std::string>> captions_;
    std::vector<std::pair<std::string, std::string>> widths_;
};

// The field name with everything up to and including its first "." removed.
std::string DisplayName(std::string_view fieldName);

}  // namespace corvane
