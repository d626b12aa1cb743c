#include "bridge/PageJSON.hpp"

#include "lib/text/ScriptNumber.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace wheelbox {
namespace json = boost::json;

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `at` (2 to 4), or 0 and in `invalid` the length
// of its maximal ill-formed subpart, which is replaced by one U+FFFD (as WHATWG decoders do).
std::size_t sequenceLength(std::string_view text, std::size_t at, std::size_t &invalid) noexcept
{
    auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        else if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        else if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        invalid = 1;
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size()) {
            invalid = i;
            return 0;
        }
        unsigned char next = byte(at + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            invalid = i;
            return 0;
        }
    }
    return length;
}

void appendEscape(std::string &out, unsigned char c)
{
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0xF];
    }
}

template <typename Integer> void appendInteger(std::string &out, Integer value)
{
    std::array<char, 24> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    (void)error; // 24 characters hold every 64-bit integer
    out.append(buffer.data(), end);
}

class Writer {
  public:
    explicit Writer(std::string &out) : out_(out) {}

    bool write(const json::value &value, int depth)
    {
        switch (value.kind()) {
        case json::kind::null:
            out_ += "null";
            return true;
        case json::kind::bool_:
            out_ += value.get_bool() ? "true" : "false";
            return true;
        case json::kind::int64:
            appendInteger(out_, value.get_int64());
            return true;
        case json::kind::uint64:
            appendInteger(out_, value.get_uint64());
            return true;
        case json::kind::double_:
            if (!std::isfinite(value.get_double()))
                return false;
            out_ += formatScriptNumber(value.get_double());
            return true;
        case json::kind::string:
            appendPageJSONString(out_, value.get_string());
            return true;
        case json::kind::array:
            return writeArray(value.get_array(), depth + 1);
        case json::kind::object:
            return writeObject(value.get_object(), depth + 1);
        }
        return false;
    }

  private:
    bool writeArray(const json::array &array, int depth)
    {
        if (depth > maximumPageJSONDepth)
            return false;
        out_ += '[';
        bool first = true;
        for (const auto &element : array) {
            if (!first)
                out_ += ',';
            first = false;
            if (!write(element, depth))
                return false;
        }
        out_ += ']';
        return true;
    }

    bool writeObject(const json::object &object, int depth)
    {
        if (depth > maximumPageJSONDepth)
            return false;
        out_ += '{';
        bool first = true;
        for (const auto &member : object) {
            if (!first)
                out_ += ',';
            first = false;
            appendPageJSONString(out_, member.key());
            out_ += ':';
            if (!write(member.value(), depth))
                return false;
        }
        out_ += '}';
        return true;
    }

    std::string &out_;
};

} // namespace

void appendPageJSONString(std::string &out, std::string_view text)
{
    out += '"';
    std::size_t clean = 0; // start of the bytes not yet copied
    for (std::size_t at = 0; at < text.size();) {
        auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\') {
                ++at;
                continue;
            }
            out.append(text, clean, at - clean);
            appendEscape(out, c);
            clean = ++at;
            continue;
        }
        std::size_t invalid = 0;
        std::size_t length = sequenceLength(text, at, invalid);
        if (length == 0) {
            out.append(text, clean, at - clean);
            out += replacementCharacter;
            clean = at += invalid;
            continue;
        }
        // U+2028 and U+2029 end a line in JavaScript source (and in many readers of it).
        if (length == 3 && c == 0xE2 && static_cast<unsigned char>(text[at + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[at + 2]) & 0xFE) == 0xA8) {
            out.append(text, clean, at - clean);
            out += static_cast<unsigned char>(text[at + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            clean = at + 3;
        }
        at += length;
    }
    out.append(text, clean, text.size() - clean);
    out += '"';
}

bool appendPageJSON(std::string &out, const json::value &value)
{
    return Writer(out).write(value, 0);
}

std::optional<std::string> toPageJSON(const json::value &value)
{
    std::string out;
    if (!appendPageJSON(out, value))
        return std::nullopt;
    return out;
}

} // namespace wheelbox
