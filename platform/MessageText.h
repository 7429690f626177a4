// MessageText: one message in the languages the program speaks.
//
// Every message text is Chinese as the system has always written it; texts
// added since carry an English one beside it. A front end chooses the
// language once, before it parses or runs anything (SetMessageLanguage);
// Msg then gives the text in it. Chinese is the default, so stored
// expectations and hosts that never choose keep their texts.
//
// This unit holds no texts itself: each layer keeps its own table.
#pragma once

#include <string_view>

namespace corvane {

enum class TMessageLanguage : unsigned char { Chinese, English };

struct TMessageText {
    std::string_view zh;
    std::string_view en;
};

void SetMessageLanguage(TMessageLanguage language);
TMessageLanguage MessageLanguage();
std::string_view Msg(const TMessageText& text);

}  // namespace corvane
