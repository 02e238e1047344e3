// Prints the median cost of two port exports against a bare DeviceIoControl with the same
// code and buffers on the same driver: bench_portlib_ports [calls]
#include <cstdlib>

#include "bench_common.h"
#include "driver_protocol.h"

int main(int argc, char** argv)
{
    int calls = argc > 1 ? atoi(argv[1]) : 10000;
    if (calls < 1 || !bench::Prepare()) return 1;
    HANDLE device = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return 1;
    int failures = 0;

    printf("%d calls each, alternating\n\n", calls);
    std::vector<double> lib, bare;
    BYTE value = 0;
    bench::SideBySide(
        calls, [&] { failures += Brannic_InputByteValue(0x80, &value) != 1; },
        [&] {
            uint8_t in[PORTIO_PORT_RECORD_SIZE(1, false)] = {0x80};
            BYTE out = 0;
            DWORD returned = 0;
            failures += !DeviceIoControl(device, PORTIO_INPUT_BYTE, in, sizeof(in), &out, 1,
                                         &returned, nullptr);
        },
        &lib, &bare);
    bench::Report("Brannic_InputByteValue", lib, "DeviceIoControl 0x9C402050 (4 in, 1 out)", bare);

    lib.clear();
    bare.clear();
    DWORD written = 0;
    bench::SideBySide(
        calls, [&] { failures += Brannic_OutputDWordValue(0x80, 0x12345678, &written) != 1; },
        [&] {
            uint8_t in[PORTIO_PORT_RECORD_SIZE(4, true)] = {0x80, 0, 0, 0, 0x78, 0x56, 0x34, 0x12};
            DWORD returned = 0;
            failures += !DeviceIoControl(device, PORTIO_OUTPUT_DWORD, in, sizeof(in), nullptr, 0,
                                         &returned, nullptr);
        },
        &lib, &bare);
    bench::Report("Brannic_OutputDWordValue", lib, "DeviceIoControl 0x9C402064 (8 in, 0 out)",
                  bare);

    printf("failed calls: %d\n", failures);
    CloseHandle(device);
    Brannic_DeInit();
    return failures ? 1 : 0;
}
