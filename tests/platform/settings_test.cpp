// The desktop program's settings file and the window's place, and the span
// scaler both desktop backends present through. Built for Linux and for
// Windows (run under Wine), where the file's folder, its replacement and the
// path's separators differ.
#include "platform/desktop/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "platform/backend.h"
#include "platform/desktop/scaler.h"

namespace {

using desktop::Rect;
using desktop::Settings;
using desktop::SettingsRead;

// Paths in UTF-8, as the settings' own.
std::string Slurp(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Windows takes either separator.
std::string Slashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void Spill(const std::string& path, const std::string& text) {
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << text;
}

bool operator==(const Rect& a, const Rect& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// A folder of the test's own under the system's temporary folder.
class SettingsFile : public testing::Test {
  protected:
    void SetUp() override {
        folder = testing::TempDir() + "vn_settings_" +
                 testing::UnitTest::GetInstance()->current_test_info()->name();
        path = folder + "/vornackle/settings.txt";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder + "/vornackle");
    }
    std::string folder, path;
};

// Every setting comes back as saved (the place on a monitor left of the
// first), from lines a person can read and edit. A later version's file:
// keys and values this one does not know (and a line of a kind it does not
// know) are ignored and written back as they were, each known one until the
// player changes that setting here.
TEST_F(SettingsFile, EverySettingComesBackAndALaterVersionsLinesAreKept) {
    Settings made;
    made.window = made.marks = made.maximised = true;
    made.scaling = desktop::Scaling::Nearest;
    made.place = Rect{-1200, 40, 1280, 960};
    ASSERT_TRUE(desktop::SaveSettings(path, made));  // the folders made on the way
    Settings read;
    ASSERT_EQ(SettingsRead::Read, desktop::LoadSettings(path, &read));
    EXPECT_TRUE(read.window && read.marks && read.maximised && read.place == made.place);
    EXPECT_EQ(desktop::Scaling::Nearest, read.scaling);
    // CRLF, blank lines and comments; never placed, or a size no window can
    // have: no place (the window goes where it fits).
    for (const char* text : {"version=1\r\n\r\n# mine\r\nwindow=1\r\n",
                             "version=1\nwindow=1\nwindow_width=640\nwindow_height=-5\n"}) {
        Settings edited;
        ASSERT_EQ(SettingsRead::Read, desktop::ParseSettings(text, &edited)) << text;
        EXPECT_TRUE(edited.window && edited.place.w == 0) << text;
    }
    // An empty value is none.
    desktop::ParseSettings("version=1\nwindow_width=640\nwindow_height=480\nwindow_width=\n",
                           &read);
    EXPECT_EQ(640, read.place.w);

    Spill(path,
          "version=1\nwindow=1\nscale=smooth\nmarks=1\nwindow_x=9999999999999\nwindow_y="
          "000000000020\nwindow_width=1280\nwindow_height=960\npads=all\n[sounds]\n");
    Settings s;
    ASSERT_EQ(SettingsRead::Read, desktop::LoadSettings(path, &s));
    EXPECT_TRUE(s.window && s.marks);
    EXPECT_EQ(desktop::Scaling::Sharp, s.scaling);  // smooth: not this version's
    EXPECT_TRUE(s.place == (Rect{0, 20, 1280, 960}));
    ASSERT_TRUE(desktop::SaveSettings(path, s));
    const std::string kept = Slurp(path);
    for (const char* line :
         {"\nwindow=1\n", "\nscale=smooth\n", "\nmarks=1\n", "\nwindow_x=9999999999999\n",
          "\npads=all\n", "\n[sounds]\n", "\nwindow_height=960\n"})
        EXPECT_NE(std::string::npos, kept.find(line)) << line << " lost from:\n" << kept;
    // Read again, the same; changed here, the player's choice replaces the
    // later version's value and nothing else.
    Settings again;
    ASSERT_EQ(SettingsRead::Read, desktop::LoadSettings(path, &again));
    EXPECT_EQ(kept, desktop::FormatSettings(again));
    again.scaling = desktop::Scaling::Nearest;
    again.place.x = 300;
    const std::string changed = desktop::FormatSettings(again);
    EXPECT_EQ(std::string::npos, changed.find("smooth"));
    EXPECT_EQ(std::string::npos, changed.find("9999999999999"));
    EXPECT_NE(std::string::npos, changed.find("\nscale=nearest\nmarks=1\nwindow_x=300\n"));
    EXPECT_NE(std::string::npos, changed.find("\npads=all\n[sounds]\n"));
}

TEST_F(SettingsFile, AFileThatIsNoneChangesNothingAndANewerOneIsLeftAlone) {
    Settings kept;
    kept.window = true;
    kept.place = Rect{10, 20, 640, 480};
    const std::string before = desktop::FormatSettings(kept);

    Settings s = kept;
    EXPECT_EQ(SettingsRead::Missing, desktop::LoadSettings(path, &s));
    EXPECT_EQ(before, desktop::FormatSettings(s));

    // Damaged or another file altogether, longer than any settings file, or
    // of a newer version number.
    const std::string newer = "version=2\nwindow=1\nwindow_size=huge\n";
    const std::pair<std::string, SettingsRead> files[] = {
        {"window=1\n", SettingsRead::Damaged},   // no version first
        {"version=x\n", SettingsRead::Damaged},  // no version number
        {"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", SettingsRead::Damaged},
        {"", SettingsRead::Damaged},
        {"version=1\n" + std::string(5000, '#') + "\n", SettingsRead::Damaged},
        {newer, SettingsRead::Newer},
    };
    for (const auto& [text, status] : files) {
        Spill(path, text);
        s = kept;
        EXPECT_EQ(status, desktop::LoadSettings(path, &s)) << text;
        EXPECT_EQ(before, desktop::FormatSettings(s)) << text;
    }
    // The newer one is never written over by this version.
    EXPECT_FALSE(desktop::SaveSettings(path, s));
    EXPECT_EQ(newer, Slurp(path));
}

// Two copies of the program saving at once: the second writes while the
// first's new file waits, whole and on the disk, to be renamed. Both are
// written whole, the later rename wins, and no new file is left behind.
TEST_F(SettingsFile, TwoWritersEachWriteAWholeFile) {
    static Settings first, second;
    static std::string firstPath;
    static bool secondSaved;
    first.window = true;
    second.marks = true;
    firstPath = path;
    secondSaved = false;
    desktop::beforeReplace = [](const std::string& fresh) {
        desktop::beforeReplace = nullptr;
        EXPECT_EQ(desktop::FormatSettings(first), Slurp(fresh));
        secondSaved = desktop::SaveSettings(firstPath, second);
    };
    EXPECT_TRUE(desktop::SaveSettings(path, first));
    EXPECT_TRUE(secondSaved);
    EXPECT_EQ(desktop::FormatSettings(first), Slurp(path));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(folder + "/vornackle"),
                               std::filesystem::directory_iterator()));
}

// A file that cannot be written is said and the old one kept; the new
// file made for it goes again.
TEST_F(SettingsFile, AnUnwritableFileIsSkippedAndTheOldOneKept) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(desktop::SaveSettings(path, Settings{}));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    const std::string old = Slurp(path);
    // Its folder is a file: nothing can be made there.
    const std::string blocked = path + "/settings.txt";
    Settings s;
    s.window = true;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(desktop::SaveSettings(blocked, s));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("cannot be written"));
    EXPECT_EQ(old, Slurp(path));
    // Its name taken by a folder: the new file is written, then cannot replace it.
    std::filesystem::create_directories(folder + "/vornackle/taken/inside");
    EXPECT_FALSE(desktop::SaveSettings(folder + "/vornackle/taken", s));
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(folder + "/vornackle"),
                               std::filesystem::directory_iterator()));
    // No folder known at all (no HOME, no APPDATA).
    EXPECT_FALSE(desktop::SaveSettings("", s));
}

// In a folder whose name is outside Windows' ANSI code page ("Łukasz"
// under 1252): the file is where the name says, and the program's options
// read it. The command line wins over it; the file is written again only
// once something changed.
TEST_F(SettingsFile, TheCommandLineWinsOverTheFileInAnyUsersFolder) {
    const std::string config = folder + "_\xC5\x81ukasz";
    path = config + "/vornackle/settings.txt";
#ifdef _WIN32
    _wputenv_s(L"APPDATA", std::filesystem::u8path(config).wstring().c_str());
#else
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
#endif
    ASSERT_EQ(Slashes(path), Slashes(desktop::SettingsPath()));
    Settings file;
    file.window = false;
    file.scaling = desktop::Scaling::Nearest;
    file.marks = true;
    ASSERT_TRUE(desktop::SaveSettings(desktop::SettingsPath(), file));
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::u8path(path)));
    const std::string mine = "# the player's own note\n" + desktop::FormatSettings(file);
    Spill(path, mine);
    char* none[] = {nullptr};
    const char* error = nullptr;
    ASSERT_TRUE(backend::TakeOptions(0, none, &error));
    desktop::KeepSettings();
    EXPECT_EQ(mine, Slurp(path));  // nothing changed, nothing written
    char window[] = "--window";
    char* argv[] = {window};
    ASSERT_TRUE(backend::TakeOptions(1, argv, &error));
    EXPECT_TRUE(desktop::settings.window);
    EXPECT_EQ(desktop::Scaling::Nearest, desktop::settings.scaling);  // the file's, not asked
    // The marks: the file's until the command line chooses, then the choice.
    EXPECT_TRUE(backend::MarksShown(-1));
    EXPECT_FALSE(backend::MarksShown(0));
    EXPECT_FALSE(backend::MarksShown(-1));
    EXPECT_TRUE(backend::MarksShown(1));
    desktop::KeepSettings();
    EXPECT_NE(std::string::npos, Slurp(path).find("\nwindow=1\n"));
    desktop::remember = false;
}

TEST(WindowPlace, ComesBackOnAScreenWhenItsMonitorIsGone) {
    const std::vector<Rect> screens = {{0, 0, 1920, 1040}, {1920, 0, 1280, 1024}};
    // The largest whole multiple that fits, centred; 1x on a small screen.
    EXPECT_TRUE(desktop::WindowedPlace(screens[0]) == (Rect{320, 40, 1280, 960}));
    EXPECT_TRUE(desktop::WindowedPlace(Rect{0, 0, 1024, 740}) == (Rect{192, 130, 640, 480}));
    EXPECT_TRUE(desktop::WindowedPlace(Rect{0, 0, 600, 400}) == (Rect{-20, -40, 640, 480}));
    // On the second monitor, or mostly off the first: kept.
    const Rect second{2000, 100, 640, 480}, hanging{1900, -400, 640, 480};
    EXPECT_TRUE(desktop::PlaceOnScreens(second, screens) == second);
    EXPECT_TRUE(desktop::PlaceOnScreens(hanging, screens) == hanging);
    // On a monitor that is gone, or with too little showing to take hold of.
    EXPECT_TRUE(desktop::PlaceOnScreens(Rect{-2000, 0, 640, 480}, screens) ==
                (Rect{640, 280, 640, 480}));
    EXPECT_TRUE(desktop::PlaceOnScreens(Rect{3150, 1000, 640, 480}, screens) ==
                (Rect{640, 280, 640, 480}));
    // As large as the first monitor: it fits, and keeps its size.
    EXPECT_TRUE(desktop::PlaceOnScreens(Rect{-3000, 0, 1920, 1040}, screens) ==
                (Rect{0, 0, 1920, 1040}));
    // Larger than the first monitor: the size that fits it.
    EXPECT_TRUE(desktop::PlaceOnScreens(Rect{5000, 0, 2560, 1920}, screens) ==
                desktop::WindowedPlace(screens[0]));
    // Moved to a monitor of another scale: from 100 % to 150 % and back, the
    // nearer whole multiple (the smaller of across and down), centred where
    // Windows put it; at least 1x, and no more than fits.
    EXPECT_TRUE(desktop::RescaledPlace(Rect{100, 100, 960, 720}, screens[0]) ==
                (Rect{-60, -20, 1280, 960}));
    EXPECT_TRUE(desktop::RescaledPlace(Rect{100, 100, 853, 640}, screens[0]) ==
                (Rect{206, 180, 640, 480}));
    EXPECT_TRUE(desktop::RescaledPlace(Rect{0, 0, 1300, 700}, screens[0]).w == 640);
    EXPECT_TRUE(desktop::RescaledPlace(Rect{0, 0, 1920, 1440}, screens[1]).w == 1280);
    EXPECT_TRUE(desktop::RescaledPlace(Rect{0, 0, 300, 225}, screens[0]).w == 640);
}

// Presenting only what changed leaves the window as presenting the whole
// picture anew would, at every size and scaling, and says where it wrote.
TEST(SpanScaler, ChangedSpansGiveTheWholePicture) {
    constexpr int kW = desktop::kPictureWidth, kH = desktop::kPictureHeight;
    std::mt19937 random(7);
    std::uint32_t lookup[256];
    for (std::uint32_t& colour : lookup) colour = 0xFF000000u | (random() & 0xFFFFFFu);
    std::vector<std::uint8_t> first(kW * kH), second;
    for (auto& pixel : first) pixel = static_cast<std::uint8_t>(random() % 4);
    second = first;
    // A jewel's box, a lone pixel at each corner, the numbers' row.
    for (int y = 100; y < 120; ++y)
        for (int x = 300; x < 331; ++x) second[y * kW + x] = 200;
    second[0] = second[kW - 1] = second[(kH - 1) * kW] = second[kH * kW - 1] = 201;
    for (int x = 8; x < 600; ++x) second[470 * kW + x] = 202;

    const struct {
        int w, h;
    } sizes[] = {{640, 480}, {1024, 768}, {1366, 768}, {800, 600}, {320, 240}};
    for (auto scaling : {desktop::Scaling::Sharp, desktop::Scaling::Nearest}) {
        for (const auto& size : sizes) {
            const int pitch = size.w + 3;  // rows farther apart than they are wide
            std::vector<std::uint32_t> spans(pitch * size.h, 0x12345678u), whole = spans;
            desktop::Surface onSpans{spans.data(), pitch * 4, size.w, size.h};
            desktop::Surface onWhole{whole.data(), pitch * 4, size.w, size.h};
            desktop::SpanPresenter a, b;
            a.Present(onSpans, first.data(), kW, lookup, scaling, false);
            const std::vector<std::uint32_t> before = spans;
            const Rect changed = a.Present(onSpans, second.data(), kW, lookup, scaling, false);
            b.Present(onWhole, second.data(), kW, lookup, scaling, false);
            const std::string at = std::to_string(size.w) + "x" + std::to_string(size.h);
            ASSERT_TRUE(spans == whole) << at;
            // Outside where it says it wrote, all is as before.
            std::vector<std::uint32_t> outside = spans;
            const int left = std::max(0, changed.x);
            const int right = std::max(left, std::min(size.w, changed.x + changed.w));
            for (int y = std::max(0, changed.y); y < std::min(size.h, changed.y + changed.h); ++y)
                std::copy(&before[y * pitch + left], &before[y * pitch + right],
                          &outside[y * pitch + left]);
            ASSERT_TRUE(outside == before) << at;
            EXPECT_EQ(0x12345678u, spans[size.w]) << at;  // nothing past a row's end
            // A new palette alone recolours all of it.
            std::uint32_t dimmed[256];
            for (int i = 0; i < 256; ++i) dimmed[i] = lookup[i] & 0xFF7F7F7Fu;
            std::vector<std::uint32_t> fresh(spans.size(), 0x12345678u);
            desktop::SpanPresenter().Present(
                desktop::Surface{fresh.data(), pitch * 4, size.w, size.h}, second.data(), kW,
                dimmed, scaling, false);
            a.Present(onSpans, second.data(), kW, dimmed, scaling, false);
            ASSERT_TRUE(spans == fresh) << at;
            a.Present(onSpans, second.data(), kW, lookup, scaling, false);
            // The same picture again writes nothing; a lost one comes back whole.
            EXPECT_EQ(0, a.Present(onSpans, second.data(), kW, lookup, scaling, false).w);
            std::fill(spans.begin(), spans.end(), 0x12345678u);
            EXPECT_TRUE(a.Redraw(onSpans, scaling) == (Rect{0, 0, size.w, size.h})) << at;
            EXPECT_TRUE(spans == whole) << at;
            // One given with nothing to draw on (a minimised window) is the one drawn next.
            a.Present(desktop::Surface{}, first.data(), kW, lookup, scaling, false);
            a.Redraw(onSpans, scaling);
            b.Present(onWhole, first.data(), kW, lookup, scaling, false);
            EXPECT_TRUE(spans == whole) << at;
        }
    }
}

}  // namespace
