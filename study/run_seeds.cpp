#include "study/run_seeds.h"

uint64_t SeedMix(uint64_t z) {
  z += 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

uint32_t RunSeed(uint64_t seed, int32_t K, int32_t replicate) {
  const uint64_t h =
      SeedMix(SeedMix(SeedMix(seed) ^ static_cast<uint64_t>(static_cast<uint32_t>(K))) ^
              static_cast<uint64_t>(static_cast<uint32_t>(replicate)));
  return static_cast<uint32_t>(1 + h % 2147483647ULL);
}
