#pragma once

#include "change/ChangeRun.h"

// After a run that wrote (one that ended Done and was no dry run): the
// preview refilled from the table as it now is, then "Done.", as steps of
// the run's handler, over a connection of its own. The window (or the
// command line) calls it once the run is through; it changes the run's end
// where the refill is stopped (Stopped) or fails (Failed, reported), and
// adds its reports to the run's.
void RefillPreview(const ChangeRequest& request, ChangeRunObserver& observer, Interaction& ui,
                   ChangeRunResult& result);
