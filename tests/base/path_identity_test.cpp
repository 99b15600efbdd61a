#include "base/path_identity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/owned_folder.h"
#include "base/unique_handle.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

namespace {

std::wstring shortName(const fs::path& path) {
    wchar_t name[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), name, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(name, length) : std::wstring();
}

std::wstring upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

TEST(PathIdentity, EverySpellingOfOneFolderIsTheSame) {
    testsupport::TempDir dir;
    const fs::path folder = dir / "Orvane Long Folder Name";
    fs::create_directories(folder / "sub");
    const std::wstring plain = folder.wstring(), identity = base::comparablePath(plain);
    const std::wstring shortSpelling = shortName(folder);
    ASSERT_FALSE(shortSpelling.empty());
    ASSERT_NE(upper(shortSpelling), upper(plain));  // a real 8.3 name, not the long one again
    std::wstring slashes = plain;
    for (wchar_t& c : slashes)
        if (c == L'\\') c = L'/';
    for (const std::wstring& spelling :
         {upper(plain), plain + L"\\", plain + L"\\\\", plain + L"/", plain + L".", plain + L"\\.",
          plain + L"\\sub\\..", plain + L"\\sub\\..\\", L"\\\\?\\" + plain, L"\\\\.\\" + plain,
          slashes, shortSpelling, shortSpelling + L"\\sub\\.."}) {
        EXPECT_TRUE(base::sameComparable(base::comparablePath(spelling), identity)) << spelling;
        EXPECT_TRUE(base::samePath(spelling, plain)) << spelling;
        EXPECT_TRUE(base::isInsideFolder(spelling + L"\\sub", plain)) << spelling;
        EXPECT_FALSE(base::isInsideFolder(spelling, plain)) << spelling;
    }
    EXPECT_EQ(identity.back(), L'e');  // no trailing separator
    // A path that does not exist yet: its existing part resolved, the rest as spelled.
    EXPECT_TRUE(base::sameComparable(base::comparablePath(shortSpelling + L"\\Not Yet\\x.pak"),
                                     identity + L"\\Not Yet\\x.pak"));
    EXPECT_TRUE(base::isInsideFolder(shortSpelling + L"\\Not Yet\\x.pak", plain));
    EXPECT_FALSE(base::isInsideFolder(plain + L"\\sub\\..\\..\\x.pak", plain));
    EXPECT_FALSE(base::isInsideFolder(plain + L"2\\x.pak", plain));
    EXPECT_FALSE(base::samePath(plain + L"2", plain));
    EXPECT_FALSE(base::samePath(L"", L""));
}

TEST(PathIdentity, RootsAndPrefixes) {
    EXPECT_EQ(base::comparablePath(L"C:"), L"C:\\");
    EXPECT_EQ(base::comparablePath(L"c:\\"), base::comparablePath(L"C:"));
    EXPECT_EQ(base::comparablePath(L"\\\\.\\C:"), L"C:\\");
    EXPECT_EQ(base::comparablePath(L"\\\\?\\C:\\"), L"C:\\");
    EXPECT_EQ(base::comparablePath(L"\\\\?\\UNC\\orvane-no-such-host\\share\\x"),
              L"\\\\orvane-no-such-host\\share\\x");
    EXPECT_TRUE(base::holdsComparable(L"C:\\", L"C:\\Games"));
    EXPECT_FALSE(base::holdsComparable(L"C:\\", L"C:\\"));
    EXPECT_TRUE(base::holdsComparable(L"C:\\Users\\me", L"c:\\users\\ME\\x"));
    EXPECT_FALSE(base::holdsComparable(L"C:\\Users\\m", L"C:\\Users\\me"));
    EXPECT_FALSE(base::holdsComparable(L"C:\\Users\\me", L"C:\\Users\\me"));
    EXPECT_FALSE(base::holdsComparable(L"", L"C:\\x"));
}

TEST(OwnedFolder, DeletesOnlyWhatReallyLiesInside) {
    testsupport::TempDir dir;
    const fs::path game = dir / "Game", elsewhere = dir / "elsewhere";
    for (const char* name : {"a.txt", "ro.txt", "held.txt", "sub/b.txt", "sub/deeper/c.txt"})
        writeFile(game / name, name);
    fs::create_directories(game / "saves");  // the player's, empty
    writeFile(elsewhere / "victim.txt", "v");
    writeFile(elsewhere / "f.txt", "f");
    writeFile(dir / "outside.txt", "o");
    // A folder moved elsewhere and linked back, and a file link, as players make them.
    ASSERT_TRUE(testsupport::makeLink(game / "data", elsewhere));
    ASSERT_TRUE(testsupport::makeLink(game / "flink.txt", elsewhere / "f.txt"));
    ASSERT_TRUE(testsupport::makeLink(dir / "GameLink", game));
    ASSERT_TRUE(fs::exists(game / "data" / "victim.txt"));
    SetFileAttributesW((game / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    const base::OwnedFolder folder(game.wstring());
    const auto outcome = [&](const fs::path& path) { return folder.deleteFile(path.wstring()).result; };
    EXPECT_EQ(outcome(game / "data" / "victim.txt"), base::Deletion::kNotOurs);
    // Opened as a link where the system can; where it follows it, the target is elsewhere.
    EXPECT_NE(outcome(game / "flink.txt"), base::Deletion::kFailed);
    EXPECT_EQ(outcome(dir / "outside.txt"), base::Deletion::kNotOurs);
    EXPECT_EQ(outcome(game / "sub" / ".." / ".." / "outside.txt"), base::Deletion::kNotOurs);
    EXPECT_TRUE(fs::exists(elsewhere / "victim.txt"));
    EXPECT_TRUE(fs::exists(elsewhere / "f.txt"));
    EXPECT_TRUE(fs::exists(dir / "outside.txt"));

    EXPECT_EQ(outcome(game / "a.txt"), base::Deletion::kDeleted);
    EXPECT_EQ(outcome(game / "a.txt"), base::Deletion::kAbsent);
    EXPECT_EQ(outcome(game / "ro.txt"), base::Deletion::kDeleted);
    EXPECT_EQ(outcome(game / "sub"), base::Deletion::kAbsent);  // a folder is no file
    // The game's folder reached through a link is still the game's folder.
    EXPECT_EQ(outcome(dir / "GameLink" / "sub" / "b.txt"), base::Deletion::kDeleted);
    EXPECT_FALSE(fs::exists(game / "a.txt") || fs::exists(game / "ro.txt") || fs::exists(game / "sub" / "b.txt"));
    {
        base::UniqueFile held(CreateFileW((game / "held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        const base::DeleteOutcome busy = folder.deleteFile((game / "held.txt").wstring());
        EXPECT_EQ(busy.result, base::Deletion::kFailed);
        EXPECT_EQ(busy.error, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    }

    // Folders: only those the given paths run through, only when empty, never a link.
    EXPECT_FALSE(folder.removeEmptyFolder((game / "data").wstring()));
    EXPECT_FALSE(folder.removeEmptyFolder(dir.str()));
    EXPECT_FALSE(folder.removeEmptyFolder((game / "sub").wstring()));  // holds deeper/c.txt
    EXPECT_EQ(outcome(game / "sub" / "deeper" / "c.txt"), base::Deletion::kDeleted);
    folder.removeFoldersOf({"sub/deeper/c.txt", "data/victim.txt", "../escape/x"});
    EXPECT_FALSE(fs::exists(game / "sub"));
    EXPECT_TRUE(fs::exists(game / "saves"));
    EXPECT_TRUE(fs::exists(elsewhere / "victim.txt"));
    EXPECT_TRUE(fs::is_directory(game));
}
