#include "app/study_controller.h"

namespace ostrel {

double EstimatedSeconds(std::size_t wires) {
  // About 13 s for 3,000 wires on two cores (dense inductance matrices and the capacitance
  // solve), growing with the square of the wire count.
  const double n = static_cast<double>(wires);
  return 1.5e-6 * n * n;
}

void StudyController::CancelRunning() {
  if (busy_) cancel_->store(true);
}

StudyController::Next StudyController::Estimated(std::size_t wires) {
  ++run_;  // a computation for earlier wires is not shown
  estimated_ = true;
  const bool at_once = EstimatedSeconds(wires) <= kAutoStartSeconds;
  if (busy_) {
    // The running computation ends first; a small package's then starts by itself.
    CancelRunning();
    restart_ = at_once;
    return at_once ? Next::kNothing : Next::kAwaitCompute;
  }
  return at_once ? Next::kStart : Next::kAwaitCompute;
}

void StudyController::EstimationFailed() {
  ++run_;  // a computation still running is not shown
  CancelRunning();
  restart_ = false;
}

StudyController::Next StudyController::ComputeAsked() {
  if (!estimated_) return Next::kNothing;
  if (busy_) {
    // The running computation ends first; then this one starts with the latest estimation.
    CancelRunning();
    restart_ = true;
    ++run_;
    return Next::kNothing;
  }
  return Next::kStart;
}

StudyController::Ticket StudyController::Started() {
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  busy_ = true;
  return {++run_, cancel_};
}

void StudyController::CancelAsked() {
  CancelRunning();
  restart_ = false;
}

StudyController::Next StudyController::Finished(std::uint64_t run) {
  busy_ = false;
  if (restart_) {
    restart_ = false;
    return ComputeAsked();
  }
  return run == run_ ? Next::kShow : Next::kDiscard;
}

}  // namespace ostrel
