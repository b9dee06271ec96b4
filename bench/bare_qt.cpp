// The least a Qt console program does: the application object and one line
// on standard output. The yardstick for the start of the example host.
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("bare 1.0\n");
    return 0;
}
