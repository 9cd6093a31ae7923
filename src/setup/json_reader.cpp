#include "setup/json_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace varek {

namespace {

// Deeper nesting than any document of ours needs; a bound keeps a hostile
// text from exhausting the stack.
constexpr int kMaxDepth = 32;

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool Document(JsonValue& value) {
        SkipSpace();
        if (!Value(value, 0)) return false;
        SkipSpace();
        if (at_ != text_.size()) return Fail("text after the end of the document");
        return true;
    }

    std::string error() const { return error_; }

private:
    // Where the reader is, for a message: "line 3, column 9".
    std::string Place() const {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column);
    }

    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = "not JSON: " + Place() + ": " + why;
        return false;
    }

    void SkipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool Literal(const char* word) {
        const std::string expected(word);
        if (text_.compare(at_, expected.size(), expected) != 0) return Fail("not JSON");
        at_ += expected.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaxDepth) return Fail("nested more than " + std::to_string(kMaxDepth) + " deep");
        if (at_ >= text_.size()) return Fail("the document ends where a value should be");
        switch (text_[at_]) {
        case '{': return Object(value, depth);
        case '[': return Array(value, depth);
        case '"': value.kind = JsonValue::Kind::String; return String(value.text);
        case 't':
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = true;
            return Literal("true");
        case 'f': value.kind = JsonValue::Kind::Boolean; return Literal("false");
        case 'n': value.kind = JsonValue::Kind::Null; return Literal("null");
        default: return Number(value);
        }
    }

    bool Object(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        ++at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
        while (true) {
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != '"') return Fail("a key in double quotes expected");
            const std::size_t key_at = at_;
            std::string key;
            if (!String(key)) return false;
            for (const auto& member : value.members) {
                if (member.first == key) {
                    at_ = key_at;
                    path_.push_back(key);
                    error_ = Path() + ": given twice (" + Place() + ")";
                    return false;
                }
            }
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != ':') return Fail("':' expected after a key");
            ++at_;
            SkipSpace();
            value.members.emplace_back(key, JsonValue{});
            path_.push_back(key);
            if (!Value(value.members.back().second, depth + 1)) return false;
            path_.pop_back();
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
            return Fail("',' or '}' expected");
        }
    }

    bool Array(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        ++at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
        while (true) {
            SkipSpace();
            value.items.emplace_back();
            if (!Value(value.items.back(), depth + 1)) return false;
            SkipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
            return Fail("',' or ']' expected");
        }
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(std::uint32_t& code) {
        if (at_ + 4 > text_.size()) return Fail("a \\u escape needs four hex digits");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return Fail("a \\u escape needs four hex digits");
            code = code * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    bool String(std::string& out) {
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) break;
            const char escaped = text_[at_++];
            switch (escaped) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = 0;
                if (!Hex4(code)) return false;
                if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                    at_ += 2;
                    std::uint32_t low = 0;
                    if (!Hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate in a \\u escape");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code <= 0xDFFF) {
                    return Fail("a lone surrogate in a \\u escape");
                }
                AppendUtf8(out, code);
                break;
            }
            default: --at_; return Fail("an unknown escape in a string");
            }
        }
        return Fail("a string that does not end");
    }

    bool Digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        return at_ > start;
    }

    bool Number(JsonValue& value) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const std::size_t first_digit = at_;
        if (!Digits()) return Fail("not JSON");
        if (text_[first_digit] == '0' && at_ - first_digit > 1) return Fail("a number with a leading zero");
        const std::size_t integer_end = at_;
        bool integral = true;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            const std::size_t fraction = at_;
            if (!Digits()) return Fail("digits expected after '.'");
            // 12345.0 is the whole number 12345, as many writers put it.
            integral = text_.find_first_not_of('0', fraction) >= at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            integral = false;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!Digits()) return Fail("digits expected in an exponent");
        }
        const std::string literal = text_.substr(start, at_ - start);
        value.kind = JsonValue::Kind::Number;
        value.text = literal;
        value.number = std::strtod(literal.c_str(), nullptr);
        if (integral) {
            errno = 0;
            const long long whole =
                std::strtoll(text_.substr(start, integer_end - start).c_str(), nullptr, 10);
            value.whole = errno == 0;
            value.whole_number = whole;
        }
        return true;
    }

    // The keys from the top to the value being read, joined with dots.
    std::string Path() const {
        std::string joined;
        for (const std::string& key : path_) joined += (joined.empty() ? "" : ".") + key;
        return joined;
    }

    const std::string& text_;
    std::vector<std::string> path_;
    std::size_t at_ = 0;
    std::string error_;
};

}  // namespace

bool ReadJson(const std::string& text, JsonValue& value, std::string& error) {
    Reader reader(text);
    value = JsonValue{};
    if (reader.Document(value)) return true;
    error = reader.error();
    return false;
}

std::string JsonQuoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return "true or false";
    case JsonValue::Kind::Number: return "a number";
    case JsonValue::Kind::String: return "a string";
    case JsonValue::Kind::Object: return "an object";
    case JsonValue::Kind::Array: return "an array";
    }
    return "a value";
}

}  // namespace varek
