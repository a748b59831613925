// Files: OpenFile's search for a bare name, _lread's counts, _lclose, and the
// seam's malloc failures.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/platform/platform_test_support.h"

namespace {

class FilesTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        char program[] = "/tmp/vn-platform-program-XXXXXX";
        char work[] = "/tmp/vn-platform-work-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(program));
        ASSERT_NE(nullptr, mkdtemp(work));
        programDir = program;
        workDir = work;
        char previous[4096];
        ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
        oldDir = previous;
        ASSERT_EQ(0, chdir(work));
        seam::SetProgramDirectory(programDir);
    }
    void TearDown() override {
        ASSERT_EQ(0, chdir(oldDir.c_str()));
        std::system(("rm -rf " + programDir + " " + workDir).c_str());
    }

    static void Write(const std::string& path, const std::string& bytes) {
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, file);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }

    static std::string ReadAll(HFILE file) {
        std::string text;
        char buffer[4];
        UINT got;
        while ((got = _lread(file, buffer, sizeof buffer)) != 0) {
            if (got == static_cast<UINT>(HFILE_ERROR)) return "<error>";
            text.append(buffer, got);
        }
        return text;
    }

    std::string programDir, workDir, oldDir;
};

TEST_F(FilesTest, BareNameIsLookedForNextToTheProgramFirst) {
    Write(workDir + "/sheet.bmp", "from the working directory");
    OFSTRUCT info;
    HFILE file = OpenFile("sheet.bmp", &info, OF_READ);
    ASSERT_NE(HFILE_ERROR, file);
    EXPECT_EQ("from the working directory", ReadAll(file));
    EXPECT_EQ(0, _lclose(file));

    Write(programDir + "/sheet.bmp", "next to the program");
    file = OpenFile("sheet.bmp", &info, OF_READ);
    ASSERT_NE(HFILE_ERROR, file);
    EXPECT_EQ("next to the program", ReadAll(file));
    EXPECT_EQ(programDir + "/sheet.bmp", std::string(info.szPathName));
    EXPECT_EQ(1, seam::OpenFiles());
    EXPECT_EQ(0, _lclose(file));
    EXPECT_EQ(0, seam::OpenFiles());
    EXPECT_EQ(HFILE_ERROR, _lclose(file));  // already closed
}

// An installed program sits in PREFIX/bin with its data in
// PREFIX/share/vornackle; a copy beside the program still comes first.
TEST_F(FilesTest, InstalledProgramFindsItsDataUnderShare) {
    const std::string bin = programDir + "/bin", share = programDir + "/share/vornackle";
    ASSERT_EQ(0, std::system(("mkdir -p " + bin + " " + share).c_str()));
    seam::SetProgramDirectory(bin);
    Write(workDir + "/sheet.bmp", "working directory");
    Write(share + "/sheet.bmp", "installed");
    OFSTRUCT info;
    HFILE file = OpenFile("sheet.bmp", &info, OF_READ);
    ASSERT_NE(HFILE_ERROR, file);
    EXPECT_EQ("installed", ReadAll(file));
    _lclose(file);

    Write(bin + "/sheet.bmp", "beside the program");
    file = OpenFile("sheet.bmp", &info, OF_READ);
    ASSERT_NE(HFILE_ERROR, file);
    EXPECT_EQ("beside the program", ReadAll(file));
    _lclose(file);
}

TEST_F(FilesTest, PathWithADirectoryIsTakenAsGiven) {
    Write(programDir + "/sheet.bmp", "program");
    ASSERT_EQ(0, mkdir("sub", 0700));
    Write(workDir + "/sub/sheet.bmp", "sub");
    OFSTRUCT info;
    HFILE file = OpenFile("sub/sheet.bmp", &info, OF_READ);
    ASSERT_NE(HFILE_ERROR, file);
    EXPECT_EQ("sub", ReadAll(file));
    _lclose(file);
    EXPECT_DEATH(OpenFile("sheet.bmp", &info, 0x1000), "OpenFile: only OF_READ is supported");
}

TEST_F(FilesTest, MissingOrFailingFileGivesHfileError) {
    OFSTRUCT info;
    EXPECT_EQ(HFILE_ERROR, OpenFile("missing.bmp", &info, OF_READ));
    Write(workDir + "/sheet.bmp", "x");
    seam::FailNext(seam::Call::OpenFile);
    EXPECT_EQ(HFILE_ERROR, OpenFile("sheet.bmp", &info, OF_READ));
    EXPECT_NE(HFILE_ERROR, OpenFile("sheet.bmp", &info, OF_READ));
    EXPECT_EQ(static_cast<UINT>(HFILE_ERROR), _lread(12345, &info, 1));  // not a file of ours
}

TEST_F(FilesTest, ShortFileReadsWhatIsThereThenZero) {
    Write(workDir + "/short.bin", "abc");
    OFSTRUCT info;
    HFILE file = OpenFile("short.bin", &info, OF_READ);
    char buffer[16];
    EXPECT_EQ(3u, _lread(file, buffer, sizeof buffer));
    EXPECT_EQ(0u, _lread(file, buffer, sizeof buffer));
    _lclose(file);
}

TEST_F(FilesTest, ArmedAllocationFailuresHitMallocThenStop) {
    seam::FailNextAlloc(2);
    EXPECT_EQ(nullptr, std::malloc(16));
    EXPECT_EQ(nullptr, std::malloc(16));
    void* block = std::malloc(16);
    EXPECT_NE(nullptr, block);
    std::free(block);
}

}  // namespace
