// The main of every test binary: the prefix is checked before GoogleTest
// sees any test, fixture or environment.
#include <gtest/gtest.h>

#include "support/throwaway_prefix.h"

int main(int argc, char** argv)
{
    if (!InsideThrowawayPrefix())
        return RefuseOutsideThrowawayPrefix(argv[0]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
