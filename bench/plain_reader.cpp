// The yardstick of the whole-process figures: a plain std::ifstream >> int loop reading a
// genotype file of N x A x L values into nested vectors, as a first program would.
//   plain_reader FILE N A L
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: plain_reader FILE N A L\n";
    return 1;
  }
  const int32_t N = std::atoi(argv[2]), A = std::atoi(argv[3]), L = std::atoi(argv[4]);
  std::vector<std::vector<std::vector<int32_t>>> X(
      N, std::vector<std::vector<int32_t>>(A, std::vector<int32_t>(L)));
  std::ifstream in(argv[1]);
  for (auto& individual : X)
    for (auto& copy : individual)
      for (int32_t& value : copy) in >> value;
  int64_t sum = 0;
  for (const auto& individual : X)
    for (const auto& copy : individual)
      for (const int32_t value : copy) sum += value;
  std::cout << sum << "\n";
  return in ? 0 : 1;
}
