#pragma once
// The words each screen shows, in one place: the painter draws them and the accessibility
// tree reads them out, so what a player sees and what a screen reader says never part. All
// in the frame's language.

#include <cstdint>
#include <string>
#include <vector>

#include "lang/texts.h"
#include "render/frame.h"

namespace render {

// The screen's heading: the splash's name, the choose screen's question, the outcome.
// Empty on the working screen, where the status line leads.
std::wstring headingText(const Frame& frame);
std::wstring subtitleText(const Frame& frame);  // under the splash's name: "Orvane Online Setup"

// Choose screen.
std::wstring adminNoteText(const Frame& frame);        // "No administrator rights needed."
std::wstring locationCaptionText(const Frame& frame);  // "INSTALL LOCATION"
std::wstring locationText(const Frame& frame);  // the location, or the prompt for one
// Where the client goes and the room it needs: the size and the drive's free space once
// known; when the client does not fit, what is short (noteWarns).
std::wstring folderNoteText(const Frame& frame);
bool noteWarns(const Frame& frame);  // the folder note says the client does not fit
std::wstring repairNoticeText(const Frame& frame);     // shown over an existing client only
std::vector<std::wstring> stepTexts(const Frame& frame);  // the three steps of the job

// Working screen.
std::wstring percentText(const Frame& frame);  // "46%"; empty while busy
std::wstring bytesLineText(const Frame& frame);  // empty while busy and during a removal

// Done screen.
std::wstring doneLineText(const Frame& frame);
std::wstring folderCaptionText(const Frame& frame);  // "INSTALLED IN" / "KEPT IN"; empty: no box

// Failed screen.
std::wstring detailsCaptionText(const Frame& frame);  // "DETAILS"

// "3 files ...": the text of `one`'s group (one, few, many in that order) that `count` takes.
std::wstring countText(lang::Language language, int64_t count, lang::Text one);

}  // namespace render
