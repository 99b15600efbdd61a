#pragma once
// The window's colours, as 0xAARRGGBB. One place, so a tweak of the look touches one file.

#include <cstdint>

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

// A disabled primary button: flat slate, no glow, dim label.
constexpr uint32_t kDisabledFill = 0xFF272C4A;
constexpr uint32_t kDisabledText = 0xFF646C8F;

// Secondary (ghost) buttons and the location field.
constexpr uint32_t kGhostEdge = 0x4DFFFFFF;
constexpr uint32_t kGhostEdgeHover = 0x99FFFFFF;
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
constexpr uint32_t kDanger = 0xFFFF5C70;
constexpr uint32_t kDangerSoft = 0x24FF5C70;
constexpr uint32_t kErrorPanel = 0x33000000;
constexpr uint32_t kErrorEdge = 0x40FF5C70;

}  // namespace render::palette
