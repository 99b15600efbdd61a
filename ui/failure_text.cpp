#include "ui/failure_text.h"

#include <windows.h>

#include "lang/numbers.h"
#include "lang/texts.h"
#include "render/screen_text.h"

namespace ui {

namespace {

using installer::Problem;
using lang::Text;

std::wstring problemSentence(lang::Language language, const installer::Outcome& outcome, bool removal) {
    const auto say = [language](Text key, std::initializer_list<std::wstring> args = {}) {
        return lang::text(language, key, args);
    };
    switch (outcome.problem) {
    case Problem::kNoLocation: return say(Text::kFailNoLocation);
    case Problem::kProtectedFolder: return say(Text::kFailProtectedFolder, {outcome.folder});
    case Problem::kFolderBusy: return say(Text::kFailFolderBusy);
    case Problem::kNoSpace:
        return say(Text::kFailNoSpace,
                   {lang::formatSize(language, outcome.bytesNeeded), lang::formatSize(language, outcome.bytesFree)});
    case Problem::kManifest: return say(Text::kFailManifest);
    case Problem::kDownload: return say(Text::kFailDownload);
    case Problem::kVerify: return say(Text::kFailVerify);
    case Problem::kStart: return say(removal ? Text::kFailRemovalStart : Text::kFailStart);
    case Problem::kRemovalIncomplete:
        return render::countText(language, outcome.notDeleted, Text::kFailRemovalIncompleteOne);
    case Problem::kNothingToRemove: return say(Text::kFailNothingToRemove);
    case Problem::kUnexpected: return say(Text::kFailUnexpected);
    case Problem::kNone: break;
    }
    return std::wstring();
}

std::wstring causeSentence(lang::Language language, const base::Failure& cause) {
    using base::FailureKind;
    const auto say = [language](Text key, std::initializer_list<std::wstring> args = {}) {
        return lang::text(language, key, args);
    };
    const std::wstring status = std::to_wstring(cause.httpStatus);
    switch (cause.kind) {
    case FailureKind::kBadInput: return say(Text::kCauseBadData);
    case FailureKind::kConnection: return say(Text::kCauseConnection);
    case FailureKind::kSecure: return say(Text::kCauseSecure);
    case FailureKind::kHttpStatus:
        if (cause.httpStatus == 404 || cause.httpStatus == 410) return say(Text::kCauseMissing);
        // No status line at all is the server's fault too.
        if (cause.httpStatus == 0 || cause.httpStatus >= 500) return say(Text::kCauseServerError, {status});
        return say(Text::kCauseRefusedRequest, {status});
    case FailureKind::kStalled: return say(Text::kCauseStalled);
    case FailureKind::kTooLarge:
    case FailureKind::kMismatch: return say(Text::kCauseMismatch);
    case FailureKind::kRefused: return say(Text::kCauseNotTrusted);
    case FailureKind::kDisk: return say(Text::kCauseDisk);
    case FailureKind::kInternal: return say(Text::kCauseResources);
    case FailureKind::kCancelled:
    case FailureKind::kNone: break;
    }
    return std::wstring();
}

std::wstring formatted(DWORD code, DWORD langId) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, langId, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return std::wstring();
    std::wstring message(buffer, length);
    LocalFree(buffer);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

}  // namespace

std::wstring systemMessage(lang::Language language, uint32_t code) {
    // Windows has the words only in the display languages installed: the player's own then.
    std::wstring message = formatted(code, lang::langIdOf(language));
    if (message.empty()) message = formatted(code, 0);
    return message;
}

std::wstring failureText(lang::Language language, const installer::Outcome& outcome, bool removal) {
    if (outcome.problem == Problem::kNone) return outcome.error;
    std::wstring text = problemSentence(language, outcome, removal);
    const auto add = [&text](const std::wstring& sentence) {
        if (!sentence.empty()) text += (text.empty() ? L"" : L" ") + sentence;
    };
    // Not enough space says all there is to say; everything else tells why.
    if (outcome.problem != Problem::kNoSpace) {
        add(causeSentence(language, outcome.cause));
        const uint32_t code = outcome.cause.systemError;
        // WinHTTP's numbers have no words among the system's: the number then.
        const std::wstring words = code != 0 && (code < 12000 || code >= 13000) ? systemMessage(language, code)
                                                                                 : std::wstring();
        if (code != 0) add(words.empty() ? lang::text(language, Text::kCauseErrorCode, {std::to_wstring(code)}) : words);
    }
    if (!outcome.error.empty()) text += L"\n\n" + outcome.error;
    return text;
}

}  // namespace ui
