// Files: where OpenFile finds a bare name, _lread's counts, _lclose and an
// injected failure.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/platform_test_support.h"

namespace {

namespace fs = std::filesystem;

// The program in ROOT/bin as installed, its data in ROOT/share/vornackle,
// and ROOT/work the working directory.
class FilesTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        for (const char* dir : {"bin", "share/vornackle", "work/sub"})
            fs::create_directories(root / dir);
        fs::current_path(root / "work");
        seam::SetProgramDirectory((root / "bin").string());
    }
    void TearDown() override {
        fs::current_path(oldDir);
        fs::remove_all(root);
    }
    void Write(const char* dir, const char* text) {
        std::ofstream(root / dir / "sheet.bmp") << text;
    }

    // The whole (short) file, or "<missing>".
    static std::string Read(const char* name) {
        OFSTRUCT info;
        HFILE file = OpenFile(name, &info, OF_READ);
        if (file == HFILE_ERROR) return "<missing>";
        char buffer[64];
        EXPECT_EQ(0u, _lread(file, nullptr, 0));
        const UINT got = _lread(file, buffer, sizeof buffer);  // what is there, then nothing
        EXPECT_EQ(0u, _lread(file, buffer, sizeof buffer));
        EXPECT_EQ(1, seam::OpenFiles());
        EXPECT_EQ(0, _lclose(file));
        EXPECT_EQ(HFILE_ERROR, _lclose(file));  // already closed
        return std::string(buffer, std::min<UINT>(got, sizeof buffer));
    }

    const fs::path oldDir = fs::current_path();
    const fs::path root = fs::temp_directory_path() / ("vn-platform-" + std::to_string(getpid()));
};

TEST_F(FilesTest, BareNamesAreLookedForBesideTheProgramThenInShareThenHere) {
    EXPECT_EQ("<missing>", Read("sheet.bmp"));
    Write("work", "working directory");
    EXPECT_EQ("working directory", Read("sheet.bmp"));
    Write("share/vornackle", "installed");
    EXPECT_EQ("installed", Read("sheet.bmp"));
    Write("bin", "beside the program");
    EXPECT_EQ("beside the program", Read("sheet.bmp"));
    Write("work/sub", "sub");
    EXPECT_EQ("sub", Read("sub/sheet.bmp"));  // a path with a directory is taken as given
    EXPECT_EQ(0, seam::OpenFiles());

    char buffer[1];
    EXPECT_EQ(UINT(HFILE_ERROR), _lread(12345, buffer, 1));  // not a file of ours
    OFSTRUCT info;
    std::memset(&info, 0xAB, sizeof info);
    seam::FailNext(seam::Call::OpenFile);
    EXPECT_EQ(HFILE_ERROR, OpenFile("sheet.bmp", &info, OF_READ));
    EXPECT_EQ(0, info.fFixedDisk);  // the record is cleared
}

}  // namespace
