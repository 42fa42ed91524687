#pragma once
// The simulator's random numbers: a small generator of our own (xoshiro256**, seeded through
// splitmix64) and our own uniform and normal draws, so that one seed gives the same bytes on
// every compiler and standard library (the standard distributions do not promise that).

#include <cstdint>

namespace kestrel::sim {

class Random {
  public:
    // `stream` separates independent sequences drawn from one seed: the route, the bearing
    // noise and the garbage each have their own, so switching one feature on or off does not
    // change what the others produce.
    explicit Random(std::uint64_t seed, std::uint64_t stream = 0);

    std::uint64_t nextU64();
    // Uniform in [0, 1), 53 bits.
    double uniform();
    // Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform whole number in [lo, hi], both ends included.
    std::int64_t between(std::int64_t lo, std::int64_t hi);
    // True with the given probability (0 to 1).
    bool chance(double probability) { return uniform() < probability; }
    // Standard normal draw (Box-Muller; one draw per call, the partner value is discarded so a
    // call always consumes the same amount of the sequence).
    double normal();
    // Exponential draw with the given mean.
    double exponential(double mean);

  private:
    std::uint64_t m_state[4];
};

}  // namespace kestrel::sim
