#include "install/removal.h"

#include "base/long_path.h"
#include "install/finish_once.h"

namespace installer {

namespace {

// Everything between the start and the outcome of a removal.
Outcome removeAll(const Job& job, ProgressSink& sink) {
    sink.busy();  // stopping the client comes first, with no count to show
    sink.phase(Phase::kRemoving, std::wstring());
    RemovalResult result;
    Outcome outcome;
    outcome.error = removeInstallation(job.installDir, job.leaveForLater, result,
                                       [&sink](int64_t done, int64_t total, const std::wstring& item) {
                                           sink.items(done, total, item);
                                       });
    outcome.keptFiles = result.kept;
    outcome.problem = result.problem;
    outcome.notDeleted = result.notDeleted;
    if (result.problem == Problem::kProtectedFolder) outcome.folder = base::fullPath(job.installDir);
    if (result.problem == Problem::kRemovalIncomplete)
        outcome.cause = base::Failure(base::FailureKind::kDisk, "could not delete", result.firstError);
    outcome.setupCopyLeft = result.setupCopyLeft;
    if (outcome.error.empty()) sink.phase(Phase::kRemoved, job.installDir);
    return outcome;
}

}  // namespace

void runRemovalWorker(const Job& job, ProgressSink& sink,
                      const std::function<void(const Outcome&)>& beforeFinished) {
    finishOnce(L"Removal failed: ", sink, [&] { return removeAll(job, sink); }, beforeFinished);
}

}  // namespace installer
