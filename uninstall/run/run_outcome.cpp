#include "run/run_outcome.h"

#include "common/error_sink.h"

static_assert(int(kExitOutOfMemory) == int(VNX_EXIT_MEMORY), "one code for the memory error");

int ExitCodeOf(const RunOutcome& outcome)
{
    const struct
    {
        bool RunOutcome::*Field;
        int Code;
    } precedence[] = {
        {&RunOutcome::BadOption, kExitBadOption},
        {&RunOutcome::Busy, kExitBusy},
        {&RunOutcome::Cancelled, kExitCancelled},
        {&RunOutcome::Declined, kExitCancelled},
        {&RunOutcome::ListUnreadable, kExitNoList},
        {&RunOutcome::CleanupImpossible, kExitNoCleanup},
        {&RunOutcome::FilesLeft, kExitFilesLeft},
        {&RunOutcome::SetupPartial, kExitSetupPartial},
        {&RunOutcome::RestartScheduled, kExitRestartPending},
    };
    for (const auto& row : precedence)
        if (outcome.*row.Field)
            return row.Code;
    return kExitDone;
}
