#pragma once
// The one way an install or a removal worker ends. Nothing may leave a worker's thread (an
// escaping exception would end the whole program), and whoever shows the work waits for
// the outcome, so it is reported on every path, once, last.

#include <functional>

#include "install/job.h"

namespace installer {

// Runs `work` on the calling thread and reports its outcome, first to `beforeFinished` (may
// be empty: what must be done before anyone learns that the run has ended), then to
// `sink.finished`. Outcome::succeeded is set here, from the error. An exception from `work`
// becomes the error `failed` + "out of memory" (std::bad_alloc) or + "unexpected error";
// one from `beforeFinished` changes nothing.
void finishOnce(const wchar_t* failed, ProgressSink& sink, const std::function<Outcome()>& work,
                const std::function<void(const Outcome&)>& beforeFinished = {}) noexcept;

}  // namespace installer
