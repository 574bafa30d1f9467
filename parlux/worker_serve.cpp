// A worker that keeps one office application between the jobs its parent sends.
#include <cstring>

#include "job_records.h"
#include "platform/worker_signals.h"
#include "worker.h"

namespace parlux {
namespace {

// One job on the office kept from the previous ones (started when there is none, or replaced
// when the job needs another application than the kept one serves). The office is let go when the job leaves it in doubt.
int32_t ServeJob(const JobRecord& job, const ConversionRequest& request, OfficeApplication& office,
                 ConversionResult& result) {
    result = NewResult();
    if (!validRequest(&request, &result)) return rejectRequest(&result);
    if (!office.progId.empty() && office.key != officeKey(job.provider, job.kind)) {
        ConversionRequest silent = request;
        silent.progressCallback = nullptr;
        quitApplication(silent, office);
    }
    if (office.progId.empty()) {
        int32_t code = startApplication(job.provider, request, office, &result, true);
        if (code != kSuccess) return code;
    }
    DocumentOutcome outcome = convertWithApplication(job.provider, request, office);
    ProcessIdentity identity = office.identity;
    int32_t quitHr = 0;
    if (outcome.closeHr < 0 || !leavesOfficeUsable(outcome.code)) quitHr = quitApplication(request, office);
    return finishConversion(request, identity, outcome, quitHr, &result);
}

}  // namespace

int serveJobs(int pipeFd, int cancelFd, int jobFd) {
    OfficeApplication office;
    JobRecord job;
    while (!platform::StopRequested() && ReadJob(jobFd, job)) {
        ConversionRequest request;
        request.source = job.source;
        request.output = job.output;
        request.kind = static_cast<int32_t>(job.kind);
        request.cancelFd = cancelFd;
        request.progressCallback = sendProgressMessage;
        request.callbackContext = &pipeFd;
        ConversionResult result;
        ServeJob(job, request, office, result);
        sendWorkerMessage(pipeFd, ResultMessage(result));
        if (platform::ParentGone()) CleanUpAfterParent(job.output);
    }
    if (!office.progId.empty()) {
        ConversionRequest silent;  // the parent no longer listens for progress
        quitApplication(silent, office);
    }
    return kSuccess;
}

}  // namespace parlux
