// main_window/stamping/batch.cpp
#include "main_window/stamping/batch.h"

#include <functional>
#include <stdexcept>
#include <utility>

namespace zel {

TBatchRunner::~TBatchRunner() {
  Stop();
  Finish();
}

void TBatchRunner::Start(TStamper& stamper, std::vector<std::wstring> targets,
                         const std::optional<FILETIME>& stored, std::function<void()> done) {
  if (Running()) throw std::logic_error("a batch is already running");
  stamper.Result = TStampResult{};
  stamper.Progress = &Progress;
  auto work = [&stamper, targets = std::move(targets), stored](TBatchProgress& progress) {
    // A later walk without a runner must not see this batch's stop, however this one ends.
    struct Detach {
      TStamper& s;
      ~Detach() { s.Progress = nullptr; }
    } detach{stamper};
    for (const std::wstring& target : targets) {
      if (progress.Stop) {
        stamper.Result.Stopped = true;
        break;
      }
      stamper.StampPath(target, stored);
    }
  };
  try {
    StartWork(std::move(work), std::move(done));
  } catch (...) {
    stamper.Progress = nullptr;
    throw;
  }
}

void TBatchRunner::StartWork(std::function<void(TBatchProgress&)> work,
                             std::function<void()> done) {
  if (Running()) throw std::logic_error("a batch is already running");
  Progress.Changed = 0;
  Progress.Failed = 0;
  Progress.Stop = false;
  Progress.SetFolder(L"");
  error_ = nullptr;
  worker_ = std::thread(&TBatchRunner::Run, this, std::move(work), std::move(done));
}

// Nothing may leave the thread's function: std::terminate would end the program.
void TBatchRunner::Run(const std::function<void(TBatchProgress&)>& work,
                       const std::function<void()>& done) noexcept {
  try {
    work(Progress);
  } catch (...) {
    error_ = std::current_exception();
  }
  try {
    if (done) done();
  } catch (...) {
    if (!error_) error_ = std::current_exception();
  }
}

std::exception_ptr TBatchRunner::Finish() {
  if (worker_.joinable()) worker_.join();
  return std::exchange(error_, nullptr);
}

}  // namespace zel
