#include "kestrel-sim/random.h"

#include <cmath>
#include <numbers>

namespace kestrel::sim {
namespace {

std::uint64_t splitMix64(std::uint64_t& x) {
    x += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

}  // namespace

Random::Random(std::uint64_t seed, std::uint64_t stream) {
    std::uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ull);
    for (std::uint64_t& s : m_state) {
        s = splitMix64(x);
    }
}

std::uint64_t Random::nextU64() {
    const std::uint64_t result = rotl(m_state[1] * 5, 7) * 9;
    const std::uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotl(m_state[3], 45);
    return result;
}

double Random::uniform() {
    return static_cast<double>(nextU64() >> 11) * 0x1.0p-53;
}

std::int64_t Random::between(std::int64_t lo, std::int64_t hi) {
    if (hi <= lo) {
        return lo;
    }
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<std::int64_t>(nextU64() % span);
}

double Random::normal() {
    const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

double Random::exponential(double mean) {
    return -mean * std::log(1.0 - uniform());
}

}  // namespace kestrel::sim
