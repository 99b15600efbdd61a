// The window's decisions, without a window: command line, geometry, buttons, time, speed.

#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <sstream>

#include <oleacc.h>

#include "base/disk_space.h"
#include "render/screen_text.h"
#include "tests/support/temp_dir.h"
#include "ui/access_tree.h"
#include "ui/accessible.h"
#include "ui/animation.h"
#include "ui/announcer.h"
#include "ui/buttons.h"
#include "ui/command_line.h"
#include "ui/failure_text.h"
#include "ui/install_location.h"
#include "ui/jobs.h"
#include "ui/keyboard.h"
#include "ui/main_window.h"
#include "ui/phase_text.h"
#include "ui/silent.h"
#include "ui/speed_meter.h"
#include "ui/system_look.h"
#include "ui/taskbar.h"
#include "ui/window_metrics.h"
#include "ui/work_progress.h"

using namespace ui;

TEST(CommandLine, OptionsThroughTheShellSplitter) {
    // A quoted path ending in a backslash keeps its closing quote after splitting.
    CommandLineOptions options =
        parseArguments(splitCommandLine(LR"(setup.exe --manifest=https://h/pc/manifest.json "--install=D:\Games\")"));
    EXPECT_EQ(options.installLocation, L"D:\\Games");
    EXPECT_TRUE(options.manifestGiven);
    EXPECT_EQ(options.manifestUrl, "https://h/pc/manifest.json");

    options = parseArguments(splitCommandLine(LR"(setup.exe "--install=C:\Spiele\Größe" extra --other=1)"));
    EXPECT_EQ(options.installLocation, L"C:\\Spiele\\Gr\u00f6\u00dfe");
    EXPECT_FALSE(options.manifestGiven);
}

TEST(CommandLine, EmptyCaseOnlyAndRepeatedOptions) {
    CommandLineOptions options = parseArguments({L"--install=", L"--install=\"\"", L"--manifest="});
    EXPECT_TRUE(options.installLocation.empty());
    EXPECT_TRUE(options.manifestGiven);
    EXPECT_TRUE(options.manifestUrl.empty());

    options = parseArguments({L"--Manifest=http://a/", L"--INSTALL=C:\\x", L"--manifest", L"--install"});
    EXPECT_FALSE(options.manifestGiven);
    EXPECT_TRUE(options.installLocation.empty());

    options = parseArguments({L"--manifest=http://a/", L"--install=C:\\a", L"--manifest=http://b/\u00e9",
                              L"--install=C:\\b"});
    EXPECT_EQ(options.manifestUrl, "http://b/\xc3\xa9");
    EXPECT_EQ(options.installLocation, L"C:\\b");
}

TEST(CommandLine, SilentRemovalAndWhatSilentRefuses) {
    CommandLineOptions options = parseArguments(
        splitCommandLine(LR"(setup.exe --uninstall --silent "--log=C:\Logs\setup.log" --install-dir=D:\Orvane)"));
    EXPECT_TRUE(options.uninstall);
    EXPECT_TRUE(options.silent);
    EXPECT_EQ(options.logPath, L"C:\\Logs\\setup.log");
    EXPECT_EQ(options.installDir, L"D:\\Orvane");
    // Removal needs no location: it can work on the folder the program runs from.
    EXPECT_EQ(silentUsageError(options), L"");

    EXPECT_EQ(silentUsageError(parseArguments({L"--silent"})),
              L"--silent needs --install=FOLDER: where to install Orvane Online");
    EXPECT_EQ(silentUsageError(parseArguments({L"--silent", L"--install=C:\\x", L"--Silent"})),
              L"Unknown option: --Silent");
    EXPECT_EQ(silentUsageError(parseArguments({L"--silent", L"--install=C:\\x", L"--log="})),
              L"--log= needs a file name");
    // A language is taken by its tag; one the setup does not speak is refused, not skipped.
    options = parseArguments({L"--silent", L"--install=C:\\x", L"--lang=pt-BR"});
    EXPECT_TRUE(options.languageGiven);
    EXPECT_EQ(options.language, L"pt-BR");
    EXPECT_EQ(silentUsageError(options), L"");
    EXPECT_EQ(silentUsageError(parseArguments({L"--silent", L"--install=C:\\x", L"--lang=klingon"})),
              L"Unknown language: --lang=klingon (one of en, de, fr, es, pt-BR, pl, ru, tr)");
}

TEST(SilentLog, ANewStatusAndEachTenthGetALine) {
    ProgressLines lines;
    EXPECT_EQ(lines.next(L"", true, 0.0), L"");
    EXPECT_EQ(lines.next(L"Contacting update server...", false, 0.0), L"Contacting update server...");
    EXPECT_EQ(lines.next(L"Contacting update server...", false, 0.0), L"");
    EXPECT_EQ(lines.next(L"Downloading client...", true, 0.04), L"Downloading client... 0%");
    EXPECT_EQ(lines.next(L"Downloading client...", true, 0.09), L"");
    EXPECT_EQ(lines.next(L"Downloading client...", true, 0.37), L"Downloading client... 30%");
    // The bar of a new phase starts again at nothing.
    EXPECT_EQ(lines.next(L"Verifying files...", true, 0.0), L"Verifying files... 0%");
    EXPECT_EQ(lines.next(L"Verifying files...", true, 1.0), L"Verifying files... 100%");
    EXPECT_EQ(lines.next(L"Verifying files...", true, 1.0), L"");
}

TEST(WorkProgress, StatusLinesAndTheBar) {
    using installer::Phase;
    const std::pair<Phase, const wchar_t*> texts[] = {
        {Phase::kContactingServer, L"Contacting update server..."}, {Phase::kDownloading, L"Downloading client..."},
        {Phase::kInstalling, L"Installing..."}, {Phase::kVerifying, L"Verifying files..."},
        {Phase::kRepairing, L"Repairing files..."}, {Phase::kInstalled, L"Installation complete"},
        {Phase::kRepaired, L"Repair complete"}, {Phase::kRemoving, L"Removing Orvane Online..."},
        {Phase::kRemoved, L"Orvane Online was removed"}};
    for (const auto& [phase, text] : texts) EXPECT_EQ(phaseText(phase), text);

    std::vector<WorkSnapshot> heard;
    WorkProgress work(nullptr, [&](const WorkSnapshot& now) { heard.push_back(now); });
    EXPECT_TRUE(work.running());  // from the start: an early Escape asks
    EXPECT_TRUE(work.snapshot().busy);
    work.bytes(50, 100);
    EXPECT_DOUBLE_EQ(work.snapshot().progress, 0.5);
    work.bytes(5000, 0);  // no total: the bar stays
    EXPECT_DOUBLE_EQ(work.snapshot().progress, 0.5);
    work.bytes(5000, 100);  // an undercounted total never shows past full
    EXPECT_DOUBLE_EQ(work.snapshot().progress, 1.0);
    EXPECT_TRUE(heard.empty());  // byte counts are no news for the log

    work.busy();
    work.phase(Phase::kVerifying, L"a.pak");
    work.phase(Phase::kRemoving, L"");
    work.items(1, 4, L"data\\b.pak");
    work.items(4, 4, L"");  // the last file stays named
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].status, L"Verifying files...");  // however briefly it stood
    EXPECT_EQ(heard[0].detail, L"a.pak");
    EXPECT_TRUE(heard[0].busy);
    EXPECT_DOUBLE_EQ(heard[2].progress, 0.25);
    EXPECT_FALSE(heard[2].busy);
    EXPECT_EQ(heard[3].detail, L"data\\b.pak");
    work.items(0, 0, L"");
    EXPECT_DOUBLE_EQ(work.snapshot().progress, 1.0);  // nothing to remove is done

    WorkProgress closing;
    closing.phase(Phase::kRepaired, L"D:\\Games\\OrvaneOnline");
    EXPECT_DOUBLE_EQ(closing.snapshot().progress, 1.0);
    EXPECT_FALSE(closing.snapshot().busy);

    installer::Outcome outcome;
    outcome.error = L"Removal failed: out of memory";
    outcome.keptFiles = 3;
    work.finished(outcome);
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_TRUE(heard.back().finished);
    EXPECT_FALSE(heard.back().running);
    EXPECT_EQ(heard.back().outcome.keptFiles, 3);
    EXPECT_EQ(work.snapshot().outcome.error, L"Removal failed: out of memory");
}

TEST(SilentLog, ARunFromItsFirstLineToItsOutcome) {
    testsupport::TempDir dir;
    ProgressLog file;
    std::wstring error;
    ASSERT_TRUE(file.openFile((dir / "logs" / "setup.log").wstring(), error));
    RunLog log(file);
    installer::Job job;
    job.installDir = L"D:\\Games\\OrvaneOnline";
    WorkProgress work(nullptr, [&](const WorkSnapshot& now) { log.report(job, now); });
    log.report(job, work.snapshot());
    work.busy();
    work.phase(installer::Phase::kContactingServer, L"");
    work.bytes(0, 100);
    work.host(L"https://cdn-a.example", L"");
    work.phase(installer::Phase::kInstalling, L"a.pak");
    work.host(L"https://cdn-b.example", L"https://cdn-a.example: HTTP status 503 for https://cdn-a.example/x");
    work.host(L"https://cdn-b.example", L"https://cdn-a.example: connection lost at byte 7");  // no news
    work.bytes(100, 100);
    work.phase(installer::Phase::kInstalled, job.installDir);
    installer::Outcome outcome;
    outcome.succeeded = true;
    outcome.obsoleteRemoved = 2;
    work.finished(outcome);
    log.outcome(job, work.snapshot(), outcome);  // once a run

    std::vector<std::string> lines;
    std::istringstream text(testsupport::readFile(dir / "logs" / "setup.log"));
    for (std::string line; std::getline(text, line);) lines.push_back(line.substr(line.find("  ") + 2));
    EXPECT_EQ(lines, (std::vector<std::string>{"Installing Orvane Online to D:\\Games\\OrvaneOnline\r",
                                               "Contacting update server...\r",
                                               "Downloading from https://cdn-a.example\r", "Installing... 0%\r",
                                               "Downloading from https://cdn-b.example (https://cdn-a.example: "
                                               "HTTP status 503 for https://cdn-a.example/x)\r",
                                               "Installation complete 100%\r",
                                               "2 files that this release no longer has were removed.\r"}));
}

TEST(Location, ARemovalWithoutAFolderWorksWhereTheProgramRuns) {
    CommandLineOptions options = parseArguments({L"--uninstall"});
    InstallLocation location = locationFor(options, L"D:\\Games\\OrvaneOnline\\OrvaneSetup.exe");
    EXPECT_EQ(location.installDir, L"D:\\Games\\OrvaneOnline");
    EXPECT_EQ(location.chosen, L"D:\\Games");
    options = parseArguments({L"--uninstall", L"--install=D:\\Other\\"});
    EXPECT_EQ(locationFor(options, L"C:\\OrvaneSetup.exe").installDir, L"D:\\Other\\OrvaneOnline");
    // Nothing names a folder for an install: the player chooses.
    EXPECT_TRUE(locationFor(parseArguments({}), L"C:\\OrvaneSetup.exe").chosen.empty());
}

// The sink of a run that asks, at each report, whether the PC is kept awake.
class AwakeSink : public installer::ProgressSink {
public:
    void phase(installer::Phase, const std::wstring&) override { look(); }
    void busy() override { look(); }
    void bytes(uint64_t, int64_t) override {}
    void host(const std::wstring&, const std::wstring&) override {}
    void items(int64_t, int64_t, const std::wstring&) override { look(); }
    void finished(const installer::Outcome&) noexcept override { look(); }
    int reports = 0, awake = 0;

private:
    void look() {
        ++reports;
        // Without ES_CONTINUOUS this only resets the idle timer, and tells the state in force.
        const EXECUTION_STATE now = SetThreadExecutionState(ES_SYSTEM_REQUIRED);
        if ((now & (ES_CONTINUOUS | ES_SYSTEM_REQUIRED)) == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED)) ++awake;
    }
};

TEST(Jobs, ThePcStaysAwakeWhileAJobRunsAndMayRestAfter) {
    testsupport::TempDir temp;
    installer::Job job;
    job.kind = installer::JobKind::kInstall;
    job.installDir = temp.str() + L"\\OrvaneOnline";
    job.manifestUrl = "http://127.0.0.1:9/pc/manifest.json";  // nothing listens: it fails at once
    AwakeSink sink;
    runJob(job, sink);
    EXPECT_GE(sink.reports, 2);
    EXPECT_EQ(sink.awake, sink.reports);
    EXPECT_EQ(SetThreadExecutionState(ES_SYSTEM_REQUIRED) & ES_SYSTEM_REQUIRED, 0u);
}

TEST(WindowMetrics, SizeAndCornerFollowTheDpi) {
    struct Case { int dpi, width, height, radius; };
    for (const Case& c : {Case{72, 760, 500, 16}, Case{0, 760, 500, 16}, Case{96, 760, 500, 16},
                          Case{120, 950, 625, 20}, Case{144, 1140, 750, 24}}) {
        const WindowPlacement placement = placeWindow(scaleForDpi(c.dpi), 1920, 1080);
        EXPECT_EQ(placement.width, c.width) << c.dpi;
        EXPECT_EQ(placement.height, c.height) << c.dpi;
        EXPECT_EQ(placement.radius, c.radius) << c.dpi;
    }
    const WindowPlacement centred = placeWindow(1.0f, 1921, 1081);
    EXPECT_EQ(centred.x, 580);
    EXPECT_EQ(centred.y, 290);
    const WindowPlacement tooBig = placeWindow(1.5f, 1024, 700);
    EXPECT_EQ(tooBig.x, -58);
    EXPECT_EQ(tooBig.y, -25);
}

TEST(Buttons, EachScreenHasItsButtons) {
    InstallLocation none;
    EXPECT_TRUE(layoutButtons(render::kScreenSplash, none).empty());
    std::vector<render::Button> choose = layoutButtons(render::kScreenChoose, none);
    ASSERT_EQ(choose.size(), 3u);
    EXPECT_EQ(choose[0].id, render::kButtonClose);
    EXPECT_EQ(choose[1].id, render::kButtonBrowse);
    EXPECT_EQ(choose[2].label, L"INSTALL");
    EXPECT_FALSE(choose[2].enabled);

    InstallLocation existing;
    existing.chosen = L"D:\\";
    existing.installDir = L"D:\\OrvaneOnline";
    existing.installationExists = true;
    choose = layoutButtons(render::kScreenChoose, existing);
    EXPECT_EQ(choose[2].label, L"REPAIR");
    EXPECT_TRUE(choose[2].enabled && choose[2].primary);

    EXPECT_EQ(layoutButtons(render::kScreenWorking, existing).size(), 1u);
    EXPECT_EQ(layoutButtons(render::kScreenDone, existing).back().label, L"PLAY");
    EXPECT_EQ(layoutButtons(render::kScreenFailed, existing).back().label, L"TRY AGAIN");

    // In every language each label's access key is a letter of its own on its screen.
    for (lang::Language language : lang::allLanguages()) {
        for (const InstallLocation& location : {none, existing}) {
            for (int32_t screen : {render::kScreenChoose, render::kScreenDone, render::kScreenFailed}) {
                std::set<wchar_t> keys;
                for (const render::Button& button : layoutButtons(screen, location, false, language)) {
                    if (button.label.empty()) continue;
                    EXPECT_TRUE(iswalpha(button.accessKey)) << button.label;
                    EXPECT_TRUE(keys.insert(button.accessKey).second) << lang::tagOf(language) << " " << button.label;
                }
            }
        }
    }
    EXPECT_EQ(layoutButtons(render::kScreenChoose, existing, false, lang::Language::kRussian)[2].accessKey, L'\u0412');

    // INSTALL waits for a drive the client fits on; REPAIR works with what is there already.
    const uint64_t client = 700ull << 20;
    InstallLocation small = existing;
    small.installationExists = false;
    small.freeBytes = base::spaceNeeded(client) - 1;
    EXPECT_FALSE(layoutButtons(render::kScreenChoose, small, false, lang::Language::kEnglish, client)[2].enabled);
    EXPECT_TRUE(layoutButtons(render::kScreenChoose, small, false, lang::Language::kEnglish)[2].enabled);  // size unknown
    small.freeBytes = base::spaceNeeded(client);
    EXPECT_TRUE(layoutButtons(render::kScreenChoose, small, false, lang::Language::kEnglish, client)[2].enabled);
    small.freeBytes.reset();  // a drive that will not say
    EXPECT_TRUE(layoutButtons(render::kScreenChoose, small, false, lang::Language::kEnglish, client)[2].enabled);
    existing.freeBytes = 0;
    EXPECT_TRUE(layoutButtons(render::kScreenChoose, existing, false, lang::Language::kEnglish, client)[2].enabled);
}

TEST(FailureText, ProblemAndCauseInThePlayersLanguageThenTheAccount) {
    using installer::Problem;
    installer::Outcome outcome;
    outcome.error = L"Install failed: disk full";
    EXPECT_EQ(failureText(lang::Language::kGerman, outcome), outcome.error);  // made by hand: as it is

    outcome.problem = Problem::kDownload;
    outcome.error = L"Install failed: HTTP status 503 for https://cdn/a.pak";
    outcome.cause = base::Failure::http(503, "HTTP status 503 for https://cdn/a.pak");
    EXPECT_EQ(failureText(lang::Language::kEnglish, outcome),
              L"The game could not be downloaded and installed. The update server is having trouble (HTTP 503). "
              L"Try again later.\n\nInstall failed: HTTP status 503 for https://cdn/a.pak");
    EXPECT_EQ(failureText(lang::Language::kGerman, outcome).rfind(
                  L"Das Spiel konnte nicht heruntergeladen und installiert werden. Der Updateserver hat ein Problem "
                  L"(HTTP 503).", 0), 0u);
    outcome.cause = base::Failure::http(404, "");
    EXPECT_NE(failureText(lang::Language::kFrench, outcome).find(L"Il manque sur le serveur"), std::wstring::npos);
    outcome.cause = base::Failure::http(403, "");
    EXPECT_NE(failureText(lang::Language::kEnglish, outcome).find(L"refused the request (HTTP 403)"), std::wstring::npos);
    // A connection's WinHTTP number has no words of the system's: the number, in the language.
    outcome.cause = base::Failure(base::FailureKind::kConnection, "", 12029);
    EXPECT_NE(failureText(lang::Language::kPolish, outcome).find(L"Błąd 12029."), std::wstring::npos);

    // A file in use: the system's own words for why, and a count in the language's plural.
    installer::Outcome removal;
    removal.problem = Problem::kRemovalIncomplete;
    removal.notDeleted = 3;
    removal.cause = base::Failure(base::FailureKind::kDisk, "", ERROR_SHARING_VIOLATION);
    const std::wstring russian = failureText(lang::Language::kRussian, removal);
    EXPECT_EQ(russian.rfind(L"Не удалось удалить 3 файла.", 0), 0u) << russian.size();
    EXPECT_NE(russian.find(systemMessage(lang::Language::kRussian, ERROR_SHARING_VIOLATION)), std::wstring::npos);
    EXPECT_FALSE(systemMessage(lang::Language::kRussian, ERROR_SHARING_VIOLATION).empty());

    // Sizes as the language writes them, and no cause where the problem says it all.
    installer::Outcome space;
    space.problem = Problem::kNoSpace;
    space.bytesNeeded = 1536ull << 20;
    space.bytesFree = 300ull << 20;
    space.cause = base::Failure(base::FailureKind::kDisk, "", ERROR_DISK_FULL);
    EXPECT_EQ(failureText(lang::Language::kFrench, space),
              L"Espace disque insuffisant sur le lecteur\u00A0: 1,50\u00A0Go n\u00E9cessaires, 300\u00A0Mo disponibles.");
    EXPECT_EQ(failureText(lang::Language::kEnglish, {}, true), L"");
    installer::Outcome start;
    start.problem = Problem::kStart;
    EXPECT_EQ(failureText(lang::Language::kSpanish, start, true), L"No se pudo iniciar la desinstalaci\u00F3n.");
}

TEST(Buttons, HitTestInUnitsOfTheScale) {
    InstallLocation none;
    const std::vector<render::Button> buttons = layoutButtons(render::kScreenChoose, none);
    EXPECT_EQ(hitTest(buttons, 1080, 30, 1.5f), render::kButtonClose);
    EXPECT_EQ(hitTest(buttons, 716, 14, 1.0f), render::kButtonClose);
    EXPECT_EQ(hitTest(buttons, 746, 14, 1.0f), render::kButtonNone);  // right edge is outside
    EXPECT_EQ(hitTest(buttons, 716, 44, 1.0f), render::kButtonNone);
    EXPECT_EQ(hitTest(buttons, 1118, 65, 1.5f), render::kButtonClose);  // 745.3, 43.3 truncate inside
    // The disabled Start is never hit: a press there drags the window.
    EXPECT_EQ(hitTest(buttons, 380, 410, 1.0f), render::kButtonNone);
    EXPECT_EQ(hitTest(buttons, 650, 220, 1.0f), render::kButtonBrowse);
}

TEST(Animation, SplashTimingAndSkips) {
    const uint32_t start = 0xFFFFFF00u;  // the tick count wraps during the splash
    EXPECT_FALSE(splashOver(start + 1499, start));
    EXPECT_TRUE(splashOver(start + 1500, start));

    uint32_t early = start;
    EXPECT_FALSE(skipSplash(start + 200, early));
    EXPECT_EQ(early, start);
    uint32_t late = start;
    EXPECT_TRUE(skipSplash(start + 600, late));
    EXPECT_FALSE(splashOver(start + 599, late));
    EXPECT_TRUE(splashOver(start + 600, late));
}

TEST(Animation, EasingReachesTheTargetExactly) {
    float shown = 0.0f;
    int ticks = 0;
    while (shown != 0.75f && ticks < 200) {
        const float before = shown;
        shown = easeToward(shown, 0.75f);
        EXPECT_GT(shown, before);
        EXPECT_LE(shown, 0.75f);
        ++ticks;
    }
    EXPECT_EQ(shown, 0.75f);
    EXPECT_LT(ticks, 60);  // under a second at 16 ms a tick
    EXPECT_FLOAT_EQ(easeToward(0.5f, 0.0f), 0.43f);
    EXPECT_EQ(easeToward(0.5f, 0.5007f), 0.5007f);
}

TEST(SpeedMeter, RecentSecondsDecideSpeedAndTimeLeft) {
    SpeedMeter meter;
    const int64_t total = 100 * 1048576LL;
    for (uint32_t t = 0; t <= 900; t += 100) meter.sample(t, t * 10000ull, total);
    EXPECT_LT(meter.bytesPerSecond(), 0.0);  // under a second of data: no figures yet
    EXPECT_LT(meter.secondsLeft(), 0);
    meter.sample(1000, 10000000, total);
    EXPECT_NEAR(meter.bytesPerSecond(), 1e7, 1.0);
    EXPECT_EQ(meter.secondsLeft(), 10);  // 94,857,600 bytes left at 10 MB/s, rounded up

    // After a fast start the rate halves: once the fast part has left the window, the
    // estimate follows the recent rate alone.
    uint64_t bytes = 10000000;
    for (uint32_t t = 1100; t <= 7000; t += 100) meter.sample(t, bytes += 500000, total);
    EXPECT_NEAR(meter.bytesPerSecond(), 5e6, 1.0);

    // A stall: no estimate of the time left, and the speed falls toward zero.
    for (uint32_t t = 7100; t <= 13000; t += 100) meter.sample(t, bytes, total);
    EXPECT_EQ(meter.bytesPerSecond(), 0.0);
    EXPECT_LT(meter.secondsLeft(), 0);

    // A new transfer (another total) starts over.
    meter.sample(13100, 0, 5000);
    EXPECT_LT(meter.bytesPerSecond(), 0.0);
}

TEST(InstallLocation, FolderUnderTheChoiceAndExistingClient) {
    testsupport::TempDir temp;
    InstallLocation location = makeInstallLocation(temp.str() + L"\\");
    EXPECT_EQ(location.chosen, temp.str() + L"\\");
    EXPECT_EQ(location.installDir, temp.str() + L"\\OrvaneOnline");
    EXPECT_FALSE(location.installationExists);
    EXPECT_EQ(makeInstallLocation(L"D:\\").installDir, L"D:\\OrvaneOnline");

    // The install record alone makes it one: the player's antivirus took Engine.exe.
    testsupport::writeFile(temp / L"OrvaneOnline" / L"pcupd.files", "Engine.exe\n");
    EXPECT_TRUE(makeInstallLocation(temp.str()).installationExists);
    std::filesystem::remove(temp / L"OrvaneOnline" / L"pcupd.files");
    testsupport::writeFile(temp / L"OrvaneOnline" / L"Engine.exe", "MZ");
    EXPECT_TRUE(makeInstallLocation(temp.str()).installationExists);
}

namespace {

render::Frame frameOf(int32_t screen, const InstallLocation& location, bool removal = false) {
    render::Frame frame;
    frame.screen = screen;
    frame.buttons = layoutButtons(screen, location, removal);
    frame.location = location.chosen;
    frame.installDir = location.installDir;
    frame.installationExists = location.installationExists;
    frame.removal = removal;
    frame.focus = initialFocus(frame.buttons);
    return frame;
}

InstallLocation chosen(const wchar_t* folder) {
    InstallLocation location;
    location.chosen = folder;
    location.installDir = std::wstring(folder) + L"\\OrvaneOnline";
    return location;
}

std::vector<std::wstring> names(const std::vector<AccessItem>& items) {
    std::vector<std::wstring> result;
    for (const AccessItem& item : items) result.push_back(item.name);
    return result;
}

}  // namespace

// The choose screen's note as the room becomes known: the size alone, then the drive, then
// what is short, in the window's units, with the need the decision used.
TEST(Buttons, TheFolderNoteTellsTheRoomAndWarnsWhenTheClientDoesNotFit) {
    render::Frame frame = frameOf(render::kScreenChoose, chosen(L"D:\\Games"));
    EXPECT_EQ(render::folderNoteText(frame), L"A folder named 'OrvaneOnline' will be created here. Needs about 1.5 GB.");
    frame.freeBytes = 44ull << 30;
    frame.volume = L"D:";
    EXPECT_EQ(render::folderNoteText(frame), L"A folder named 'OrvaneOnline' will be created here. Needs about 1.5 GB.");
    frame.clientBytes = 723ull << 20;
    EXPECT_EQ(render::folderNoteText(frame),
              L"A folder named 'OrvaneOnline' will be created here. Needs about 723 MB; D: has 44.00 GB free.");
    EXPECT_FALSE(render::noteWarns(frame));
    frame.freeBytes.reset();
    EXPECT_EQ(render::folderNoteText(frame), L"A folder named 'OrvaneOnline' will be created here. Needs about 723 MB.");
    frame.freeBytes = 740ull << 20;  // more than the client, less than it needs
    EXPECT_EQ(render::folderNoteText(frame),
              L"Not enough free space: the game needs 769 MB and D: has only 740 MB free. Choose another drive.");
    EXPECT_TRUE(render::noteWarns(frame));
    frame.installationExists = true;
    EXPECT_EQ(render::folderNoteText(frame),
              L"Little free space: a repair may need up to 769 MB, and D: has 740 MB free.");
    frame.language = lang::Language::kGerman;
    EXPECT_NE(render::folderNoteText(frame).find(L"769\u00A0MB"), std::wstring::npos) << render::folderNoteText(frame);
}

TEST(Keyboard, FocusOrderStartAndKeysOnEachScreen) {
    using render::kButtonBrowse, render::kButtonClose, render::kButtonStart;
    // Before a location: INSTALL cannot be pressed, so the focus starts on Browse and Tab skips it.
    std::vector<render::Button> buttons = layoutButtons(render::kScreenChoose, InstallLocation());
    EXPECT_EQ(focusOrder(buttons), (std::vector<int32_t>{kButtonClose, kButtonBrowse}));
    EXPECT_EQ(initialFocus(buttons), kButtonBrowse);
    EXPECT_EQ(keyCommand(VK_RETURN, false, buttons, kButtonBrowse).action, KeyAction::kPress);
    EXPECT_EQ(keyCommand('I', false, buttons, kButtonBrowse).action, KeyAction::kNone);  // disabled
    // With one: INSTALL first; Tab wraps round in reading order, Shift+Tab goes back.
    buttons = layoutButtons(render::kScreenChoose, chosen(L"D:\\Games"));
    EXPECT_EQ(initialFocus(buttons), kButtonStart);
    EXPECT_EQ(keptFocus(buttons, kButtonBrowse), kButtonBrowse);
    EXPECT_EQ(keptFocus(buttons, render::kButtonPlay), kButtonStart);
    const KeyCommand tab = keyCommand(VK_TAB, false, buttons, kButtonStart);
    EXPECT_EQ(tab.action, KeyAction::kMoveFocus);
    EXPECT_EQ(tab.button, kButtonClose);
    EXPECT_EQ(keyCommand(VK_TAB, true, buttons, kButtonClose).button, kButtonStart);
    EXPECT_EQ(keyCommand(VK_TAB, true, buttons, kButtonStart).button, kButtonBrowse);
    EXPECT_EQ(keyCommand(VK_RIGHT, false, buttons, kButtonBrowse).button, kButtonStart);
    const KeyCommand space = keyCommand(VK_SPACE, false, buttons, kButtonBrowse);
    EXPECT_EQ(space.action, KeyAction::kPress);
    EXPECT_EQ(space.button, kButtonBrowse);
    EXPECT_EQ(keyCommand('B', false, buttons, kButtonStart).button, kButtonBrowse);
    EXPECT_EQ(keyCommand('I', false, buttons, kButtonBrowse).button, kButtonStart);
    EXPECT_EQ(keyCommand(VK_ESCAPE, false, buttons, kButtonStart).action, KeyAction::kClose);
    EXPECT_EQ(keyCommand('Q', false, buttons, kButtonStart).action, KeyAction::kNone);

    // Working: only the close button, which Enter presses (it asks before cancelling).
    buttons = layoutButtons(render::kScreenWorking, chosen(L"D:\\Games"));
    EXPECT_EQ(initialFocus(buttons), kButtonClose);
    EXPECT_EQ(keyCommand(VK_TAB, false, buttons, kButtonClose).button, kButtonClose);
    // Done and failed: PLAY, TRY AGAIN or CLOSE by their first letters.
    buttons = layoutButtons(render::kScreenDone, chosen(L"D:\\Games"));
    EXPECT_EQ(initialFocus(buttons), render::kButtonPlay);
    EXPECT_EQ(keyCommand('P', false, buttons, kButtonClose).button, render::kButtonPlay);
    EXPECT_EQ(keyCommand('T', false, layoutButtons(render::kScreenFailed, chosen(L"D:\\Games")), kButtonClose).button,
              render::kButtonRetry);
    EXPECT_EQ(keyCommand('C', false, layoutButtons(render::kScreenDone, chosen(L"D:\\Games"), true), kButtonClose)
                  .button,
              render::kButtonFinish);
    EXPECT_TRUE(layoutButtons(render::kScreenSplash, InstallLocation()).empty());
    EXPECT_EQ(keyCommand(VK_TAB, false, {}, render::kButtonNone).action, KeyAction::kNone);

    // The focus ring shows once the system clears the hide-focus flag, and hides when it sets it.
    EXPECT_TRUE(cuesAfterUiState(false, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL)));
    EXPECT_FALSE(cuesAfterUiState(true, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS)));
    EXPECT_TRUE(cuesAfterUiState(true, MAKEWPARAM(UIS_SET, UISF_HIDEACCEL)));
}

TEST(AccessTree, WhatAReaderFindsOnEachScreen) {
    // Choose, before a location: the texts in reading order, then the buttons; INSTALL unavailable.
    render::Frame frame = frameOf(render::kScreenChoose, InstallLocation());
    std::vector<AccessItem> items = accessTree(frame);
    EXPECT_EQ(names(items),
              (std::vector<std::wstring>{L"Close", L"Choose where to install", L"No administrator rights needed.",
                                         L"Install location: Choose a location...", L"Browse...",
                                         L"A folder named 'OrvaneOnline' will be created here. Needs about 1.5 GB.",
                                         L"1. Download the full client in one pass",
                                         L"2. Verify every file against the server",
                                         L"3. Create a desktop shortcut and play", L"INSTALL"}));
    const AccessItem& install = items.back();
    EXPECT_EQ(install.role, ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(install.state, STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(install.defaultAction, L"");
    const AccessItem& browse = items[4];
    EXPECT_EQ(browse.state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    EXPECT_EQ(browse.defaultAction, L"Press");
    EXPECT_EQ(browse.shortcut, L"Alt+B");
    EXPECT_EQ(items[1].role, ROLE_SYSTEM_STATICTEXT);

    // Working: the status, the item, the bar with its percent, the bytes; busy has no value.
    frame = frameOf(render::kScreenWorking, chosen(L"D:\\Games"));
    frame.status = L"Downloading client...";
    frame.detail = L"data\\a.pak";
    frame.progress = 0.468f;
    frame.bytesDone = 1 << 20;
    frame.bytesTotal = 2 << 20;
    items = accessTree(frame);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[1].name, L"Downloading client...");
    EXPECT_EQ(items[2].name, L"data\\a.pak");
    EXPECT_EQ(items[3].role, ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(items[3].value, L"46%");
    EXPECT_EQ(items[4].name, L"1 MB of 2 MB");
    EXPECT_EQ(items[0].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    frame.busy = true;
    items = accessTree(frame);
    ASSERT_EQ(items.size(), 4u);  // no bytes while nothing is counted
    EXPECT_EQ(items[3].value, L"");
    EXPECT_TRUE(items[3].state & STATE_SYSTEM_BUSY);

    // Done: the outcome first, where it went, PLAY as the default button.
    frame = frameOf(render::kScreenDone, chosen(L"D:\\Games"));
    items = accessTree(frame);
    EXPECT_EQ(names(items), (std::vector<std::wstring>{
                                L"Close", L"Installation complete",
                                L"Orvane Online is ready, and a shortcut to it is on your desktop.",
                                L"INSTALLED IN D:\\Games\\OrvaneOnline", L"PLAY"}));
    EXPECT_EQ(items.back().state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT);

    // Failed: the whole error as readable text, however long the painter's fit made it.
    frame = frameOf(render::kScreenFailed, chosen(L"D:\\Games"), true);
    frame.error = L"Removal incomplete: 1 file could not be deleted";
    items = accessTree(frame);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[1].name, L"Removal failed");
    EXPECT_EQ(items[2].role, ROLE_SYSTEM_TEXT);
    EXPECT_EQ(items[2].value, frame.error);
    EXPECT_EQ(items[3].name, L"CLOSE");
}

TEST(Announcer, NewScreensFocusStatusAndAThrottledPercent) {
    Announcer announcer;
    render::Frame frame = frameOf(render::kScreenChoose, chosen(L"D:\\Games"));
    // The first frame: the whole client anew, then the focus on INSTALL (the last item).
    EXPECT_EQ(announcer.next(frame, 0),
              (std::vector<AccessEvent>{{EVENT_OBJECT_REORDER, CHILDID_SELF}, {EVENT_OBJECT_FOCUS, 10}}));
    EXPECT_TRUE(announcer.next(frame, 16).empty());
    frame.focus = render::kButtonBrowse;
    EXPECT_EQ(announcer.next(frame, 32), (std::vector<AccessEvent>{{EVENT_OBJECT_FOCUS, 5}}));

    frame = frameOf(render::kScreenWorking, chosen(L"D:\\Games"));
    frame.status = L"Contacting update server...";
    frame.busy = true;
    EXPECT_EQ(announcer.next(frame, 100).size(), 2u);
    frame.status = L"Downloading client...";
    frame.busy = false;
    frame.progress = 0.01f;
    // The new status at once; its percent waits until a second has passed since the screen came.
    EXPECT_EQ(announcer.next(frame, 200), (std::vector<AccessEvent>{{EVENT_OBJECT_NAMECHANGE, 2}}));
    frame.progress = 0.02f;
    EXPECT_TRUE(announcer.next(frame, 900).empty());
    EXPECT_EQ(announcer.next(frame, 1100), (std::vector<AccessEvent>{{EVENT_OBJECT_VALUECHANGE, 3}}));
    frame.progress = 0.03f;
    EXPECT_TRUE(announcer.next(frame, 2000).empty());
    EXPECT_EQ(announcer.next(frame, 2100).size(), 1u);

    // An outcome is an alert on its heading, then the focus lands on the button.
    frame = frameOf(render::kScreenFailed, chosen(L"D:\\Games"));
    frame.error = L"Install failed: disk full";
    EXPECT_EQ(announcer.next(frame, 2200),
              (std::vector<AccessEvent>{{EVENT_OBJECT_REORDER, CHILDID_SELF}, {EVENT_SYSTEM_ALERT, 2},
                                        {EVENT_OBJECT_FOCUS, 4}}));

    // The room for the client, once known, renames the note; a drive too small is an alert,
    // and INSTALL going grey is a new state.
    InstallLocation small = chosen(L"D:\\Games");
    small.volume = L"D:";
    small.freeBytes = 1ull << 30;
    frame = frameOf(render::kScreenChoose, small);
    frame.freeBytes = small.freeBytes;
    frame.volume = small.volume;
    announcer.next(frame, 3000);
    const auto childOf = [](const render::Frame& f, const std::wstring& name) {
        const std::vector<AccessItem> items = accessTree(f);
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].name == name) return childIdOf(i);
        return long{CHILDID_SELF};
    };
    frame.clientBytes = 100ull << 20;
    const long note = childOf(frame, render::folderNoteText(frame));
    ASSERT_NE(note, CHILDID_SELF);
    EXPECT_EQ(announcer.next(frame, 3016), (std::vector<AccessEvent>{{EVENT_OBJECT_NAMECHANGE, note}}));
    frame.clientBytes = 2ull << 30;
    frame.buttons = layoutButtons(render::kScreenChoose, small, false, lang::Language::kEnglish, frame.clientBytes);
    EXPECT_EQ(announcer.next(frame, 3032),
              (std::vector<AccessEvent>{{EVENT_OBJECT_NAMECHANGE, note}, {EVENT_SYSTEM_ALERT, note},
                                        {EVENT_OBJECT_STATECHANGE, childOf(frame, L"INSTALL")}}));
    EXPECT_TRUE(announcer.next(frame, 3048).empty());
}

TEST(Taskbar, ProgressWhileWorkingRedOnFailureNothingOtherwise) {
    render::Frame frame = frameOf(render::kScreenWorking, chosen(L"D:\\Games"));
    frame.busy = true;
    EXPECT_EQ(taskbarState(frame).flag, TBPF_INDETERMINATE);
    frame.busy = false;
    frame.progress = 0.4567f;
    EXPECT_EQ(taskbarState(frame), (TaskbarState{TBPF_NORMAL, 457, 1000}));
    EXPECT_EQ(taskbarState(frameOf(render::kScreenFailed, InstallLocation())), (TaskbarState{TBPF_ERROR, 1000, 1000}));
    EXPECT_EQ(taskbarState(frameOf(render::kScreenDone, InstallLocation())).flag, TBPF_NOPROGRESS);
    EXPECT_EQ(taskbarState(frameOf(render::kScreenChoose, InstallLocation())).flag, TBPF_NOPROGRESS);
}

TEST(WindowMetrics, ANewMonitorsScaleKeepsThePlaceAndTakesItsOwnSize) {
    const RECT rect = rectForDpi(144, {100, 50, 1239, 799});  // a suggestion one pixel off
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 50);
    EXPECT_EQ(rect.right - rect.left, 1140);
    EXPECT_EQ(rect.bottom - rect.top, 750);
    EXPECT_EQ(argbOf(RGB(0x1A, 0xEB, 0xFF)), 0xFF1AEBFFu);
}
