#include "platform/StringsFile.h"

#include "platform/Log.h"
#include "platform/RegularFile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <optional>

namespace platform {
namespace {

// Tables of an application hold a few hundred texts at most.
constexpr size_t kLargestTable = 4 << 20;

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
char32_t combine(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](size_t i) -> char32_t {
        auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (isHighSurrogate(c) && i + 3 < bytes.size() && isLowSurrogate(unit(i + 2))) {
            c = combine(c, unit(i + 2));
            i += 2;
        }
        appendUtf8(out, c);
    }
    return out;
}

bool isTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '+' || c == '/' ||
           c == ':' || c == '.' || c == '-';
}

// One pass over the decoded text; stops at the first error.
class Parser {
public:
    Parser(std::string_view text, const std::string& origin) : mText(text), mOrigin(origin) {}

    StringsFile::Table run() {
        StringsFile::Table table;
        while (skipSpaceAndComments() && mPos < mText.size()) {
            auto key = token("a key");
            if (!key || !skipSpaceAndComments()) break;
            std::string value = *key;
            if (peek() == '=') {
                ++mPos;
                if (!skipSpaceAndComments()) break;
                auto text = token("a value after '='");
                if (!text || !skipSpaceAndComments()) break;
                value = std::move(*text);
            }
            if (peek() != ';') {
                fail("expected ';' after the entry for \"" + *key + "\"");
                break;
            }
            ++mPos;
            table[*key] = std::move(value);
        }
        return table;
    }

private:
    char peek() const { return mPos < mText.size() ? mText[mPos] : '\0'; }

    void fail(const std::string& what) {
        int line = 1;
        for (size_t i = 0; i < mPos && i < mText.size(); ++i) line += mText[i] == '\n';
        Log::warning("strings file %s:%d: %s; the rest of the file is ignored", mOrigin.c_str(), line, what.c_str());
    }

    bool skipSpaceAndComments() {
        while (mPos < mText.size()) {
            if (std::isspace(static_cast<unsigned char>(mText[mPos]))) {
                ++mPos;
            } else if (mText.compare(mPos, 2, "//") == 0) {
                mPos = mText.find('\n', mPos);
                if (mPos == std::string_view::npos) mPos = mText.size();
            } else if (mText.compare(mPos, 2, "/*") == 0) {
                const size_t end = mText.find("*/", mPos + 2);
                if (end == std::string_view::npos) {
                    fail("unterminated comment");
                    return false;
                }
                mPos = end + 2;
            } else {
                return true;
            }
        }
        return true;
    }

    std::optional<std::string> token(const char* what) {
        if (peek() == '"') return quoted();
        const size_t start = mPos;
        while (mPos < mText.size() && isTokenChar(mText[mPos])) ++mPos;
        if (mPos == start) {
            fail(std::string("expected ") + what);
            return std::nullopt;
        }
        return std::string(mText.substr(start, mPos - start));
    }

    std::optional<std::string> quoted() {
        ++mPos;
        std::string out;
        while (mPos < mText.size()) {
            const char c = mText[mPos++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
            } else if (mPos < mText.size()) {
                escape(out);
            }
        }
        fail("unterminated quoted string");
        return std::nullopt;
    }

    unsigned digits(int base, int maxCount) {
        unsigned value = 0;
        for (int n = 0; n < maxCount && mPos < mText.size(); ++n) {
            const char c = mText[mPos];
            const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                              : (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
                                  ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                  : -1;
            if (digit < 0 || digit >= base) break;
            value = value * base + digit;
            ++mPos;
        }
        return value;
    }

    char32_t unicodeEscape() {
        char32_t c = digits(16, 4);
        const bool pairFollows = mText.compare(mPos, 2, "\\U") == 0 || mText.compare(mPos, 2, "\\u") == 0;
        if (isHighSurrogate(c) && pairFollows) {
            const size_t saved = mPos;
            mPos += 2;
            const char32_t low = digits(16, 4);
            if (isLowSurrogate(low)) return combine(c, low);
            mPos = saved;
        }
        return c;
    }

    void escape(std::string& out) {
        const char c = mText[mPos++];
        switch (c) {
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'v': out += '\v'; break;
            case 'U':
            case 'u': appendUtf8(out, unicodeEscape()); break;
            default:
                if (c >= '0' && c <= '7') {
                    --mPos;
                    appendUtf8(out, digits(8, 3));
                } else {
                    out += c;  // \" \' \\ and any other character stand for themselves
                }
        }
    }

    std::string_view mText;
    const std::string& mOrigin;
    size_t mPos = 0;
};

}  // namespace

std::string StringsFile::decode(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return utf16ToUtf8(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return utf16ToUtf8(bytes.substr(2), true);
    return std::string(bytes);
}

StringsFile::Table StringsFile::parse(std::string_view bytes, const std::string& origin) {
    const std::string text = decode(bytes);
    return Parser(text, origin).run();
}

StringsFile::Table StringsFile::read(const std::string& path) {
    // A bundle may lack a table (the fixed default texts stand in), so a
    // missing file is no failure; one that cannot be read is.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return {};
    Result<std::string> bytes = readRegularFile(path, kLargestTable);
    if (!bytes) {
        Log::warning("strings table %s cannot be read: %s; its default texts are used", path.c_str(),
                     bytes.message().c_str());
        return {};
    }
    return parse(*bytes, path);
}

}  // namespace platform
