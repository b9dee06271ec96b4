#include "KorString.h"

#include "Platform.h"

#include <cstring>
#include <limits>

namespace Kor {

String::Charset String::s_defaultCharset = String::Charset_UTF8;
const std::size_t String::s_nMaxPosition = std::numeric_limits<std::size_t>::max();

namespace {

constexpr char32_t Invalid = 0xFFFFFFFF;

// Reads one code point starting at pos and advances pos; Invalid for a
// malformed sequence (which then consumes one unit).
char32_t decode(const unsigned char* p, std::size_t length, std::size_t& pos, String::Charset cs)
{
    switch (cs) {
    case String::Charset_ASCII: {
        const unsigned char c = p[pos++];
        return c < 0x80 ? c : Invalid;
    }
    case String::Charset_Latin1:
        return p[pos++];
    case String::Charset_UCS_2: {
        if (pos + 2 > length) {
            pos = length;
            return Invalid;
        }
        char16_t u;
        std::memcpy(&u, p + pos, 2);
        pos += 2;
        if (u < 0xD800 || u > 0xDFFF)
            return u;
        if (u > 0xDBFF || pos + 2 > length)
            return Invalid;
        char16_t low;
        std::memcpy(&low, p + pos, 2);
        if (low < 0xDC00 || low > 0xDFFF)
            return Invalid;
        pos += 2;
        return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00);
    }
    case String::Charset_UTF8:
    default: {
        const unsigned char c = p[pos++];
        if (c < 0x80)
            return c;
        // 0xC0, 0xC1 only start overlong forms and 0xF5 to 0xFF nothing at all.
        int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
        if (extra < 0 || pos + extra > length)
            return Invalid;
        char32_t cp = c & (0x3F >> extra);
        for (int i = 0; i < extra; ++i) {
            const unsigned char cc = p[pos + i];
            if ((cc & 0xC0) != 0x80)
                return Invalid;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr char32_t minimum[] = { 0, 0x80, 0x800, 0x10000 };
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return Invalid;
        pos += extra;
        return cp;
    }
    }
}

// Appends cp in the target set; false when the set cannot hold it.
bool encode(std::string& out, char32_t cp, String::Charset cs)
{
    switch (cs) {
    case String::Charset_ASCII:
        if (cp >= 0x80)
            return false;
        out += char(cp);
        return true;
    case String::Charset_Latin1:
        if (cp > 0xFF)
            return false;
        out += char(cp);
        return true;
    case String::Charset_UCS_2: {
        auto put = [&out](char16_t u) { out.append(reinterpret_cast<const char*>(&u), 2); };
        if (cp < 0x10000) {
            put(char16_t(cp));
        } else {
            cp -= 0x10000;
            put(char16_t(0xD800 + (cp >> 10)));
            put(char16_t(0xDC00 + (cp & 0x3FF)));
        }
        return true;
    }
    case String::Charset_UTF8:
    default:
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
        return true;
    }
}

} // namespace

String::String(const char* text) : m_data(text ? text : "") {}

String::String(const char* text, std::size_t length) : m_data(text ? std::string(text, length) : std::string()) {}

String::String(const std::string& text) : m_data(text) {}

String& String::operator+=(const String& other)
{
    m_data += other.m_data;
    return *this;
}

String String::operator+(const String& other) const
{
    String result(*this);
    result += other;
    return result;
}

String& String::trim(const char* characters)
{
    if (!characters)
        return *this;
    const std::size_t first = m_data.find_first_not_of(characters);
    if (first == std::string::npos) {
        m_data.clear();
        return *this;
    }
    const std::size_t last = m_data.find_last_not_of(characters);
    m_data = m_data.substr(first, last - first + 1);
    return *this;
}

String String::to_upper(Charset charset) const
{
    String result(*this);
    for (char& ch : result.m_data) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z')
            ch = char(c - 32);
        else if (charset == Charset_Latin1 && c >= 0xE0 && c <= 0xFE && c != 0xF7)
            ch = char(c - 32);
    }
    return result;
}

TVector<String> String::separate_strings(const char* separators, int mode, std::size_t start,
                                         std::size_t end) const
{
    TVector<String> parts;
    const std::size_t stop = end < m_data.size() ? end : m_data.size();
    if (start > stop)
        return parts;
    const std::string seps = separators ? separators : "";
    std::size_t begin = start;
    for (std::size_t i = start; i <= stop; ++i) {
        if (i == stop || seps.find(m_data[i]) != std::string::npos) {
            if (i > begin || !(mode & SeparateSkipEmpty))
                parts.emplace_back(m_data.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    return parts;
}

String String::convertBuffer(const void* bytes, std::size_t length, Charset toCharset,
                             Charset fromCharset, char replacement, int mode, bool* ok)
{
    std::string out;
    bool allFitted = true;
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::size_t pos = 0;
    while (p && pos < length) {
        const char32_t cp = decode(p, length, pos, fromCharset);
        if (cp == Invalid || !encode(out, cp, toCharset)) {
            allFitted = false;
            if (mode == ConvertStop)
                break;
            encode(out, char32_t(static_cast<unsigned char>(replacement)), toCharset);
        }
    }
    if (ok)
        *ok = allFitted;
    return String(out);
}

String String::ErrorText(int code)
{
    return String(Platform::errorText(code));
}

} // namespace Kor
