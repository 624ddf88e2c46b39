// The stand-ins run unpaced and quiet under test unless the environment
// says otherwise; set before the first platform call reads it.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
    setenv("TWINCAM_SIM_PACE", "0", 0);
    setenv("TWINCAM_SIM_LOG_LEVEL", "none", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
