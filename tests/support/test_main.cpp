// The entry of every test executable: a headless, reproducible environment, then GoogleTest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "root/startup.h"

int main(int argc, char** argv)
{
    // Tests never open a real display or sound device unless a test asks for one; times are UTC.
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("KX_TEST_DATA", KX_TEST_DATA_DIR, 0);
    // The engine is wired as the program wires it; tests put their own parts in over it.
    InstallEngineParts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
