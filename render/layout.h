#pragma once
// Where things sit on each screen, in the window's 96-dpi units. The buttons' places come
// with the frame; these are the painter's own, shared with the tests that read pixels.

namespace render::layout {

struct Box {
    float left, top, right, bottom;
    float width() const { return right - left; }
    float height() const { return bottom - top; }
    float centreX() const { return (left + right) / 2.0f; }
    float centreY() const { return (top + bottom) / 2.0f; }
};

// Every screen but the splash: the small logo and the name, level with the close button.
constexpr Box kHeaderLogo = {28, 13, 60, 45};
constexpr float kHeaderTitleX = 72;
constexpr float kHeaderCentreY = 29;

// Splash.
constexpr Box kSplashLogo = {284, 84, 476, 276};
constexpr float kSplashTitleBaseline = 342;

// Choose location.
constexpr float kChooseHeadingBaseline = 96;
constexpr float kChooseBadgeBaseline = 124;
constexpr Box kChoosePanel = {28, 148, 732, 374};
constexpr Box kLocationField = {44, 206, 588, 246};
constexpr float kContentLeft = 44;
constexpr float kContentRight = 716;

// Working.
constexpr Box kWorkingLogo = {322, 82, 438, 198};
constexpr Box kWorkingPanel = {60, 232, 700, 408};
constexpr Box kProgressBar = {88, 334, 672, 346};
constexpr float kStatusBaseline = 280;
constexpr float kDetailBaseline = 307;
constexpr float kBytesBaseline = 376;

// Done: the success mark, the heading under it, where the client went.
constexpr float kDoneMarkY = 140;
constexpr float kDoneHeadingBaseline = 232;
constexpr Box kInstalledIn = {140, 292, 620, 336};
constexpr float kDoneNoteBaseline = 366;

// Failed: a smaller mark and heading, to leave the error panel the room.
constexpr float kFailedMarkY = 106;
constexpr float kFailedHeadingBaseline = 178;
constexpr Box kErrorPanel = {60, 204, 700, 374};
constexpr float kErrorPadding = 18;
// The text starts under the panel's small caption.
constexpr float kErrorTextTop = kErrorPanel.top + 44;

}  // namespace render::layout
