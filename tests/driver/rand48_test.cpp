#include "driver/rand48.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

TEST(Rand48Test, UnseededSequenceMatchesPosix) {
    Rand48 random;
    EXPECT_EQ(random.next(), 851401618);
    EXPECT_EQ(random.next(), 1804928587);
    EXPECT_EQ(random.next(), 758783491);
    EXPECT_EQ(random.next(), 959030623);
    random.reset();
    EXPECT_EQ(random.next(), 851401618);
}

}  // namespace
}  // namespace tarnel::test
