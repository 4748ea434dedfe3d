#pragma once

#include <cstdint>

namespace tarnel {

// The POSIX 48-bit linear congruential generator behind lrand48, never seeded by the program:
// it starts from the state POSIX gives an unseeded generator, so shuffles are repeatable from
// process start on every platform (this C library would otherwise start from state 0).
class Rand48 {
  public:
    static constexpr std::uint64_t kInitialState = 0x1234ABCD330EULL;

    // The next value in [0, 2^31), as lrand48 returns it.
    long next() {
        state_ = (kMultiplier * state_ + kAddend) & kMask;
        return static_cast<long>(state_ >> 17);
    }
    void reset() { state_ = kInitialState; }

  private:
    static constexpr std::uint64_t kMultiplier = 0x5DEECE66DULL;
    static constexpr std::uint64_t kAddend = 0xB;
    static constexpr std::uint64_t kMask = (1ULL << 48) - 1;
    std::uint64_t state_ = kInitialState;
};

}  // namespace tarnel
