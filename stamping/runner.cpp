// stamping/runner.cpp
#include "stamping/runner.h"

#include <stdexcept>

#include "rtl/exceptions.h"
#include "rtl/files_win.h"
#include <utility>

namespace zel {
namespace {
// The worker walks the tree with a stack of its own, never by recursion.
constexpr std::size_t kWorkerStack = 256 * 1024;
}  // namespace

TBatchRunner::~TBatchRunner() {
  Stop();
  worker_.Join();
}

void TBatchRunner::Start(TBatch batch, std::function<void()> done) {
  Run([this, batch = std::move(batch)] { return RunBatch(batch, Progress); }, std::move(done),
      false);
}

void TBatchRunner::Start(std::unique_ptr<TUndo> undo, std::function<void()> done) {
  if (Running()) throw std::logic_error("a batch is already running");
  undo_ = std::move(undo);
  TUndo* running = undo_.get();
  Run([this, running] { return running->Run(Progress); }, std::move(done), true);
}

void TBatchRunner::Run(std::function<TStampResult()> work, std::function<void()> done,
                       bool undo) {
  if (Running()) throw std::logic_error("a batch is already running");
  Progress.Changed = 0;
  Progress.Failed = 0;
  Progress.Stop = false;
  Progress.SetFolder(L"");
  outcome_ = TOutcome{};
  outcome_.Undo = undo;
  const bool started = worker_.Start(
      [this, work = std::move(work), done = std::move(done)] {
        try {
          outcome_.Result = work();
        } catch (...) {
          outcome_.Error = std::current_exception();
        }
        if (done) done();
      },
      kWorkerStack);
  if (!started) {
    const DWORD error = GetLastError();
    undo_.reset();
    throw rtl::Exception(L"作業用のスレッドを作成できません。\n" + rtl::SysErrorMessage(error));
  }
}

TBatchRunner::TOutcome TBatchRunner::Finish() {
  const std::exception_ptr error = worker_.Join();
  TOutcome outcome = std::move(outcome_);
  if (!outcome.Error) outcome.Error = error;
  outcome_ = TOutcome{};
  undo_.reset();
  return outcome;
}

}  // namespace zel
