// Holds a PID file the way a running instance does: opens it for writing,
// writes its pid, says "ready" and waits until its standard input closes or
// it is killed.

#include <Kor/ShareStream.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    Kor::ShareStream stream;
    if (!stream.open(argv[1], 3, 0x20, 0644)) {
        std::puts("refused");
        return 1;
    }
    stream << QCoreApplication::applicationPid() << '\n';
    if (!stream.flush())
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
