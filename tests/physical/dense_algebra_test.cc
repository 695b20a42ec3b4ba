// Dense factorisations made on two threads at once, as the capacitance's clusters and the blocks
// of a large check make them, against the same ones made in turn.

#include "physical/dense_algebra.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ostrel::physical {
namespace {

// The variant of the linear algebra library without threads of its own shares its work buffers
// between calls without a lock; factorisations of 64 x 64 and 256 x 256 matrices on two threads
// came out wrong about once in 300 there (the sizes at which its buffers are taken most often).
// Every one must give the bits of the same factorisation made alone.
TEST(DenseAlgebra, FactorisationsOnTwoThreadsGiveTheFactorsMadeInTurn) {
  constexpr int kMatrices = 16;
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  for (const auto [n, rounds] : {std::pair<Eigen::Index, int>{64, 1000}, {256, 100}}) {
    std::vector<Eigen::MatrixXd> matrices, factors;
    for (int k = 0; k < kMatrices; ++k) {
      Eigen::MatrixXd b(n, 40);
      for (Eigen::Index i = 0; i < b.size(); ++i) b(i) = normal(rng);
      matrices.push_back(b * b.transpose() + double(n) * Eigen::MatrixXd::Identity(n, n));
      factors.push_back(matrices.back());
      ASSERT_TRUE(FactorLowerInPlace(factors.back()));
    }
    std::vector<int> wrong(2, 0);
    const auto factor_half = [&](int half) {
      for (int round = 0; round < rounds; ++round) {
        for (int k = half; k < kMatrices; k += 2) {
          Eigen::MatrixXd m = matrices[k];
          if (!FactorLowerInPlace(m) || m != factors[k]) ++wrong[half];
        }
      }
    };
    std::thread other(factor_half, 1);
    factor_half(0);
    other.join();
    EXPECT_EQ(wrong[0] + wrong[1], 0) << "of " << kMatrices * rounds << ", " << n << " x " << n;
  }
}

// A processor the library did not know at its release gets its plain x86-64 kernels unless the
// program names them before the library is loaded. A processor with AVX-512 runs one of the
// library's AVX-512 kernels, one with AVX2 and FMA at least one of its AVX2 ones.
TEST(DenseAlgebra, KernelsFitTheProcessor) {
  if (std::getenv("OPENBLAS_CORETYPE") != nullptr) GTEST_SKIP() << "kernels named by the user";
  if (::dlopen("libopenblas.so.0", RTLD_NOW | RTLD_NOLOAD) != nullptr) {
    GTEST_SKIP() << "the library was loaded before this test";
  }
  ChooseProcessorKernels();
  const std::string kernels = LinearAlgebraKernels();
  const std::set<std::string> wide = {"SkylakeX", "Cooperlake", "SapphireRapids"};
  std::set<std::string> fused = wide;
  fused.insert({"Haswell", "Zen"});
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
    EXPECT_EQ(wide.count(kernels), 1u) << kernels;
  } else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    EXPECT_EQ(fused.count(kernels), 1u) << kernels;
  } else {
    EXPECT_FALSE(kernels.empty());
  }
}

}  // namespace
}  // namespace ostrel::physical
