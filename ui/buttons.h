#pragma once
// The buttons of each screen and which one a point hits.

#include <cstdint>
#include <optional>
#include <vector>

#include "lang/language.h"
#include "render/frame.h"
#include "ui/install_location.h"

namespace ui {

// The buttons of `screen`, Close first. Start reads "REPAIR" over an existing client. It is
// enabled once a location is chosen, unless a client of `clientBytes` (when known) does not
// fit on its drive: a repair is enabled then too, for the client there takes room already.
std::vector<render::Button> layoutButtons(int32_t screen, const InstallLocation& location,
                                          bool removal = false,
                                          lang::Language language = lang::Language::kEnglish,
                                          std::optional<uint64_t> clientBytes = std::nullopt);

// The id of the first enabled button under window pixel (x, y) at `scale`, or 0. Disabled
// buttons are never hit, so a press on one drags the window like empty space.
int32_t hitTest(const std::vector<render::Button>& buttons, int32_t x, int32_t y, float scale);

}  // namespace ui
