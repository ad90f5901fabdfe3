#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Generates argument vectors (without the program name) that mix the real
// options with near-misses: other letter case, single dash, slash, "=value"
// forms, truncations, empty arguments, option names as values, very long
// arguments and unpaired UTF-16 surrogates. Deterministic for a seed.
class ArgumentGenerator {
 public:
  ArgumentGenerator(std::uint32_t seed, std::size_t longArgumentLength)
      : random_(seed), longArgumentLength_(longArgumentLength) {}

  std::vector<std::wstring> Next();

 private:
  std::wstring Argument();
  std::wstring Option();
  std::wstring NearMiss();
  std::wstring Garbage();
  std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

  std::mt19937 random_;
  std::size_t longArgumentLength_;
};
