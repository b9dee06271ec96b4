// The XML reader. The first byte chooses the options, the rest is the file:
// any content gives either a tree or an error text, never both, and a tree
// can be walked and printed.
#include "FuzzSupport.h"

#include <Kor/KorString.h>
#include <Kor/Section.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const QString path = fuzz::folder().filePath(QStringLiteral("input.xml"));
    if (!fuzz::writeInput(path, data + 1, size - 1))
        return 0;
    const bool keepWhitespace = data[0] & 0x01;
    const auto readCharset = Kor::String::Charset((data[0] >> 1) & 0x03);
    const auto textCharset = Kor::String::Charset((data[0] >> 3) & 0x03);

    Kor::Section section;
    const bool read = section.ReadFile(QFile::encodeName(path).constData(), keepWhitespace, readCharset, textCharset);
    if (read != section.lastError().empty() || read != section.isValid())
        std::abort();
    if (read) {
        (void)section.toDebugString();
        (void)section["Setup"]["Settings"]["datadir"].getText();
    }
    return 0;
}
