#include "platform/MessageText.h"

#include <atomic>

namespace corvane {

namespace {
// Chosen once by a front end before it parses anything; read everywhere.
std::atomic<TMessageLanguage> gLanguage{TMessageLanguage::Chinese};
}  // namespace

void SetMessageLanguage(TMessageLanguage language) {
    gLanguage.store(language, std::memory_order_relaxed);
}

TMessageLanguage MessageLanguage() {
    return gLanguage.load(std::memory_order_relaxed);
}

std::string_view Msg(const TMessageText& text) {
    return MessageLanguage() == TMessageLanguage::English ? text.en : text.zh;
}

}  // namespace corvane
