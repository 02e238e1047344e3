// Prints what a register list in one request saves against single-register requests, and
// what the EC lock costs: bench_portlib_families [rounds] [calls]
#include <cstdlib>

#include "bench_common.h"

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 50;
    int calls = argc > 2 ? atoi(argv[2]) : 10000;
    if (rounds < 1 || calls < 1 || !bench::Prepare()) return 1;
    int failures = 0;

    BYTE indices[256], values[256];
    for (int i = 0; i < 256; i++) indices[i] = BYTE(i);
    printf("256 byte registers, %d rounds each, alternating\n", rounds);
    std::vector<double> array, singles;
    bench::SideBySide(
        rounds,
        [&] { failures += !Brannic_ReadIndexedByteArray(0x70, 0x71, 256, indices, values); },
        [&] {
            for (int i = 0; i < 256; i++)
                failures += !Brannic_ReadIndexedByte(0x70, 0x71, indices[i], &values[i]);
        },
        &array, &singles);
    bench::Report("Brannic_ReadIndexedByteArray of 256", array, "256 x Brannic_ReadIndexedByte",
                  singles);
    printf("  the array is %.1f times faster\n\n", bench::Median(singles) / bench::Median(array));

    printf("uncontended EC commands, %d calls each, alternating\n", calls);
    std::vector<double> locked, unlocked;
    bench::SideBySide(
        calls, [&] { failures += Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 1) != 1; },
        [&] { failures += Brannic_SendECCommand(0x90, 1) == 0; }, &locked, &unlocked);
    bench::Report("Brannic_SendDorvaneIndexMethodEcCommandData", locked, "Brannic_SendECCommand",
                  unlocked);
    printf("  the lock costs %.2f us a call\n\n", bench::Median(locked) - bench::Median(unlocked));

    printf("failed calls: %d\n", failures);
    Brannic_DeInit();
    return failures ? 1 : 0;
}
