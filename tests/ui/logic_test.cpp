// The window's decisions, without a window: command line, geometry, buttons, time, speed.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/temp_dir.h"
#include "ui/animation.h"
#include "ui/buttons.h"
#include "ui/command_line.h"
#include "ui/install_location.h"
#include "ui/jobs.h"
#include "ui/phase_text.h"
#include "ui/silent.h"
#include "ui/speed_meter.h"
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
    work.phase(installer::Phase::kInstalling, L"a.pak");
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
                                               "Contacting update server...\r", "Installing... 0%\r",
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

    InstallLocation existing{L"D:\\", L"D:\\OrvaneOnline", true};
    choose = layoutButtons(render::kScreenChoose, existing);
    EXPECT_EQ(choose[2].label, L"REPAIR");
    EXPECT_TRUE(choose[2].enabled && choose[2].primary);

    EXPECT_EQ(layoutButtons(render::kScreenWorking, existing).size(), 1u);
    EXPECT_EQ(layoutButtons(render::kScreenDone, existing).back().label, L"PLAY");
    EXPECT_EQ(layoutButtons(render::kScreenFailed, existing).back().label, L"TRY AGAIN");
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
