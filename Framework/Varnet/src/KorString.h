#pragma once

#include "VarnetExport.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Kor {

template <class T>
using TVector = std::vector<T>;

// An 8-bit string in one of the base library's character sets. The default
// character set on this platform is UTF-8.
class VARNET_EXPORT String
{
public:
    enum Charset {
        Charset_ASCII = 0,
        Charset_Latin1 = 1,
        Charset_UTF8 = 2,
        Charset_UCS_2 = 3, // UTF-16 code units in host byte order
    };
    // separate_strings(): drop parts that are empty after splitting.
    enum SeparateMode { SeparateKeepEmpty = 0, SeparateSkipEmpty = 1 };
    // convertBuffer(): what to do with a character the target cannot hold.
    enum ConvertMode { ConvertReplace = 0, ConvertStop = 1 };

    static Charset s_defaultCharset;
    static const std::size_t s_nMaxPosition;

    String() = default;
    String(const char* text);
    String(const char* text, std::size_t length);
    String(const std::string& text);

    operator const char*() const { return m_data.c_str(); }
    const char* c_str() const { return m_data.c_str(); }
    const std::string& str() const { return m_data; }
    std::size_t size() const { return m_data.size(); }
    bool empty() const { return m_data.empty(); }

    bool operator==(const String& other) const { return m_data == other.m_data; }
    bool operator==(const char* other) const { return m_data == (other ? other : ""); }
    bool operator!=(const String& other) const { return m_data != other.m_data; }
    bool operator<(const String& other) const { return m_data < other.m_data; }
    String& operator+=(const String& other);
    String operator+(const String& other) const;

    // Removes the given characters at both ends, in place.
    String& trim(const char* characters = " \t\r\n");
    // Upper-case copy; in UTF-8 only ASCII letters change, in Latin-1 the
    // accented letters too.
    String to_upper(Charset charset = s_defaultCharset) const;
    // Splits the bytes in [start, end) at every byte of separators.
    TVector<String> separate_strings(const char* separators, int mode = SeparateKeepEmpty,
                                     std::size_t start = 0, std::size_t end = s_nMaxPosition) const;

    // Converts length bytes from one character set into another. A character
    // the target cannot represent becomes replacement (ConvertReplace) or ends
    // the conversion (ConvertStop); *ok tells whether every character fitted.
    static String convertBuffer(const void* bytes, std::size_t length, Charset toCharset,
                                Charset fromCharset, char replacement = '?',
                                int mode = ConvertReplace, bool* ok = nullptr);
    // Readable text of an errno value.
    static String ErrorText(int code);

private:
    std::string m_data;
};

} // namespace Kor
