#pragma once
// The status lines the player reads, in the window and in the log alike.

#include <string>

#include "install/job.h"

namespace ui {

// The line that says what a worker is doing in `phase`: "Installing...", "Repair complete".
std::wstring phaseText(installer::Phase phase);

}  // namespace ui
