#include "install/finish_once.h"

#include <new>

namespace installer {

void finishOnce(const wchar_t* failed, ProgressSink& sink, const std::function<Outcome()>& work,
                const std::function<void(const Outcome&)>& beforeFinished) noexcept {
    Outcome outcome;
    const wchar_t* failure = nullptr;
    base::FailureKind kind = base::FailureKind::kInternal;
    try {
        outcome = work();
        outcome.succeeded = outcome.error.empty();
    } catch (const std::bad_alloc&) {
        failure = L"out of memory";
    } catch (...) {
        failure = L"unexpected error";
        kind = base::FailureKind::kNone;
    }
    if (failure) {
        outcome = Outcome();
        outcome.problem = Problem::kUnexpected;
        outcome.cause.kind = kind;
        try {
            outcome.error = std::wstring(failed) + failure;
        } catch (...) {  // not even the text fits: the run still ends, as a failure
        }
    }
    if (beforeFinished) {
        try {
            beforeFinished(outcome);
        } catch (...) {  // the outcome stands whatever its follow-up does
        }
    }
    sink.finished(outcome);
}

}  // namespace installer
