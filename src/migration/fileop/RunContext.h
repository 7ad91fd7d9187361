// What every part of one tree copy shares: the request, the cancel flag, the rules and the counters.
#pragma once

#include "FileOperation.h"
#include "RunPolicy.h"
#include "RunProgress.h"

#include <atomic>

namespace fileop {

// Plain references, passed down instead of the engine: the parts read the
// cancel flag, record through the policy and count through the progress,
// and never call up into FileOperationEngine.
struct RunContext {
    const Request& request;
    const std::atomic<bool>& cancel;
    RunPolicy& policy;
    RunProgress& progress;

    bool cancelled() const { return cancel.load(std::memory_order_relaxed); }
    bool isMove() const { return request.operation == FO_MOVE; }
};

} // namespace fileop
