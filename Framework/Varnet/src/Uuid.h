#pragma once

#include "Object.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace Kor {

// A 128-bit identifier. Its text form is "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
// in lower-case hex; parsing also takes upper case and the form without braces.
class VARNET_EXPORT Uuid : public Object
{
public:
    Uuid(); // the null UUID
    // Parses text; anything that is not a UUID gives the null UUID.
    explicit Uuid(const String& text);
    Uuid(const Uuid&) = default;
    Uuid& operator=(const Uuid&) = default;
    ~Uuid() override;

    static Uuid create(); // random (version 4)
    static Uuid fromString(const String& text);

    bool isNull() const;
    String toString() const override;
    // The text of toString() without a string to hold it, for callers that
    // must not allocate.
    static constexpr std::size_t TextSize = 38;
    void writeText(char (&out)[TextSize]) const;
    String toDebugString() const override;
    void clearRef() override; // becomes null

    bool operator==(const Uuid& other) const { return m_bytes == other.m_bytes; }
    bool operator!=(const Uuid& other) const { return m_bytes != other.m_bytes; }
    bool operator<(const Uuid& other) const { return m_bytes < other.m_bytes; }

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

} // namespace Kor
