#include "render/frame.h"

namespace render {

bool operator==(const Button& a, const Button& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom &&
           a.id == b.id && a.label == b.label && a.primary == b.primary && a.enabled == b.enabled &&
           a.accessKey == b.accessKey;
}

bool operator==(const SystemColors& a, const SystemColors& b) {
    return a.window == b.window && a.windowText == b.windowText && a.highlight == b.highlight &&
           a.highlightText == b.highlightText && a.buttonFace == b.buttonFace &&
           a.buttonText == b.buttonText && a.grayText == b.grayText && a.hotlight == b.hotlight;
}

bool operator==(const Frame& a, const Frame& b) {
    return a.screen == b.screen && a.language == b.language && a.buttons == b.buttons && a.hover == b.hover &&
           a.focus == b.focus && a.keyboardCues == b.keyboardCues &&
           a.highContrast == b.highContrast && a.system == b.system &&
           a.location == b.location && a.installDir == b.installDir &&
           a.installationExists == b.installationExists && a.clientBytes == b.clientBytes &&
           a.freeBytes == b.freeBytes && a.volume == b.volume && a.status == b.status &&
           a.detail == b.detail && a.progress == b.progress && a.busy == b.busy &&
           a.spinnerStep == b.spinnerStep && a.bytesDone == b.bytesDone &&
           a.bytesTotal == b.bytesTotal && a.bytesPerSecond == b.bytesPerSecond &&
           a.secondsLeft == b.secondsLeft && a.error == b.error && a.removal == b.removal &&
           a.keptFiles == b.keptFiles && a.doneNote == b.doneNote;
}

bool frameChanged(const Frame& last, float lastScale, const Frame& next, float nextScale) {
    return lastScale != nextScale || !(last == next);
}

}  // namespace render
