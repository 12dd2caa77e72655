// Throughput of the SFV verification's file checksum: bench_crc FILE [RUNS]. Prints the best
// of RUNS runs (default 3) as "crc XXXXXXXX seconds S mbps M".
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/files.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_crc FILE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(argv[1], GetFileExInfoStandard, &info)) {
        std::fprintf(stderr, "bench_crc: cannot stat %s\n", argv[1]);
        return 2;
    }
    const double bytes =
        static_cast<double>((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double best = 1e30;
    uint32_t crc = 0;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        if (!FileCrc32(argv[1], crc)) {
            std::fprintf(stderr, "bench_crc: cannot read %s\n", argv[1]);
            return 1;
        }
        QueryPerformanceCounter(&stop);
        double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (seconds < best)
            best = seconds;
    }
    std::printf("crc %08X seconds %.3f mbps %.0f\n", crc, best, bytes / best / 1e6);
    return 0;
}
