#pragma once

#include <atomic>
#include <exception>

// An exception thrown inside an OpenMP loop or task must not leave it (the runtime would end the
// program): each body runs through Run, which keeps the first exception, and Rethrow raises it
// on the thread that started the loop, once the loop is over.
namespace ostrel::physical {

class ParallelFault {
 public:
  template <typename Body>
  void Run(Body&& body) noexcept {
    try {
      body();
    } catch (...) {
#pragma omp critical(ostrel_parallel_fault)
      if (!first_) first_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
    }
  }

  // Whether a body has failed: a long loop's other bodies need not start then.
  bool Failed() const { return failed_.load(std::memory_order_relaxed); }

  void Rethrow() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  std::exception_ptr first_;
  std::atomic<bool> failed_{false};
};

}  // namespace ostrel::physical
