// Built with nothing but `pkg-config --cflags --libs korcore`.
#include <Kor/KorCore.h>

#include <cstdio>

int main()
{
    const auto version = Kor::NS::VersionInfo::fromString(QStringLiteral("80.1.2"));
    const Kor::Uuid id = Kor::Uuid::fromString("{3f2b8c1e-5a7d-4e9f-b6c0-1d2e3f4a5b6c}");
    std::printf("%s %s\n", qPrintable(Kor::NS::VersionInfo::toString(version)), id.toString().c_str());
    return 0;
}
