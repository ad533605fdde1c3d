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
  Progress.Changed = 0;
  Progress.Failed = 0;
  Progress.Stop = false;
  Progress.SetFolder(L"");
  error_ = nullptr;
  stamper.Result = TStampResult{};
  stamper.Progress = &Progress;
  try {
    worker_ = std::thread(&TBatchRunner::Run, this, std::ref(stamper), std::move(targets), stored,
                          std::move(done));
  } catch (...) {
    stamper.Progress = nullptr;
    throw;
  }
}

// Nothing may leave the thread's function: std::terminate would end the program.
void TBatchRunner::Run(TStamper& stamper, const std::vector<std::wstring>& targets,
                       const std::optional<FILETIME>& stored,
                       const std::function<void()>& done) noexcept {
  try {
    for (const std::wstring& target : targets) {
      if (Progress.Stop) {
        stamper.Result.Stopped = true;
        break;
      }
      stamper.StampPath(target, stored);
    }
  } catch (...) {
    error_ = std::current_exception();
  }
  // A later walk without a runner must not see this batch's stop.
  stamper.Progress = nullptr;
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
