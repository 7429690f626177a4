// corvane-cli on file names with line breaks, quotes, commas, backslashes,
// control characters and bytes that are not UTF-8: the CSV output reads
// back byte for byte with a strict RFC 4180 reader, the JSON output is a
// valid document (strict grammar, valid UTF-8) whose strings decode to the
// names (bytes that are not UTF-8 as U+FFFD), and the table format keeps
// one line per row.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CliProcess.h"

namespace {

#ifdef CORVANE_CLI_PATH

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// A strict RFC 4180 reader
//
// file   = record *(CRLF record) [CRLF]
// record = field *("," field)
// field  = escaped / non-escaped
// escaped = DQUOTE *(TEXTDATA / "," / CR / LF / 2DQUOTE) DQUOTE
// non-escaped = *TEXTDATA          (any byte but "," DQUOTE CR LF)

bool ReadCsv(const std::string& text, std::vector<std::vector<std::string>>& records,
             std::string& error) {
    size_t i = 0;
    const size_t n = text.size();
    records.clear();
    while (i < n) {
        std::vector<std::string> record;
        for (;;) {
            std::string field;
            if (i < n && text[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= n) {
                        error = "unterminated quoted field";
                        return false;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += text[i++];
                }
            } else {
                while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                    if (text[i] == '"') {
                        error = "quote in an unquoted field at " + std::to_string(i);
                        return false;
                    }
                    field += text[i++];
                }
            }
            record.push_back(field);
            if (i < n && text[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        if (text.compare(i, 2, "\r\n") == 0) {
            i += 2;
        } else if (i < n) {
            error = "bad byte after a field at " + std::to_string(i);
            return false;
        }
        records.push_back(record);
    }
    return true;
}

// ---------------------------------------------------------------------------
// A strict JSON reader (RFC 8259), which also insists on valid UTF-8

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    std::string text;  // String: decoded; Number: as written; Bool: "true"/"false"
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& s) : s_(s) {}
    bool Read(Json& out) {
        Ws();
        if (!Value(out, 0)) return false;
        Ws();
        return pos_ == s_.size() || Fail("text after the document");
    }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = why + " at " + std::to_string(pos_);
        return false;
    }
    void Ws() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Lit(const char* word) {
        const std::string w = word;
        if (s_.compare(pos_, w.size(), w) != 0) return Fail("bad literal");
        pos_ += w.size();
        return true;
    }
    bool Value(Json& v, int depth) {
        if (depth > 64) return Fail("too deep");
        if (pos_ >= s_.size()) return Fail("value expected");
        const char c = s_[pos_];
        if (c == '{') return ObjectValue(v, depth);
        if (c == '[') return ArrayValue(v, depth);
        if (c == '"') {
            v.kind = Json::String;
            return Str(v.text);
        }
        if (c == 't' || c == 'f') {
            v.kind = Json::Bool;
            v.text = c == 't' ? "true" : "false";
            return Lit(v.text.c_str());
        }
        if (c == 'n') {
            v.kind = Json::Null;
            return Lit("null");
        }
        v.kind = Json::Number;
        return Num(v.text);
    }
    bool ObjectValue(Json& v, int depth) {
        v.kind = Json::Object;
        ++pos_;
        Ws();
        if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
        for (;;) {
            Ws();
            std::string key;
            if (pos_ >= s_.size() || s_[pos_] != '"' || !Str(key)) return Fail("key expected");
            Ws();
            if (pos_ >= s_.size() || s_[pos_++] != ':') return Fail("':' expected");
            Ws();
            Json item;
            if (!Value(item, depth + 1)) return false;
            v.members.emplace_back(key, item);
            Ws();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
            return Fail("',' or '}' expected");
        }
    }
    bool ArrayValue(Json& v, int depth) {
        v.kind = Json::Array;
        ++pos_;
        Ws();
        if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
        for (;;) {
            Ws();
            Json item;
            if (!Value(item, depth + 1)) return false;
            v.items.push_back(item);
            Ws();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
            return Fail("',' or ']' expected");
        }
    }
    bool Num(std::string& out) {
        const size_t start = pos_;
        auto digits = [&] {
            const size_t b = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            return pos_ > b;
        };
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0') {
            ++pos_;
        } else if (!digits()) {
            return Fail("number expected");
        }
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (!digits()) return Fail("digits expected");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (!digits()) return Fail("exponent expected");
        }
        out = s_.substr(start, pos_ - start);
        return true;
    }
    static void PutUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool Hex4(uint32_t& v) {
        if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return Fail("bad hex digit");
        }
        return true;
    }
    // One raw UTF-8 sequence, strictly (no overlongs, no surrogates).
    bool Utf8(std::string& out) {
        const auto b = [&](size_t k) { return static_cast<unsigned char>(s_[k]); };
        const unsigned char c = b(pos_);
        size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (len == 0 || pos_ + len > s_.size()) return Fail("invalid UTF-8");
        uint32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
        for (size_t k = 1; k < len; ++k) {
            if ((b(pos_ + k) & 0xC0) != 0x80) return Fail("invalid UTF-8");
            cp = (cp << 6) | (b(pos_ + k) & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return Fail("invalid UTF-8");
        out.append(s_, pos_, len);
        pos_ += len;
        return true;
    }
    bool Str(std::string& out) {
        ++pos_;  // the opening quote
        out.clear();
        for (;;) {
            if (pos_ >= s_.size()) return Fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return Fail("control character in a string");
            if (c >= 0x80) {
                if (!Utf8(out)) return false;
                continue;
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                ++pos_;
                continue;
            }
            if (++pos_ >= s_.size()) return Fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!Hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("lone low surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low = 0;
                        if (s_.compare(pos_, 2, "\\u") != 0) return Fail("lone high surrogate");
                        pos_ += 2;
                        if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                            return Fail("bad surrogate pair");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    PutUtf8(out, cp);
                    break;
                }
                default:
                    return Fail("bad escape");
            }
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

// ---------------------------------------------------------------------------

struct Name {
    std::string raw;   // the name on disk
    std::string json;  // how JSON shows it: bytes that are not UTF-8 as U+FFFD
};

const std::string kFffd = "\xef\xbf\xbd";

const std::vector<Name>& Names() {
    static const std::vector<Name> names = {
        {"new\nline.txt", "new\nline.txt"},
        {"cr\r.txt", "cr\r.txt"},
        {"crlf\r\n.txt", "crlf\r\n.txt"},
        {"quote\"d.txt", "quote\"d.txt"},
        {"\"\".txt", "\"\".txt"},
        {"apo's.txt", "apo's.txt"},
        {"comma,name.txt", "comma,name.txt"},
        {"back\\slash.txt", "back\\slash.txt"},
        {"tab\t.txt", "tab\t.txt"},
        {"ctl\x01\x1f.txt", "ctl\x01\x1f.txt"},
        {"esc\x1b[31m.txt", "esc\x1b[31m.txt"},
        {"del\x7f.txt", "del\x7f.txt"},
        {" lead.txt", " lead.txt"},
        {"中文.txt", "中文.txt"},
        {"bom\xef\xbb\xbf.txt", "bom\xef\xbb\xbf.txt"},
        {"ls\xe2\x80\xa8.txt", "ls\xe2\x80\xa8.txt"},
        {"emoji\xf0\x9f\x98\x80.txt", "emoji\xf0\x9f\x98\x80.txt"},
        {"bad\xff\xfe.txt", "bad" + kFffd + kFffd + ".txt"},
        {"cut\xe4\xb8.txt", "cut" + kFffd + kFffd + ".txt"},
        {"overlong\xc0\xaf.txt", "overlong" + kFffd + kFffd + ".txt"},
        {"surrogate\xed\xa0\x80.txt", "surrogate" + kFffd + kFffd + kFffd + ".txt"},
    };
    return names;
}

const std::string kOddDir = "dir\nwith\",odd\\chars\r";
const std::string kOddDirJson = "dir\nwith\",odd\\chars\r";
const std::string kInner = "inner\xff\r\n.txt";
const std::string kInnerJson = "inner" + kFffd + "\r\n.txt";

class HostileNames : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/corvane-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        tree_ = root_ + "/tree";
        ASSERT_EQ(::mkdir(tree_.c_str(), 0755), 0);
        for (const Name& n : Names())
            Touch(tree_ + "/" + n.raw);
        ASSERT_EQ(::mkdir((tree_ + "/" + kOddDir).c_str(), 0755), 0);
        Touch(tree_ + "/" + kOddDir + "/" + kInner);
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Touch(const std::string& path) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(::write(fd, "12345", 5), 5);
        ::close(fd);
    }

    // Runs corvane-cli; standard output and the exit code.
    std::pair<std::string, int> Run(const std::vector<std::string>& args) {
        const corvane::testing::CliResult r =
            corvane::testing::RunCli(CORVANE_CLI_PATH, args, root_);
        return {r.out, r.code};
    }

    std::string Query() const {
        return "select path, filename, extension, size, isdir, lastwritetime from '" + tree_ +
               " /s/all'";
    }

    std::string root_, tree_;
};

TEST_F(HostileNames, CsvReadsBackByteForByte) {
    auto [out, code] = Run({"--format", "csv", Query()});
    ASSERT_EQ(code, 0);
    std::vector<std::vector<std::string>> records;
    std::string error;
    ASSERT_TRUE(ReadCsv(out, records, error)) << error;
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], (std::vector<std::string>{"path", "filename", "extension", "size",
                                                    "isdir", "lastwritetime"}));
    std::map<std::string, std::vector<std::string>> byName;
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(records[i].size(), 6u) << i;
        byName[records[i][1]] = records[i];
    }
    EXPECT_EQ(records.size(), 1 + Names().size() + 2);
    for (const Name& n : Names()) {
        ASSERT_TRUE(byName.count(n.raw)) << n.json;
        EXPECT_EQ(byName[n.raw][0], tree_);
        EXPECT_EQ(byName[n.raw][2], "txt");
        EXPECT_EQ(byName[n.raw][3], "5");
        EXPECT_EQ(byName[n.raw][4], "False");
    }
    ASSERT_TRUE(byName.count(kOddDir));
    EXPECT_EQ(byName[kOddDir][4], "True");
    ASSERT_TRUE(byName.count(kInner));
    EXPECT_EQ(byName[kInner][0], tree_ + "/" + kOddDir);
}

TEST_F(HostileNames, JsonIsValidAndDecodesToTheNames) {
    auto [out, code] = Run({"--format", "json", Query()});
    ASSERT_EQ(code, 0);
    Json doc;
    JsonReader reader(out);
    ASSERT_TRUE(reader.Read(doc)) << reader.Error();
    ASSERT_EQ(doc.kind, Json::Array);
    EXPECT_EQ(doc.items.size(), Names().size() + 2);
    std::map<std::string, const Json*> byName;
    for (const Json& row : doc.items) {
        ASSERT_EQ(row.kind, Json::Object);
        ASSERT_EQ(row.members.size(), 6u);
        const char* keys[] = {"path", "filename", "extension", "size", "isdir", "lastwritetime"};
        for (size_t k = 0; k < 6; ++k)
            EXPECT_EQ(row.members[k].first, keys[k]);
        EXPECT_EQ(row.members[3].second.kind, Json::Number);
        EXPECT_EQ(row.members[4].second.kind, Json::Bool);
        EXPECT_EQ(row.members[5].second.kind, Json::String);
        byName[row.members[1].second.text] = &row;
    }
    for (const Name& n : Names()) {
        ASSERT_TRUE(byName.count(n.json)) << n.json;
        const Json& row = *byName[n.json];
        EXPECT_EQ(row.members[0].second.text, tree_);
        EXPECT_EQ(row.members[3].second.text, "5");
        EXPECT_EQ(row.members[4].second.text, "false");
    }
    ASSERT_TRUE(byName.count(kInnerJson));
    EXPECT_EQ(byName[kInnerJson]->members[0].second.text, tree_ + "/" + kOddDirJson);
}

TEST_F(HostileNames, TableKeepsOneLinePerRow) {
    auto [out, code] = Run({Query()});
    ASSERT_EQ(code, 0);
    size_t lines = 0;
    for (char c : out) {
        lines += c == '\n';
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n')
            << "control byte " << static_cast<int>(c);
    }
    EXPECT_EQ(lines, 2 + Names().size() + 2);  // header, rule, rows
}

#endif  // CORVANE_CLI_PATH

}  // namespace
