#pragma once
// The window's colours, as 0xAARRGGBB. One place, so a tweak of the look touches one file.
// The constants are the standard look; `Palette` carries the colours a frame is painted in,
// either those or a high-contrast theme's system colours.

#include <cstdint>

#include "render/frame.h"

namespace render::palette {

// Background: deep navy at the top left into indigo at the bottom right, lit by two soft
// glows (blue behind the logo, violet low on the right).
constexpr uint32_t kBackgroundTop = 0xFF0A0F2C;
constexpr uint32_t kBackgroundBottom = 0xFF1A1245;
constexpr uint32_t kGlowBlue = 0x552B7BFF;
constexpr uint32_t kGlowViolet = 0x447A4DFF;
constexpr uint32_t kWindowEdge = 0x22FFFFFF;
constexpr uint32_t kHeaderRule = 0x14FFFFFF;

// Panels: a faint lift off the background with a hairline edge and an accent halo.
constexpr uint32_t kPanel = 0x10FFFFFF;
constexpr uint32_t kPanelEdge = 0x1FFFFFFF;
constexpr uint32_t kPanelHalo = 0x2E3D8BFF;

// Text.
constexpr uint32_t kText = 0xFFF3F5FF;
constexpr uint32_t kTextMuted = 0xFFA7B0D4;
constexpr uint32_t kTextDim = 0xFF737CA3;

// Accent: the primary buttons and the progress fill (blue into violet).
constexpr uint32_t kAccent = 0xFF2F7DFF;
constexpr uint32_t kAccentHover = 0xFF5596FF;
constexpr uint32_t kAccentEnd = 0xFF8A5BFF;
constexpr uint32_t kAccentText = 0xFFFFFFFF;
constexpr uint32_t kAccentGlow = 0x3A2F7DFF;
constexpr uint32_t kAccentHoverGlow = 0x662F7DFF;
constexpr uint32_t kAccentLitEdge = 0x40FFFFFF;  // the primary button's top edge
constexpr uint32_t kAccentSoft = 0x332F7DFF;     // the choose screen's step discs
constexpr uint32_t kAccentRing = 0xCC4F8FFF;
constexpr uint32_t kPercent = 0xFF8DB6FF;
constexpr uint32_t kEmblemLight = 0xFF6FB2FF;  // where the stand-in mark's gradient starts

// A disabled primary button: flat slate, no glow, dim label.
constexpr uint32_t kDisabledFill = 0xFF272C4A;
constexpr uint32_t kDisabledEdge = 0x14FFFFFF;
constexpr uint32_t kDisabledText = 0xFF646C8F;

// Secondary (ghost) buttons and the location field.
constexpr uint32_t kGhostEdge = 0x4DFFFFFF;
constexpr uint32_t kGhostEdgeHover = 0x99FFFFFF;
constexpr uint32_t kGhostEdgeDisabled = 0x1FFFFFFF;
constexpr uint32_t kGhostHover = 0x17FFFFFF;
constexpr uint32_t kField = 0x66050818;
constexpr uint32_t kFieldEdge = 0x26FFFFFF;

// Close mark.
constexpr uint32_t kCloseMark = 0xFFA7B0D4;
constexpr uint32_t kCloseHover = 0xFFE5484D;

// Progress track, spinner track.
constexpr uint32_t kTrack = 0xFF1B2144;
constexpr uint32_t kSpinnerTrack = 0x26FFFFFF;

// Outcomes.
constexpr uint32_t kSuccess = 0xFF2FD39A;
constexpr uint32_t kSuccessSoft = 0x262FD39A;
constexpr uint32_t kSuccessText = 0xFF7BE6BF;
constexpr uint32_t kDanger = 0xFFFF5C70;
constexpr uint32_t kDangerSoft = 0x24FF5C70;
constexpr uint32_t kErrorPanel = 0x33000000;
constexpr uint32_t kErrorEdge = 0x40FF5C70;
constexpr uint32_t kErrorCaption = 0xFFB07A8C;
constexpr uint32_t kErrorText = 0xFFE4E8F8;

// Nothing drawn: a fully transparent colour leaves every pixel as it was.
constexpr uint32_t kNone = 0x00000000;

}  // namespace render::palette

namespace render {

// Every colour the screens paint with, by its role. A colour of palette::kNone draws nothing.
struct Palette {
    // No gradients, glows, halos or lit edges: a high-contrast theme shows only its own
    // colours, so shapes are solid fills and edges.
    bool flat = false;

    uint32_t backgroundTop, backgroundBottom, glowBlue, glowViolet, windowEdge, headerRule;
    uint32_t divider;  // between the header's name and "Setup"
    uint32_t panel, panelEdge, panelHalo;
    uint32_t text, textMuted, textDim;

    uint32_t accent, accentHover, accentEnd, accentText, accentGlow, accentHoverGlow,
        accentLitEdge, accentSoft, accentRing, percent, emblemLight;
    uint32_t disabledFill, disabledEdge, disabledText;
    // Secondary buttons: the face under the label (kNone: the background shows through).
    uint32_t buttonFace, buttonText;
    uint32_t ghostEdge, ghostEdgeHover, ghostEdgeDisabled, ghostHover;
    // A hovered button's edge, drawn two units wide (kNone: the fill alone shows the hover).
    uint32_t hoverEdge;
    uint32_t field, fieldEdge;
    uint32_t closeMark, closeMarkHover, closeHover;
    uint32_t track, trackEdge, spinnerTrack, spinner;
    uint32_t success, successSoft, successText, danger, dangerSoft;
    uint32_t errorPanel, errorEdge, errorCaption, errorText;
    // The ring around the button with the keyboard focus.
    uint32_t focusRing;
};

// The window's own look, from the constants above.
Palette standardPalette();

// Everything flat in the theme's colours: texts in the window text colour (disabled ones in
// the gray text colour), edges instead of tints, the highlight for the primary button, the
// progress fill and the spinner.
Palette highContrastPalette(const SystemColors& system);

// The palette `frame` is painted in.
Palette paletteFor(const Frame& frame);

}  // namespace render
