#include "ui/phase_text.h"

#include "lang/texts.h"

namespace ui {

std::wstring phaseText(installer::Phase phase, lang::Language language) {
    using installer::Phase;
    using lang::Text;
    switch (phase) {
    case Phase::kContactingServer: return lang::text(language, Text::kPhaseContacting);
    case Phase::kDownloading: return lang::text(language, Text::kPhaseDownloading);
    case Phase::kInstalling: return lang::text(language, Text::kPhaseInstalling);
    case Phase::kVerifying: return lang::text(language, Text::kPhaseVerifying);
    case Phase::kRepairing: return lang::text(language, Text::kPhaseRepairing);
    case Phase::kInstalled: return lang::text(language, Text::kInstalledHeading);
    case Phase::kRepaired: return lang::text(language, Text::kRepairedHeading);
    case Phase::kRemoving: return lang::text(language, Text::kPhaseRemoving);
    case Phase::kRemoved: return lang::text(language, Text::kRemovedHeading);
    }
    return std::wstring();
}

}  // namespace ui
