#include "ui/phase_text.h"

namespace ui {

std::wstring phaseText(installer::Phase phase) {
    using installer::Phase;
    switch (phase) {
    case Phase::kContactingServer: return L"Contacting update server...";
    case Phase::kDownloading: return L"Downloading client...";
    case Phase::kInstalling: return L"Installing...";
    case Phase::kVerifying: return L"Verifying files...";
    case Phase::kRepairing: return L"Repairing files...";
    case Phase::kInstalled: return L"Installation complete";
    case Phase::kRepaired: return L"Repair complete";
    case Phase::kRemoving: return L"Removing Orvane Online...";
    case Phase::kRemoved: return L"Orvane Online was removed";
    }
    return std::wstring();
}

}  // namespace ui
