// Character set conversion. The first byte chooses source, target and mode;
// the rest is converted. Converting to UTF-8 and back to the source must
// give the source again whenever every character fitted.
#include <Kor/KorString.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using Kor::String;
    if (size == 0)
        return 0;
    const auto from = String::Charset(data[0] & 0x03);
    const auto to = String::Charset((data[0] >> 2) & 0x03);
    const int mode = (data[0] >> 4) & 1 ? String::ConvertStop : String::ConvertReplace;
    bool ok = false;
    (void)String::convertBuffer(data + 1, size - 1, to, from, '?', mode, &ok);

    bool toUtf8 = false;
    const String utf8 = String::convertBuffer(data + 1, size - 1, String::Charset_UTF8, from, '?',
                                              String::ConvertStop, &toUtf8);
    if (toUtf8 && from != String::Charset_UCS_2) {
        bool back = false;
        const String again = String::convertBuffer(utf8.c_str(), utf8.size(), from, String::Charset_UTF8, '?',
                                                   String::ConvertStop, &back);
        if (!back || again.str() != std::string(reinterpret_cast<const char*>(data + 1), size - 1))
            std::abort();
    }
    return 0;
}
