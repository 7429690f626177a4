// U_projectFile: see U_projectFile.h.
#include "ui/U_projectFile.h"

#include <iconv.h>

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamReader>
#include <cerrno>

#include "platform/Text.h"

namespace corvane {

namespace {

constexpr const char* kGbkDeclaration = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>";
constexpr const char* kUtf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

// A "]]>" cannot stand inside one CDATA section: end the section after
// "]]" and start a new one for the ">".
std::string CData(const std::string& text) {
    std::string out = "<![CDATA[";
    size_t pos = 0;
    for (size_t hit; (hit = text.find("]]>", pos)) != std::string::npos; pos = hit + 3)
        out.append(text, pos, hit - pos).append("]]]]><![CDATA[>");
    out.append(text, pos, std::string::npos).append("]]>");
    return out;
}

std::string EscapeAttribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '"':
                out += "&quot;";
                break;
            // A reader folds a raw line break or tab in an attribute into a
            // blank; as references they read back as themselves.
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Every line break (CR LF, LF or a lone CR) becomes CR LF.
std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string WithLf(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

// prolog = [BOM] "<?xml" { attribute } "?>" ; the value of encoding="..."
// or encoding='...', or the empty string when there is none.
std::string DeclaredEncoding(const std::string& bytes) {
    size_t start = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    if (bytes.compare(start, 5, "<?xml") != 0) return {};
    size_t end = bytes.find("?>", start);
    if (end == std::string::npos) return {};
    std::string prolog = bytes.substr(start, end - start);
    size_t at = prolog.find("encoding");
    if (at == std::string::npos) return {};
    at = prolog.find('=', at);
    if (at == std::string::npos) return {};
    at = prolog.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || (prolog[at] != '"' && prolog[at] != '\'')) return {};
    size_t close = prolog.find(prolog[at], at + 1);
    if (close == std::string::npos) return {};
    return Trim(prolog.substr(at + 1, close - at - 1));
}

// The iconv name for a declared encoding; empty for UTF-8.
std::string DecoderFor(const std::string& declared) {
    std::string name = UpperCaseAscii(declared);
    if (name.empty() || name == "UTF-8" || name == "UTF8") return {};
    if (name == "GB2312" || name == "GBK" || name == "CP936" || name == "MS936" ||
        name == "WINDOWS-936" || name == "X-GBK" || name == "EUC-CN")
        return "GBK";
    return name;
}

// The text content of the current element: every text and CDATA part up to
// its end tag (nested elements contribute their text too).
bool ReadText(QXmlStreamReader& xml, std::string& out) {
    QString text;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::Characters:
                text += xml.text();
                break;
            default:
                break;
        }
    }
    if (xml.hasError()) return false;
    out = WithLf(text.toStdString());
    return true;
}

}  // namespace

bool ConvertEncoding(const std::string& from, const std::string& to, const std::string& input,
                     std::string& output) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1)) {
            if (errno == E2BIG) {
                size_t used = static_cast<size_t>(dst - out.data());
                out.resize(out.size() * 2);
                dst = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            ok = false;
            break;
        }
    }
    if (ok && iconv(cd, nullptr, nullptr, &dst, &outLeft) == static_cast<size_t>(-1)) ok = false;
    iconv_close(cd);
    if (!ok) return false;
    out.resize(static_cast<size_t>(dst - out.data()));
    output = std::move(out);
    return true;
}

std::string FormatProject(const TProjectData& project) {
    std::string body = "<corvane><dirlist>";
    for (const TProjectDir& dir : project.dirs)
        body += "<dir alias='" + EscapeAttribute(dir.alias) + "'>" +
                CData(FormatDirOption(dir.option)) + "</dir>";
    body += "</dirlist><sql>" + CData(project.sql) + "</sql></corvane>";
    std::string text = WithCrLf(body) + "\r\n";
    std::string gbk;
    if (ConvertEncoding("UTF-8", "GBK", text, gbk)) return kGbkDeclaration + gbk;
    return kUtf8Declaration + text;
}

bool ParseProject(const std::string& bytes, TProjectData& project, std::string& error) {
    QXmlStreamReader xml;
    const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFE' && bytes[1] == '\xFF') ||
                                             (bytes[0] == '\xFF' && bytes[1] == '\xFE'));
    std::string declared = utf16 ? std::string() : DeclaredEncoding(bytes);
    std::string decoder = DecoderFor(declared);
    std::string utf8;
    if (utf16) {
        xml.addData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    } else {
        if (decoder.empty()) {
            utf8 = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? bytes.substr(3) : bytes;
        } else if (!ConvertEncoding(decoder, "UTF-8", bytes, utf8)) {
            iconv_t probe = iconv_open("UTF-8", decoder.c_str());
            if (probe == reinterpret_cast<iconv_t>(-1)) {
                error = "项目文件的编码不受支持：" + declared;
            } else {
                iconv_close(probe);
                error = "项目文件的内容不是有效的 " + declared + " 编码文本";
            }
            return false;
        }
        QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        if (decoder.empty() &&
            text.toUtf8() != QByteArray(utf8.data(), static_cast<qsizetype>(utf8.size()))) {
            error = "项目文件的内容不是有效的 UTF-8 编码文本";
            return false;
        }
        xml.addData(text);
    }

    TProjectData read;
    bool haveSql = false, haveDirs = false;
    int depth = 0;
    while (!xml.atEnd()) {
        QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement) continue;
        ++depth;
        if (depth != 2) continue;  // only the root element's children count
        if (xml.name() == QLatin1String("sql") && !haveSql) {
            haveSql = true;
            if (!ReadText(xml, read.sql)) break;
            --depth;
        } else if (xml.name() == QLatin1String("dirlist") && !haveDirs) {
            haveDirs = true;
            // dirlist = { dir } ; dir = "<dir alias='...'>" table-text "</dir>"
            while (!xml.atEnd()) {
                token = xml.readNext();
                if (token == QXmlStreamReader::EndElement) break;  // </dirlist>
                if (token != QXmlStreamReader::StartElement) continue;
                TProjectDir dir;
                dir.alias = xml.attributes().value(QLatin1String("alias")).toString().toStdString();
                std::string tableText;
                if (!ReadText(xml, tableText)) break;
                // One table text that does not parse costs that table only.
                if (!ParseDirOption(tableText, dir.option)) {
                    read.skipped.push_back({dir.alias, tableText});
                    continue;
                }
                read.dirs.push_back(std::move(dir));
            }
            --depth;
        }
    }
    if (xml.hasError()) {
        error = "项目文件格式错误（第" + std::to_string(xml.lineNumber()) + "行）：" +
                xml.errorString().toStdString();
        return false;
    }
    if (!haveSql || !haveDirs) {
        error = std::string("项目文件缺少“") + (haveDirs ? "sql" : "dirlist") + "”元素";
        return false;
    }
    project = std::move(read);
    return true;
}

bool LoadProjectFile(const std::string& path, TProjectData& project, std::string& error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "无法打开文件 " + path + "：" + file.errorString().toStdString();
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = "无法读取文件 " + path + "：" + file.errorString().toStdString();
        return false;
    }
    return ParseProject(bytes.toStdString(), project, error);
}

bool SaveProjectFile(const std::string& path, const TProjectData& project, std::string& error) {
    std::string bytes = FormatProject(project);
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        error = "无法保存文件 " + path + "：" + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace corvane
