#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// When the physical model of a window's estimation is computed: one computation at a time on a
// worker thread; a new estimation, a failed one or a Compute while one runs cancels it, and the
// latest estimation's model starts once it has ended; the outcome of a computation for wires no
// longer estimated is never shown. Free of any toolkit: the window reports what happened and
// does what the answer says.
namespace ostrel {

// The model's cost grows with the square of the wire count (dense matrices); a package whose
// estimate exceeds kAutoStartSeconds (about 3,100 wires) is computed only when the user asks.
inline constexpr double kAutoStartSeconds = 3.5;
double EstimatedSeconds(std::size_t wires);

class StudyController {
 public:
  // What the window does next.
  enum class Next {
    kNothing,       // wait
    kStart,         // start a computation of the current estimation: Started(), then run it
    kAwaitCompute,  // say that the model waits for Compute (it would take long)
    kShow,          // show the finished computation's outcome
    kDiscard,       // drop the finished computation's outcome: its wires are no longer estimated
  };

  // A computation the window starts: its number, and the flag that cancels it.
  struct Ticket {
    std::uint64_t run = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
  };

  // A finished estimation of `wires` wires: started at once when small, else on Compute.
  Next Estimated(std::size_t wires);
  // A Process Data that failed: a running computation is cancelled and not restarted.
  void EstimationFailed();
  // The user pressed Compute: kStart, or kNothing without an estimation or while a computation
  // runs (that one is cancelled and the new one starts when it ends).
  Next ComputeAsked();
  // The window starts the computation kStart asked for.
  Ticket Started();
  // The user pressed Cancel: the running computation ends and nothing restarts.
  void CancelAsked();
  // The computation `run` ended (with a model, a failure or cancelled): kStart when another was
  // asked for meanwhile, kDiscard when its wires are no longer estimated, else kShow.
  Next Finished(std::uint64_t run);

  bool Busy() const { return busy_; }
  // True while `run` is the computation whose progress and outcome are shown.
  bool Current(std::uint64_t run) const { return run == run_; }

 private:
  void CancelRunning();

  std::uint64_t run_ = 0;  // the latest computation or estimation; older runs are not shown
  std::shared_ptr<std::atomic<bool>> cancel_;
  bool estimated_ = false;
  bool busy_ = false;
  bool restart_ = false;
};

}  // namespace ostrel
