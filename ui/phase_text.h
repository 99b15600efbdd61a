#pragma once
// The status lines the player reads: in the window's language there, in English in the log.

#include <string>

#include "install/job.h"
#include "lang/language.h"

namespace ui {

// The line that says what a worker is doing in `phase`: "Installing...", "Repair complete".
std::wstring phaseText(installer::Phase phase, lang::Language language = lang::Language::kEnglish);

}  // namespace ui
