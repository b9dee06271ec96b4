#include "Uuid.h"

#include <QRandomGenerator>

namespace Kor {

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

Uuid::Uuid() = default;

Uuid::~Uuid() = default;

Uuid::Uuid(const String& text)
{
    std::string s = text.str();
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    if (s.size() != 36)
        return;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t byte = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-')
                return;
            ++i;
            continue;
        }
        const int hi = hexValue(s[i]);
        const int lo = hexValue(s[i + 1]);
        if (hi < 0 || lo < 0)
            return;
        bytes[byte++] = std::uint8_t(hi << 4 | lo);
        i += 2;
    }
    m_bytes = bytes;
}

Uuid Uuid::create()
{
    Uuid id;
    QRandomGenerator* random = QRandomGenerator::system();
    for (std::size_t i = 0; i < id.m_bytes.size(); i += 4) {
        const quint32 r = random->generate();
        for (int k = 0; k < 4; ++k)
            id.m_bytes[i + k] = std::uint8_t(r >> (8 * k));
    }
    id.m_bytes[6] = std::uint8_t((id.m_bytes[6] & 0x0F) | 0x40); // version 4
    id.m_bytes[8] = std::uint8_t((id.m_bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return id;
}

Uuid Uuid::fromString(const String& text)
{
    return Uuid(text);
}

bool Uuid::isNull() const
{
    for (std::uint8_t b : m_bytes)
        if (b)
            return false;
    return true;
}

String Uuid::toString() const
{
    char text[TextSize];
    writeText(text);
    return String(std::string(text, TextSize));
}

void Uuid::writeText(char (&out)[TextSize]) const
{
    static const char digits[] = "0123456789abcdef";
    std::size_t at = 0;
    out[at++] = '{';
    for (std::size_t i = 0; i < m_bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out[at++] = '-';
        out[at++] = digits[m_bytes[i] >> 4];
        out[at++] = digits[m_bytes[i] & 0x0F];
    }
    out[at] = '}';
}

String Uuid::toDebugString() const
{
    return String("Uuid") + toString();
}

void Uuid::clearRef()
{
    m_bytes.fill(0);
}

} // namespace Kor
