// main_window/stamping/batch.h
// Runs one batch on a worker thread so the caller's thread stays free: every target in order
// with one instant, counts and the folder being walked shared through Progress, the end
// announced by a callback from the worker.
#pragma once
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "main_window/stamping/stamping.h"

namespace zel {

class TBatchRunner {
 public:
  TBatchRunner() = default;
  TBatchRunner(const TBatchRunner&) = delete;
  TBatchRunner& operator=(const TBatchRunner&) = delete;
  // A batch still running is stopped and waited for.
  ~TBatchRunner();

  TBatchProgress Progress;  // cleared by Start; the worker counts into it

  // Starts a batch writing one stored time (none: every target fails) with the stamper's
  // settings; its Result is cleared and then filled by the worker. Until Finish the caller
  // leaves the stamper alone and reads Progress only. done runs on the worker as its last act
  // and must not wait for the caller's thread.
  void Start(TStamper& stamper, std::vector<std::wstring> targets,
             const std::optional<FILETIME>& stored, std::function<void()> done);
  // Any other work (the undo) with the same progress, stop, failure carrying and end.
  void StartWork(std::function<void(TBatchProgress&)> work, std::function<void()> done);
  // Started and not yet finished.
  bool Running() const { return worker_.joinable(); }
  // The worker stops after the entry being changed; entries not reached are left alone.
  void Stop() { Progress.Stop = true; }
  // Waits for the worker; returns the failure that ended it early, if any.
  std::exception_ptr Finish();

 private:
  void Run(const std::function<void(TBatchProgress&)>& work,
           const std::function<void()>& done) noexcept;
  std::thread worker_;
  std::exception_ptr error_;
};

}  // namespace zel
