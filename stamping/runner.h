// stamping/runner.h
// Runs a batch (or an undo) on a worker thread so the caller's thread stays free: the counts
// and the folder being walked are shared through Progress, the end is announced by a callback
// from the worker, and the result (or the failure that ended it) is carried back by Finish.
#pragma once
#include <exception>
#include <functional>
#include <memory>

#include "rtl/threads_win.h"
#include "stamping/journal.h"
#include "stamping/stamping.h"

namespace zel {

class TBatchRunner {
 public:
  TBatchRunner() = default;
  TBatchRunner(const TBatchRunner&) = delete;
  TBatchRunner& operator=(const TBatchRunner&) = delete;
  // A batch still running is stopped and waited for.
  ~TBatchRunner();

  TBatchProgress Progress;  // the worker counts into it; read it only until Finish

  // done runs on the worker as its last act and must not wait for the caller's thread.
  void Start(TBatch batch, std::function<void()> done);
  // An undo, which the runner keeps until Finish.
  void Start(std::unique_ptr<TUndo> undo, std::function<void()> done);
  // Started and not yet finished.
  bool Running() const { return worker_.Running(); }
  // The worker stops after the entry being changed; entries not reached are left alone.
  void Stop() { Progress.Stop = true; }

  struct TOutcome {
    TStampResult Result;
    std::exception_ptr Error;  // what ended the work early; the result is then empty
    bool Undo = false;         // the work was an undo
  };
  // Waits for the worker.
  TOutcome Finish();

 private:
  void Run(std::function<TStampResult()> work, std::function<void()> done, bool undo);
  rtl::TThread worker_;
  std::unique_ptr<TUndo> undo_;
  TOutcome outcome_;
};

}  // namespace zel
