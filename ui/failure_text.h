#pragma once
// What the failed screen says: the problem and its cause in the player's language, then the
// English account the log keeps, for whoever helps the player.

#include <string>

#include "install/job.h"
#include "lang/language.h"

namespace ui {

// The outcome of a failed run as the player reads it. An outcome without a problem (made by
// hand) shows its English account alone. `removal`: the run removed the game, so a thread that
// could not be started is the removal's.
std::wstring failureText(lang::Language language, const installer::Outcome& outcome, bool removal = false);

// The system's own words for error `code` in `language`, else in the user's language; empty
// when the system has none.
std::wstring systemMessage(lang::Language language, uint32_t code);

}  // namespace ui
