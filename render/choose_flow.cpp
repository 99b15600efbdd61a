// The choose screen's notes and steps, and the panel's height they make.

#include <algorithm>

#include "render/scene.h"

namespace render {

namespace {

// Lines of about equal length, no more of them than a plain wrap gives: a two-line step
// reads better as two halves than as a full line and an orphan.
std::vector<std::wstring> wrapBalanced(const std::wstring& text, float maxWidth,
                                       const MeasureText& measure) {
    std::vector<std::wstring> lines = wrapText(text, maxWidth, measure);
    if (lines.size() < 2) return lines;
    float low = maxWidth / 2.0f, high = maxWidth;
    for (int i = 0; i < 10; ++i) {
        const float mid = (low + high) / 2.0f;
        (wrapText(text, mid, measure).size() <= lines.size() ? high : low) = mid;
    }
    return wrapText(text, high, measure);
}

constexpr float kStepTextWidth = kStepColumn - kStepDisc - kStepGap - 14.0f;

// Lines of the steps, all three at one size: up to two lines each, a little smaller if that
// is what two take, else three; never a word broken apart. `compact`: two lines down to the
// readable floor before a third, for a screen whose other texts left little room.
std::vector<StepLines> stepLines(Typesetter& text, const std::vector<std::wstring>& texts, bool compact) {
    std::vector<StepLines> steps(texts.size());
    const auto wrapAll = [&](float size, size_t most) {
        bool fits = true;
        for (size_t i = 0; i < texts.size(); ++i) {
            steps[i].size = size;
            steps[i].lines = wrapBalanced(texts[i], kStepTextWidth, text.measurer({size, Weight::kRegular, 0}));
            fits = fits && steps[i].lines.size() <= most && !breaksInsideWord(texts[i], steps[i].lines);
        }
        return fits;
    };
    for (float size = 12.5f; size >= (compact ? kReadableFloor : 11.5f); size -= 0.5f) {
        if (wrapAll(size, 2)) return steps;
    }
    for (float size = 12.5f; size >= kReadableFloor; size -= 0.5f) {
        if (wrapAll(size, 3)) return steps;
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        if (steps[i].lines.size() > 3 || breaksInsideWord(texts[i], steps[i].lines)) text.noteOverflow(texts[i]);
    }
    return steps;
}

// Where the lowest of the steps' letters end.
float stepsBottom(Typesetter& text, const std::vector<StepLines>& steps, float top) {
    float bottom = top + kStepDisc;
    for (const StepLines& step : steps) {
        const float last = firstStepBaseline(text, step, top) +
                           stepLineHeight(step) * static_cast<float>(step.lines.size() - 1);
        bottom = std::max(bottom, last + step.size * 0.3f);
    }
    return bottom;
}

float extraLines(const FittedLines& text, float lineHeight) {
    return lineHeight * static_cast<float>(text.lines.size() - 1);
}

constexpr float kStepsBelowRule = 13.5f;
// Between the panel's bottom and the top of the button under it.
constexpr float kPanelClearance = 8.0f;

ChooseFlow flowOnce(Typesetter& text, const ChooseTexts& texts, bool compact) {
    const float width = layout::kContentRight - layout::kContentLeft;
    const size_t noteLines = compact ? 1 : 2;
    ChooseFlow flow;
    flow.folderNote =
        fitLines(text, texts.folderNote, {12.5f, Weight::kRegular, 0}, width, kReadableFloor, noteLines);
    float last = kFolderNoteBaseline + extraLines(flow.folderNote, kNoteLineHeight);
    if (!texts.repairNotice.empty()) {
        flow.repair = fitLines(text, texts.repairNotice, {12.5f, Weight::kRegular, 0}, width - 24.0f,
                               kReadableFloor, noteLines);
        flow.repairBaseline = last + 22.0f;
        last = flow.repairBaseline + extraLines(flow.repair, kNoteLineHeight);
    }
    // A little more air over the rule when the folder note is the panel's last text.
    flow.rule = last + (texts.repairNotice.empty() ? 19.5f : 17.5f);
    flow.stepsTop = flow.rule + kStepsBelowRule;
    flow.steps = stepLines(text, texts.steps, compact);
    flow.panel.bottom = std::max(flow.rule + 63.5f, stepsBottom(text, flow.steps, flow.stepsTop) + 12.0f);
    return flow;
}

}  // namespace

// The first line's baseline of a step: one line sits level with the disc; two straddle its
// centre; a third goes below.
float firstStepBaseline(Typesetter& text, const StepLines& step, float top) {
    const float baseline = text.centredBaseline({step.size, Weight::kRegular, 0}, top + kStepDisc / 2.0f);
    return step.lines.size() > 1 ? baseline + 3.0f - 17.0f / 2.0f : baseline;
}

// Three lines sit a little closer, so that the panel grows no more than it must.
float stepLineHeight(const StepLines& step) { return step.lines.size() > 2 ? 15.0f : 17.0f; }

ChooseFlow chooseFlow(Typesetter& text, const ChooseTexts& texts, float buttonsTop) {
    ChooseFlow flow = flowOnce(text, texts, false);
    if (flow.panel.bottom <= buttonsTop - kPanelClearance) return flow;
    flow = flowOnce(text, texts, true);
    if (flow.panel.bottom > buttonsTop - kPanelClearance) text.noteOverflow(L"the choose screen's panel");
    return flow;
}

}  // namespace render
