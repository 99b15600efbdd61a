#include "render/palette.h"

namespace render {

Palette standardPalette() {
    using namespace palette;
    Palette p;
    p.flat = false;
    p.backgroundTop = kBackgroundTop, p.backgroundBottom = kBackgroundBottom;
    p.glowBlue = kGlowBlue, p.glowViolet = kGlowViolet;
    p.windowEdge = kWindowEdge, p.headerRule = kHeaderRule, p.divider = kGhostEdge;
    p.panel = kPanel, p.panelEdge = kPanelEdge, p.panelHalo = kPanelHalo;
    p.text = kText, p.textMuted = kTextMuted, p.textDim = kTextDim;
    p.accent = kAccent, p.accentHover = kAccentHover, p.accentEnd = kAccentEnd;
    p.accentText = kAccentText, p.accentGlow = kAccentGlow, p.accentHoverGlow = kAccentHoverGlow;
    p.accentLitEdge = kAccentLitEdge, p.accentSoft = kAccentSoft, p.accentRing = kAccentRing;
    p.percent = kPercent, p.emblemLight = kEmblemLight;
    p.disabledFill = kDisabledFill, p.disabledEdge = kDisabledEdge, p.disabledText = kDisabledText;
    p.buttonFace = kNone, p.buttonText = kText;
    p.ghostEdge = kGhostEdge, p.ghostEdgeHover = kGhostEdgeHover;
    p.ghostEdgeDisabled = kGhostEdgeDisabled, p.ghostHover = kGhostHover;
    p.hoverEdge = kNone;
    p.field = kField, p.fieldEdge = kFieldEdge;
    p.closeMark = kCloseMark, p.closeMarkHover = kText, p.closeHover = kCloseHover;
    p.track = kTrack, p.trackEdge = kNone, p.spinnerTrack = kSpinnerTrack;
    p.spinner = kAccentHover;
    p.success = kSuccess, p.successSoft = kSuccessSoft, p.successText = kSuccessText;
    p.danger = kDanger, p.dangerSoft = kDangerSoft;
    p.errorPanel = kErrorPanel, p.errorEdge = kErrorEdge;
    p.errorCaption = kErrorCaption, p.errorText = kErrorText;
    // Near white: it stands out from the dark backdrop and from the accent fill alike.
    p.focusRing = kText;
    return p;
}

Palette highContrastPalette(const SystemColors& s) {
    using palette::kNone;
    Palette p;
    p.flat = true;
    p.backgroundTop = p.backgroundBottom = s.window;
    p.glowBlue = p.glowViolet = kNone;
    p.windowEdge = p.headerRule = p.divider = s.windowText;
    p.panel = kNone, p.panelEdge = s.windowText, p.panelHalo = kNone;
    p.text = p.textMuted = p.textDim = s.windowText;
    p.accent = p.accentHover = p.accentEnd = s.highlight;
    p.accentText = s.highlightText;
    p.accentGlow = p.accentHoverGlow = p.accentLitEdge = kNone;
    p.accentSoft = kNone, p.accentRing = s.windowText;
    p.percent = s.windowText, p.emblemLight = s.highlight;
    p.disabledFill = s.buttonFace, p.disabledEdge = s.grayText, p.disabledText = s.grayText;
    p.buttonFace = s.buttonFace, p.buttonText = s.buttonText;
    p.ghostEdge = p.ghostEdgeHover = s.buttonText;
    p.ghostEdgeDisabled = s.grayText, p.ghostHover = s.buttonFace;
    p.hoverEdge = s.hotlight;
    p.field = kNone, p.fieldEdge = s.windowText;
    p.closeMark = p.closeMarkHover = s.buttonText, p.closeHover = kNone;
    p.track = s.window, p.trackEdge = s.windowText, p.spinnerTrack = kNone;
    p.spinner = s.highlight;
    p.success = p.danger = s.windowText;
    p.successSoft = p.dangerSoft = kNone;
    p.successText = s.windowText;
    p.errorPanel = kNone, p.errorEdge = s.windowText;
    p.errorCaption = p.errorText = s.windowText;
    p.focusRing = s.windowText;
    return p;
}

Palette paletteFor(const Frame& frame) {
    return frame.highContrast ? highContrastPalette(frame.system) : standardPalette();
}

}  // namespace render
