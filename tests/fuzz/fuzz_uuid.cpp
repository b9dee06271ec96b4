// UUID texts: any bytes give a UUID (null when unreadable), and a UUID's own
// text reads back as the same UUID.
#include <Kor/KorString.h>
#include <Kor/Uuid.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Kor::Uuid uuid = Kor::Uuid::fromString(Kor::String(reinterpret_cast<const char*>(data), size));
    if (!(Kor::Uuid::fromString(uuid.toString()) == uuid))
        std::abort();
    return 0;
}
