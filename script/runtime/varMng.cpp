#include "script/runtime/varMng.h"

#include <atomic>
#include <cmath>
#include <utility>

#include "platform/DateTime.h"
#include "platform/Memory.h"
#include "platform/Text.h"

namespace corvane {

namespace {

std::string Formatted(const char* pattern, std::string_view arg) {
    std::string out(pattern);
    size_t p = out.find("%s");
    if (p != std::string::npos) out.replace(p, 2, arg);
    return out;
}

[[noreturn]] void ThrowNoAccessor() {
    throw EScriptError(kMsgOnGetNotInitialised);
}

const FormatSettings& Settings() {
    return FormatSettings::Current();
}

// A text read as a decimal number: the regional separator, and "." as well,
// since script literals are always written with ".".
bool ParseDecimal(std::string_view s, double& out) {
    char sep = Settings().decimalSeparator;
    if (TryParseDouble(s, sep, out)) return true;
    return sep != '.' && TryParseDouble(s, '.', out);
}

// The text of a variant as reads see it (Null and empty give "").
void AppendVariantText(std::string& out, const Variant& v) {
    v.AppendString(out);
}

// A variant read as date-time: strings as date-time text first.
double VariantAsDateTime(const Variant& v) {
    if (v.IsNull()) return 0;
    return v.AsDate();
}

}  // namespace

// ---------------------------------------------------------------------------
// The script memory budget

namespace {

std::atomic<int64_t> g_scriptBytes{0};
std::atomic<int64_t> g_scriptLimit{kDefaultScriptMemoryLimit};

// Adds bytes (which may be negative); false, charging nothing, when the
// total would pass the limit.
bool ChargeScriptBytes(int64_t bytes) {
    const int64_t total = g_scriptBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    const int64_t limit = g_scriptLimit.load(std::memory_order_relaxed);
    if (bytes > 0 && limit > 0 && total > limit) {
        g_scriptBytes.fetch_sub(bytes, std::memory_order_relaxed);
        return false;
    }
    return true;
}

std::string ScriptMemoryText() {
    return Formatted(kMsgScriptMemory, FormatByteSize(ScriptMemoryLimit()));
}

// A heap block of a text with that capacity (short texts live inside the
// std::string).
int64_t TextBlockBytes(size_t capacity) {
    return capacity < 16 ? 0 : static_cast<int64_t>(capacity + 1 + 8 + 15) / 16 * 16;
}

}  // namespace

void SetScriptMemoryLimit(int64_t bytes) {
    g_scriptLimit.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed);
}

int64_t ScriptMemoryLimit() {
    return g_scriptLimit.load(std::memory_order_relaxed);
}

int64_t ScriptMemoryInUse() {
    return g_scriptBytes.load(std::memory_order_relaxed);
}

int64_t TruncToInteger(double x) {
    if (!std::isfinite(x)) throw EScriptError(kMsgInvalidFloatOp);
    double t = std::trunc(x);
    if (t >= 9223372036854775808.0 || t < -9223372036854775808.0)
        throw EScriptError(kMsgInvalidFloatOp);
    return static_cast<int64_t>(t);
}

// ---------------------------------------------------------------------------
// TXVarData: construction

TXVarData::TXVarData(std::string name, TDataType type) : name_(std::move(name)), type_(type) {
    if (type == dtChar) byte_ = EmptyChar;
}

TXVarData::~TXVarData() {
    if (charged_) ChargeScriptBytes(-charged_);
}

// The charge moves with the storage.
TXVarData::TXVarData(TXVarData&& other) noexcept
    : name_(std::move(other.name_)),
      external_(other.external_),
      type_(other.type_),
      int_(other.int_),
      float_(other.float_),
      byte_(other.byte_),
      str_(std::move(other.str_)),
      var_(std::move(other.var_)),
      array_(std::move(other.array_)),
      shellText_(other.shellText_),
      shellPos_(other.shellPos_),
      onGet_(std::move(other.onGet_)),
      onSet_(std::move(other.onSet_)),
      charged_(std::exchange(other.charged_, 0)) {
    // A moved-from text keeps no block; one that does stays charged to it.
    other.charged_ = other.HeldBytes();
    charged_ -= other.charged_;
}

TXVarData& TXVarData::operator=(TXVarData&& other) noexcept {
    if (this == &other) return *this;
    // Our own blocks go first: a moving assignment would hand them to other.
    FreeTexts();
    if (charged_) ChargeScriptBytes(-charged_);
    name_ = std::move(other.name_);
    external_ = other.external_;
    type_ = other.type_;
    int_ = other.int_;
    float_ = other.float_;
    byte_ = other.byte_;
    str_ = std::move(other.str_);
    var_ = std::move(other.var_);
    array_ = std::move(other.array_);
    shellText_ = other.shellText_;
    shellPos_ = other.shellPos_;
    onGet_ = std::move(other.onGet_);
    onSet_ = std::move(other.onSet_);
    charged_ = std::exchange(other.charged_, 0);
    other.charged_ = other.HeldBytes();
    charged_ -= other.charged_;
    return *this;
}

int64_t TXVarData::HeldBytes() const {
    return TextBlockBytes(str_.capacity()) + TextBlockBytes(var_.RawString().capacity());
}

void TXVarData::Recharge() {
    const int64_t held = HeldBytes();
    if (ChargeScriptBytes(held - charged_)) {
        charged_ = held;
        return;
    }
    // Beyond the budget: the text goes, so that its memory does too.
    FreeTexts();
    const int64_t left = HeldBytes();
    if (ChargeScriptBytes(left - charged_)) charged_ = left;
    throw EScriptError(ScriptMemoryText());
}

void TXVarData::FreeTexts() {
    // Only a move construction takes the block away; assigning an empty
    // text would keep it.
    { std::string gone(std::move(str_)); }
    { Variant gone(std::move(var_)); }
    str_.clear();
    var_.Clear();
}

TXVarData TXVarData::MakeArray(std::string name, int64_t count, TDataType elementType) {
    TXVarData v(std::move(name), dtNone);
    v.array_ = std::make_unique<TvarList>(count, elementType, v.name_);
    return v;
}

TXVarData TXVarData::MakeExternal(std::string name, TDataType type,
                                  std::shared_ptr<const TOnGet> onGet,
                                  std::shared_ptr<const TOnSet> onSet) {
    TXVarData v(std::move(name), type);
    v.external_ = true;
    v.onGet_ = std::move(onGet);
    v.onSet_ = std::move(onSet);
    return v;
}

void TXVarData::Fetch(Variant& out) const {
    if (!onGet_ || !*onGet_) ThrowNoAccessor();
    out.Clear();
    (*onGet_)(name_, out);
}

void TXVarData::Store(const Variant& v) {
    if (!onSet_ || !*onSet_) ThrowNoAccessor();
    (*onSet_)(name_, v);
}

// ---------------------------------------------------------------------------
// Reads

int64_t TXVarData::AsInteger() const {
    if (external_) {
        Variant v;
        Fetch(v);
        return v.IsNull() ? 0 : v.AsInteger();
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return int_;
        case dtDouble:
        case dtDate:
            return TruncToInteger(float_);
        case dtBoolean:
            return byte_;
        case dtVariant:
            return var_.AsInteger();
        default:
            return 0;  // string, char, array
    }
}

double TXVarData::AsFloat() const {
    if (external_) {
        Variant v;
        Fetch(v);
        return v.IsNull() ? 0 : v.AsDouble();
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return static_cast<double>(int_);
        case dtDouble:
        case dtDate:
            return float_;
        case dtVariant:
            return var_.AsDouble();
        default:
            return 0;  // string, char, boolean, array
    }
}

void TXVarData::AppendString(std::string& out) const {
    if (external_) {
        Variant v;
        Fetch(v);
        AppendVariantText(out, v);
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            AppendInteger(out, int_);
            return;
        case dtString:
            out += str_;
            return;
        case dtChar: {
            uint8_t c = CharByte();
            if (c != EmptyChar) out.push_back(static_cast<char>(c));
            return;
        }
        case dtDouble:
            AppendGeneralFloat(out, float_, 15, Settings().decimalSeparator);
            return;
        case dtBoolean:
            out += byte_ ? "T" : "F";
            return;
        case dtDate:
            out += DateToText(float_, Settings());
            return;
        case dtVariant:
            AppendVariantText(out, var_);
            return;
        default:
            return;
    }
}

std::string TXVarData::AsString() const {
    if (!external_ && type_ == dtString) return str_;
    std::string out;
    AppendString(out);
    return out;
}

void TXVarData::ReadVariant(Variant& out) const {
    if (external_) {
        Fetch(out);
        if (type_ == dtDate && out.type() == VarType::String) out.SetDate(out.AsDate());
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            out.SetInteger(int_);
            return;
        case dtString:
            out.SetString(str_);
            return;
        case dtChar: {
            char c = static_cast<char>(CharByte());
            out.SetString(std::string_view(&c, 1));
            return;
        }
        // A date reads as the plain day count, like a double.
        case dtDouble:
        case dtDate:
            out.SetDouble(float_);
            return;
        case dtBoolean:
            out.SetBoolean(byte_ != 0);
            return;
        case dtVariant:
            out.Assign(var_);
            return;
        default:
            out.Clear();
            return;
    }
}

Variant TXVarData::AsVariant() const {
    Variant v;
    ReadVariant(v);
    return v;
}

double TXVarData::AsDateTime() const {
    if (external_) {
        Variant v;
        Fetch(v);
        return VariantAsDateTime(v);
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return static_cast<double>(int_);
        case dtString:
            return Variant(str_).AsDate();
        case dtDouble:
        case dtDate:
            return float_;
        case dtVariant:
            return VariantAsDateTime(var_);
        default:
            return Now();  // char, boolean, array
    }
}

uint8_t TXVarData::AsOrdinal() const {
    if (external_) {
        Variant v;
        Fetch(v);
        return v.IsNull() ? 0 : static_cast<uint8_t>(v.AsInteger() & 0xFF);
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return static_cast<uint8_t>(int_ & 0xFF);
        case dtChar:
            return CharByte();
        case dtDouble:
            return static_cast<uint8_t>(TruncToInteger(float_) & 0xFF);
        case dtBoolean:
            return byte_ ? 1 : 0;
        default:
            return 0;  // string, date, variant, array
    }
}

bool TXVarData::AsBoolean() const {
    if (external_) {
        Variant v;
        Fetch(v);
        return v.IsNull() ? false : v.AsBoolean();
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return int_ != 0;
        case dtString: {
            std::string_view t = TrimView(str_);
            return !t.empty() && t != "0";
        }
        case dtChar: {
            uint8_t c = CharByte();
            return c != 0 && c != '0';
        }
        case dtDouble:
            return float_ != 0;
        case dtBoolean:
            return byte_ != 0;
        default:
            return false;  // date, variant, array
    }
}

uint8_t TXVarData::AsChar() const {
    if (external_) {
        Variant v;
        Fetch(v);
        std::string t;
        AppendVariantText(t, v);
        return t.empty() ? 0 : static_cast<uint8_t>(t[0]);
    }
    return type_ == dtChar ? CharByte() : 0;
}

// ---------------------------------------------------------------------------
// Writes

void TXVarData::SetIntegerClass(int64_t n) {
    switch (type_) {
        case dtInteger:
            int_ = n;
            break;
        case dtWord:
            int_ = n & 0xFFFF;
            break;
        case dtByte:
            int_ = n & 0xFF;
            break;
        default:
            break;
    }
}

void TXVarData::SetInteger(int64_t n) {
    if (external_) {
        Store(Variant(n));
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            SetIntegerClass(n);
            return;
        case dtString:
            str_.clear();
            AppendInteger(str_, n);
            Recount();
            return;
        case dtDouble:
        case dtDate:
            float_ = static_cast<double>(n);
            return;
        case dtBoolean:
            byte_ = n != 0;
            return;
        case dtVariant:
            var_.SetInteger(n);
            return;
        default:
            return;  // char, array
    }
}

void TXVarData::SetWord(uint16_t w) {
    SetInteger(w);
}

void TXVarData::SetByte(uint8_t b) {
    SetInteger(b);
}

void TXVarData::SetFloat(double x) {
    if (external_) {
        Store(Variant(x));
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            SetIntegerClass(TruncToInteger(x));
            return;
        case dtString:
            str_.clear();
            AppendGeneralFloat(str_, x, 15, Settings().decimalSeparator);
            Recount();
            return;
        case dtDouble:
        case dtDate:
            float_ = x;
            return;
        case dtBoolean:
            byte_ = x != 0;
            return;
        case dtVariant:
            var_.SetDouble(x);
            return;
        default:
            return;  // char, array
    }
}

void TXVarData::SetString(std::string_view s) {
    if (external_) {
        Store(Variant(s));
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte: {
            int64_t n;
            if (TryParseInteger(s, n)) SetIntegerClass(n);
            return;
        }
        case dtString:
            str_.assign(s);
            Recount();
            return;
        case dtChar:
            PutCharByte(s.empty() ? EmptyChar : static_cast<uint8_t>(s[0]));
            return;
        case dtDouble: {
            double d;
            if (ParseDecimal(s, d)) float_ = d;
            return;
        }
        case dtDate: {
            double d;
            if (TryParseDate(s, Settings(), d)) float_ = d;
            return;
        }
        case dtBoolean:
            byte_ = s == "T" || SameTextAscii(s, "true");
            return;
        case dtVariant:
            var_.SetString(s);
            Recount();
            return;
        default:
            return;
    }
}

void TXVarData::MoveString(std::string&& s) {
    if (external_) {
        Store(Variant(std::move(s)));
        return;
    }
    switch (type_) {
        case dtString:
            str_ = std::move(s);
            Recount();
            return;
        case dtVariant:
            var_.SetString(std::move(s));
            Recount();
            return;
        default:
            SetString(s);
            return;
    }
}

bool TXVarData::AppendText(const TXVarData& tail, size_t maxLength) {
    if (external_ || shellText_ || type_ != dtString || &tail == this) return false;
    const size_t before = str_.size();
    tail.AppendString(str_);
    if (str_.size() > maxLength) {
        str_.resize(before);
        return false;
    }
    Recount();
    return true;
}

void TXVarData::SetBoolean(bool b) {
    if (external_) {
        Store(Variant(b));
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            int_ = b ? 1 : 0;
            return;
        case dtString:
            str_.assign(b ? "T" : "F");
            return;
        case dtChar:
            PutCharByte(b ? 'T' : 'F');
            return;
        case dtDouble:
        case dtDate:
            float_ = b ? 1.0 : 0.0;
            return;
        case dtBoolean:
            byte_ = b;
            return;
        case dtVariant:
            var_.SetBoolean(b);
            return;
        default:
            return;
    }
}

void TXVarData::SetChar(uint8_t c) {
    char ch = static_cast<char>(c);
    if (external_) {
        Store(Variant(std::string_view(&ch, 1)));
        return;
    }
    switch (type_) {
        case dtString:
            str_.assign(1, ch);
            Recount();
            return;
        case dtChar:
            PutCharByte(c);
            return;
        case dtVariant:
            var_.SetString(std::string_view(&ch, 1));
            Recount();
            return;
        default:
            return;  // numbers, boolean, date, array
    }
}

void TXVarData::SwapInVariant(Variant& v) {
    if (type_ != dtVariant || external_ || array_) {
        SetVariant(v);
        return;
    }
    std::swap(var_, v);
    Recount();
}

void TXVarData::SetVariant(const Variant& v) {
    if (external_) {
        if (type_ == dtDate && v.type() != VarType::Date) {
            Store(Variant::FromDate(v.AsDate()));
            return;
        }
        Store(v);
        return;
    }
    switch (type_) {
        case dtInteger:
        case dtWord:
        case dtByte:
            SetIntegerClass(v.AsInteger());
            return;
        case dtString:
            str_.clear();
            AppendVariantText(str_, v);
            Recount();
            return;
        case dtChar: {
            std::string t;
            AppendVariantText(t, v);
            PutCharByte(t.empty() ? EmptyChar : static_cast<uint8_t>(t[0]));
            return;
        }
        case dtDouble:
            float_ = v.AsDouble();
            return;
        case dtDate:
            float_ = v.AsDate();
            return;
        case dtBoolean:
            // "v <> 0": numbers, booleans and numeric or boolean texts; a
            // Null is not unequal to anything.
            byte_ = v.IsNull() ? 0 : v.AsDouble() != 0;
            return;
        case dtVariant:
            var_.Assign(v);
            Recount();
            return;
        default:
            return;
    }
}

void TXVarData::ResetValue() {
    if (external_ || shellText_) return;
    int_ = 0;
    float_ = 0;
    byte_ = type_ == dtChar ? EmptyChar : 0;
    // A reused activation should not keep a long text's block.
    if (charged_ > kKeptTextBlock) {
        FreeTexts();
        Recount();
    }
    str_.clear();
    var_.Clear();
    if (array_)
        for (int i = 0; i < array_->Count(); ++i)
            array_->Item(i).ResetValue();
}

// ---------------------------------------------------------------------------
// TvarList, TShellArray

namespace {
std::atomic<int64_t> g_liveArrayElements{0};
}

TvarList::TvarList(int64_t count, TDataType elementType, std::string_view arrayName) {
    if (count < 0 || count > kMaxArrayElements ||
        g_liveArrayElements.fetch_add(count) + count > kMaxLiveArrayElements) {
        if (count > 0 && count <= kMaxArrayElements) g_liveArrayElements.fetch_sub(count);
        throw EScriptError(Formatted(kMsgArrayTooLarge, arrayName));
    }
    if (!ChargeScriptBytes(count * static_cast<int64_t>(sizeof(TXVarData)))) {
        g_liveArrayElements.fetch_sub(count);
        throw EScriptError(Formatted(kMsgArrayTooLarge, arrayName));
    }
    try {
        items_.reserve(static_cast<size_t>(count));
        for (int64_t i = 0; i < count; ++i)
            items_.emplace_back(std::string(), elementType);
    } catch (...) {
        ChargeScriptBytes(-count * static_cast<int64_t>(sizeof(TXVarData)));
        g_liveArrayElements.fetch_sub(count);
        throw;
    }
}

TvarList::~TvarList() {
    const int64_t count = static_cast<int64_t>(items_.size());
    ChargeScriptBytes(-count * static_cast<int64_t>(sizeof(TXVarData)));
    g_liveArrayElements.fetch_sub(count);
}

TXVarData& TShellArray::Next() {
    cursor_ = (cursor_ + 1) % 4;
    return shells_[cursor_];
}

// ---------------------------------------------------------------------------
// TVarMngr

TVarMngr::TVarMngr() = default;
TVarMngr::~TVarMngr() = default;

int TVarMngr::AddScalar(std::string name, TDataType type) {
    items_.push_back(std::make_unique<TXVarData>(std::move(name), type));
    return Count() - 1;
}

int TVarMngr::AddArray(std::string name, int64_t count, TDataType elementType) {
    items_.push_back(
        std::make_unique<TXVarData>(TXVarData::MakeArray(std::move(name), count, elementType)));
    return Count() - 1;
}

int TVarMngr::AddExternal(std::string name, TDataType type) {
    if (IndexOf(name) >= 0) return -1;
    items_.push_back(std::make_unique<TXVarData>(
        TXVarData::MakeExternal(std::move(name), type, onGet_, onSet_)));
    return Count() - 1;
}

int TVarMngr::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->name_ == name) return static_cast<int>(i);
    return -1;
}

void TVarMngr::Clear() {
    items_.clear();
}

void TVarMngr::ResetValues() {
    for (auto& v : items_)
        v->ResetValue();
}

TXVarData* TVarMngr::ElementAt(int position, int64_t i) {
    if (position < 0 || position >= Count()) throw EScriptError(kMsgAddressOutOfRange);
    TXVarData& v = *items_[static_cast<size_t>(position)];
    if (v.external_) return nullptr;  // no storage to point into
    if (v.array_) {
        if (i < 0 || i >= v.array_->Count()) throw EScriptError(kMsgAddressOutOfRange);
        return &v.array_->Item(static_cast<int>(i));
    }
    if (v.type_ == dtString) {
        if (i < 1 || i > static_cast<int64_t>(v.str_.size()))
            throw EScriptError(kMsgAddressOutOfRange);
        TXVarData& shell = NextShell();
        shell.shellText_ = &v.str_;
        shell.shellPos_ = static_cast<size_t>(i - 1);
        return &shell;
    }
    return nullptr;
}

void TVarMngr::SetGetHandler(TOnGet handler) {
    onGet_ = std::make_shared<const TOnGet>(std::move(handler));
    for (auto& v : items_)
        if (v->external_) v->onGet_ = onGet_;
}

void TVarMngr::SetSetHandler(TOnSet handler) {
    onSet_ = std::make_shared<const TOnSet>(std::move(handler));
    for (auto& v : items_)
        if (v->external_) v->onSet_ = onSet_;
}

void TVarMngr::ShareHandlersFrom(const TVarMngr& other) {
    onGet_ = other.onGet_;
    onSet_ = other.onSet_;
    for (auto& v : items_) {
        if (!v->external_) continue;
        v->onGet_ = onGet_;
        v->onSet_ = onSet_;
    }
}

}  // namespace corvane
