// The seed of every run of a sweep, derived from the sweep's seed, K and the replicate, so
// that a run draws the same numbers wherever and in whatever order it is made.
#pragma once

#include <cstdint>

// 1 + (h mod (2^31 - 1)), with h = Mix(Mix(Mix(seed) ^ K) ^ replicate) and Mix the SplitMix64
// finaliser (add 0x9e3779b97f4a7c15, then xor-shift-multiply by 0xbf58476d1ce4e5b9 and
// 0x94d049bb133111eb with shifts 30, 27, 31). Always in 1 .. 2^31 - 1.
uint32_t RunSeed(uint64_t seed, int32_t K, int32_t replicate);

// The SplitMix64 finaliser above, for other seeded hashes of the sweep.
uint64_t SeedMix(uint64_t z);
