#include "app/study_controller.h"

namespace ostrel {

double EstimatedSeconds(std::size_t wires) {
  // About 3.85 s for 3,300 wires on two cores (the median of five runs of the whole model: the
  // inductance matrices with their far groups compressed, the proximity correction and the
  // clustered capacitance), taken as growing with the square of the wire count, which
  // overstates it for larger packages.
  const double n = static_cast<double>(wires);
  return 3.54e-7 * n * n;
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
