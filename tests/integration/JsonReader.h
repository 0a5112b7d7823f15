// A small strict JSON reader for the tests: what the command line prints must parse as JSON.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvale::testing {

// A JSON value: null, a boolean, a number, a string (UTF-8), an array or an object.
struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    const std::string& string() const { return std::get<std::string>(value); }
    const Array& array() const { return std::get<Array>(value); }
    const Object& object() const { return std::get<Object>(value); }
    bool isNull() const { return std::holds_alternative<std::nullptr_t>(value); }
};

// Parses a whole document as RFC 8259 has it (whitespace around it allowed); nullopt when the
// text is not one JSON value: a control character unescaped in a string, a bad escape, a
// trailing comma, text after the value.
class JsonReader {
public:
    static std::optional<JsonValue> parse(std::string_view text) {
        JsonReader reader(text);
        std::optional<JsonValue> value = reader.value();
        reader.space();
        if (!value || reader.at_ != text.size()) return std::nullopt;
        return value;
    }

private:
    explicit JsonReader(std::string_view text) : text_(text) {}

    void space() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
    }
    bool take(char c) {
        space();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w) return false;
        at_ += w.size();
        return true;
    }

    std::optional<JsonValue> value() {
        space();
        if (at_ >= text_.size()) return std::nullopt;
        const char c = text_[at_];
        if (c == '"') {
            auto s = string();
            return s ? std::optional<JsonValue>(JsonValue{*s}) : std::nullopt;
        }
        if (c == '[') return array();
        if (c == '{') return object();
        if (word("null")) return JsonValue{nullptr};
        if (word("true")) return JsonValue{true};
        if (word("false")) return JsonValue{false};
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               std::string_view("+-.eE0123456789").find(text_[at_]) != std::string_view::npos) {
            ++at_;
        }
        if (at_ == start) return std::nullopt;
        return JsonValue{std::stod(std::string(text_.substr(start, at_ - start)))};
    }

    std::optional<JsonValue> array() {
        ++at_;
        JsonValue::Array items;
        if (take(']')) return JsonValue{std::move(items)};
        do {
            auto item = value();
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
        } while (take(','));
        if (!take(']')) return std::nullopt;
        return JsonValue{std::move(items)};
    }

    std::optional<JsonValue> object() {
        ++at_;
        JsonValue::Object members;
        if (take('}')) return JsonValue{std::move(members)};
        do {
            space();
            auto key = at_ < text_.size() && text_[at_] == '"' ? string() : std::nullopt;
            if (!key || !take(':')) return std::nullopt;
            auto member = value();
            if (!member) return std::nullopt;
            members[*key] = std::move(*member);
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return JsonValue{std::move(members)};
    }

    // A string with its escapes resolved; \u escapes of the basic plane only, as the tool
    // writes none other.
    std::optional<std::string> string() {
        ++at_;
        std::string out;
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return out;
            if (c < 0x20) return std::nullopt;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) return std::nullopt;
            const char e = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt";
            const std::string_view meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t i = simple.find(e); i != std::string_view::npos) {
                out += meant[i];
            } else if (e == 'u' && at_ + 4 <= text_.size()) {
                const unsigned code = std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16);
                at_ += 4;
                if (code < 0x80) {
                    out += static_cast<char>(code);
                } else if (code < 0x800) {
                    out += static_cast<char>(0xC0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                }
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace norvale::testing
