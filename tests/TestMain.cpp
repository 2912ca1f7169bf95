// The suite's entry point. On Windows the test program ends with TerminateProcess once its
// results are out: a test program whose exit never ends (a library's detach waiting on a
// thread the exit already stopped) would hold the run until ctest's timeout, every result
// printed. The product's own exits are the hosts' and are checked where they stop.
#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
#ifdef _WIN32
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(failed));
#endif
    return failed;
}
