// Prints the processor count the library sees, for runs under taskset.
#include <Kor/KorCore.h>

#include <cstdio>

int main()
{
    std::printf("%d\n", Kor::NS::GetNumberOfProcessors());
    return 0;
}
