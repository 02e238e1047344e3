// Timing helpers of the port library's benchmark programs (not tests: they print numbers).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Brannic.h"
#include "driver_diag.h"

namespace bench {

inline double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    static LARGE_INTEGER s_frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return double(to.QuadPart - from.QuadPart) * 1e6 / double(s_frequency.QuadPart);
}

inline double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

// Times a and b alternately, `rounds` times each, so that drift affects both alike.
template <typename A, typename B>
void SideBySide(int rounds, A a, B b, std::vector<double>* timesA, std::vector<double>* timesB)
{
    LARGE_INTEGER t0, t1;
    for (int i = 0; i < rounds; i++) {
        QueryPerformanceCounter(&t0);
        a();
        QueryPerformanceCounter(&t1);
        timesA->push_back(Microseconds(t0, t1));
        QueryPerformanceCounter(&t0);
        b();
        QueryPerformanceCounter(&t1);
        timesB->push_back(Microseconds(t0, t1));
    }
}

inline void Report(const char* aName, const std::vector<double>& a, const char* bName,
                   const std::vector<double>& b)
{
    double ma = Median(a), mb = Median(b);
    printf("  %-44s median %9.2f us  (%zu samples)\n", aName, ma, a.size());
    printf("  %-44s median %9.2f us  (%zu samples)\n", bName, mb, b.size());
    printf("  ratio %.3f\n\n", ma / mb);
}

// Installs and starts the stand-in driver, opens the library; false after printing why not.
inline bool Prepare()
{
    std::string error;
    if (!driver_diag::InstallAndStart(&error)) {
        printf("driver: %s\n", error.c_str());
        return false;
    }
    if (Brannic_Init() != 1) {
        printf("Brannic_Init failed\n");
        return false;
    }
    return true;
}

}  // namespace bench
