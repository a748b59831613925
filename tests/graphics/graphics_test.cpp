// The display device, the drawing primitives and the sprite sheet as they
// reach the surfaces: what each failed step of DisplayOpen leaves and
// DisplayClose gives back, the way back after a lost display; the files the
// BMP reader refuses, cutting frames from their cells, and the committed
// sheet. (Fills, keyed frames and labels as drawn: the golden replay; the
// colour table and the default ramps: the start-up recording; a flip that
// never succeeds, given up: the fault sweep.)
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "graphics/display.h"
#include "platform/seam.h"

HWND mainWindow = nullptr;  // defined by the game; the tests stand in for it

namespace {

// A fresh process: the seam reset, the display record and table cleared, a
// window over the screen.
void ResetProcess() {
    seam::Reset();
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    memset(PaletteTable, 0, sizeof(PaletteTable));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "VornackleGraphics";
    RegisterClassA(&windowClass);
    mainWindow = CreateWindowExA(0, "VornackleGraphics", "graphics test", WS_POPUP | WS_VISIBLE, 0,
                                 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                 nullptr, nullptr, nullptr, nullptr);
}

void OpenDisplay() {
    ResetProcess();
    ASSERT_EQ(DisplayOpen(), 1);
}

// One BMP file as the reader sees it: `rows` in stored order, unpadded.
struct BmpLayout {
    int32_t width = 4, height = 1;
    uint16_t bitCount = 8;
    int64_t sizeImage = -1;      // -1: the rows' total length
    uint8_t table[256][4] = {};  // blue, green, red, reserved as stored
    std::vector<std::vector<uint8_t>> rows;
};
std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
    std::vector<uint8_t> data, out;
    for (const auto& row : layout.rows) data.insert(data.end(), row.begin(), row.end());
    const uint32_t offset = layout.bitCount == 8 ? 1078 : 54, size = data.size();
    auto put = [&out](uint32_t v, int bytes) {
        for (; bytes > 0; --bytes, v >>= 8) out.push_back(v & 0xFF);
    };
    put(0x4D42, 2), put(offset + size, 4), put(0, 4), put(offset, 4), put(40, 4);
    put(layout.width, 4), put(layout.height, 4), put(1, 2), put(layout.bitCount, 2), put(0, 4);
    put(layout.sizeImage < 0 ? size : static_cast<uint32_t>(layout.sizeImage), 4), put(0, 16);
    if (layout.bitCount == 8) out.insert(out.end(), layout.table[0], layout.table[0] + 1024);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ReadBitmapFile on `bytes` (with the next allocation failing if asked);
// fails the test if the reader left the file open.
int Read(BitmapFile* bitmap, const std::vector<uint8_t>& bytes, bool failAlloc = false) {
    char path[] = "/tmp/vn_graphics_bmp_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    OFSTRUCT scratch;
    const HFILE file = OpenFile(path, &scratch, OF_READ);
    unlink(path);  // the open handle keeps the file readable
    EXPECT_NE(file, HFILE_ERROR);
    if (failAlloc) seam::FailNextAlloc();
    const int result = ReadBitmapFile(bitmap, file);
    EXPECT_EQ(seam::OpenFiles(), 0) << "the reader closes the file";
    return result;
}

// A sheet whose top-down pixel (row, column) is SheetValue(row, column), a
// diagonal band of it index 0 (transparent).
uint8_t SheetValue(int row, int column) {
    return (row + column) % 4 == 0 ? 0 : static_cast<uint8_t>((row * 7 + column * 3) % 251 + 1);
}

std::vector<uint8_t> MakeSheet(int width, int height) {
    BmpLayout layout;
    layout.width = width, layout.height = height;
    for (int row = height - 1; row >= 0; --row) {
        layout.rows.emplace_back(width);
        for (int column = 0; column < width; ++column)
            layout.rows.back()[column] = SheetValue(row, column);
    }
    return MakeBmp(layout);
}

// What start-up does: read a 148 x 81 sheet, cut frames 0 and 1, free it.
std::vector<IDirectDrawSurface7*> CutFrames() {
    BitmapFile sheet = {};
    EXPECT_EQ(Read(&sheet, MakeSheet(148, 81)), 1);
    std::vector<IDirectDrawSurface7*> frames = {MakeFrameSurface(), MakeFrameSurface()};
    for (int k = 0; k < 2; ++k) EXPECT_EQ(CopyFrameCell(&sheet, frames[k], k), 1);
    free(sheet.pixels);
    return frames;
}

// Pixels of the 72 x 80 frame that differ from want(row, column).
int FrameMismatches(IDirectDrawSurface7* frame, const std::function<uint8_t(int, int)>& want) {
    int width = 0, height = 0, pitch = 0, wrong = 0;
    const BYTE* pixels = seam::SurfacePixels(frame, &width, &height, &pitch);
    if (pixels == nullptr || width != 72 || height != 80) return -1;
    for (int r = 0; r < 80; ++r) {
        for (int c = 0; c < 72; ++c) wrong += pixels[r * pitch + c] != want(r, c);
    }
    return wrong;
}

// Each failing step stops the opening and keeps what was made before it (a
// failed clip list, or no memory for it, still opens, unclipped); DisplayClose then gives back
// all that is present, device last. Letters: device, primary, back,
// palette (k), clipper.
TEST(DisplayOpen, FailedStepKeepsWhatWasMadeAndCloseReleasesIt) {
    using seam::Call;
    const struct {
        Call call;
        int opened;
        std::string held;
        bool noMemory = false;  // for the clip list
    } cases[] = {{Call::DirectDrawCreateEx, 0, ""},   {Call::SetCooperativeLevel, 0, "d"},
                 {Call::SetDisplayMode, 0, "d"},      {Call::CreateSurface, 0, "d"},
                 {Call::GetAttachedSurface, 0, "dp"}, {Call::CreatePalette, 0, "dpb"},
                 {Call::SetPalette, 0, "dpbk"},       {Call::CreateClipper, 1, "dpbk"},
                 {Call::SetClipList, 1, "dpbk"},      {Call::SetClipper, 1, "dpbk"},
                 {Call::Count, 1, "dpbk", true},      {Call::Count, 1, "dpbkc"}};
    auto held = [] {
        return std::string(display.device ? "d" : "") + (display.primary ? "p" : "") +
               (display.back ? "b" : "") + (display.palette ? "k" : "") +
               (display.clipper ? "c" : "");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.call));
        ResetProcess();
        if (c.call != Call::Count) seam::FailNext(c.call);
        if (c.noMemory) seam::FailNextAlloc();
        EXPECT_EQ(DisplayOpen(), c.opened);
        EXPECT_EQ(held(), c.held);
        // Only a clipper that could not be attached is given back while opening.
        const size_t dropped =
            c.noMemory || c.call == Call::SetClipList || c.call == Call::SetClipper;
        EXPECT_EQ(seam::ReleaseLog(), std::vector<std::string>(dropped, "clipper"));
        EXPECT_EQ(DisplayClose(), 1);
        EXPECT_EQ(held(), "");
        EXPECT_EQ(seam::LiveObjects(), 0);  // each object once: a second release stops the test
        EXPECT_TRUE(c.held.empty() || seam::ReleaseLog().back() == "device");
    }
}

std::vector<BYTE> ShowBaskets(const std::vector<IDirectDrawSurface7*>& frames) {
    FillRect(0, 0, 639, 479, 0);
    BlitFrame(frames[0], 400, 320);
    BlitFrame(frames[1], 270, 304);
    PresentFrame();
    return std::vector<BYTE>(seam::PrimaryPixels(), seam::PrimaryPixels() + 640 * 480);
}

// Alt+Tab: frames are dropped while the system refuses the surfaces back,
// then the same picture and palette return although the sheet is long freed.
// A recut surface comes back as last cut; a new display forgets old frames.
TEST(LostDisplay, TheSamePictureComesBackAfterFramesDroppedWhileAway) {
    OpenDisplay();
    CutFrames();  // frames of a display that is then replaced
    OpenDisplay();
    PaletteTable[127] = PALETTEENTRY{200, 100, 50, PC_NOCOLLAPSE};
    display.palette->SetEntries(0, 0, 256, PaletteTable);
    const std::vector<IDirectDrawSurface7*> frames = CutFrames();
    const std::vector<BYTE> before = ShowBaskets(frames);
    const int flips = seam::FlipCount();
    seam::LoseSurfaces();
    seam::FailNext(seam::Call::RestoreAllSurfaces, 2);
    for (int frame = 0; frame < 3; ++frame) ShowBaskets(frames);
    EXPECT_EQ(seam::FlipCount(), flips) << "nothing is shown while the display is away";
    EXPECT_TRUE(ShowBaskets(frames) == before) << "both baskets as they were before the loss";
    EXPECT_EQ(seam::FlipCount(), flips + 1);
    EXPECT_EQ(seam::DisplayPalette(127).peGreen, 100);

    BitmapFile blank = {};  // frame 1 recut from an empty sheet
    BmpLayout empty;
    empty.width = 148, empty.height = 81, empty.rows.assign(81, std::vector<uint8_t>(148, 0));
    ASSERT_EQ(Read(&blank, MakeBmp(empty)), 1);
    CopyFrameCell(&blank, frames[1], 1);
    free(blank.pixels);
    seam::LoseSurfaces();
    PresentFrame();
    std::vector<BYTE> want = before;
    for (int y = 304; y < 304 + 79; ++y) std::fill_n(&want[y * 640 + 270], 71, 0);
    EXPECT_TRUE(ShowBaskets(frames) == want) << "the recut frame 1, and frame 0 as first cut";
}

// Three rows of 4 pixels, each byte holding its row's stored position (1, 2,
// 3), stored bottom first: turned, the picture starts with row 3.
std::vector<uint8_t> Rows(int64_t sizeImage = -1) {
    BmpLayout layout;
    layout.height = 3, layout.sizeImage = sizeImage;
    for (uint8_t r = 1; r <= 3; ++r) layout.rows.emplace_back(4, r);
    return MakeBmp(layout);
}

class BitmapTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcess(); }
    void TearDown() override { free(bitmap.pixels); }
    BitmapFile bitmap = {};
};

// Every refused file is closed and leaves the record (headers, colour table,
// pixels) as it was; no read goes past the file's bytes (the sanitizer run
// reports it).
TEST_F(BitmapTest, RefusesBadHostileAndShortFiles) {
    // Bit depth, width, height and stated pixel bytes of refused headers.
    // clang-format off
    const int64_t headers[][4] = {{1, 4, 3, 12}, {4, 4, 3, 12}, {32, 4, 3, 48}, {0, 4, 3, 12},
        {12, 4, 3, 12}, {8, 4, 3, 0}, {8, 4, 3, 11}, {8, 0, 3, 12}, {8, -4, 3, 12}, {8, 4, 0, 12},
        {8, 4, INT32_MIN, 12}, {8, 0x40000000, 3, 12}, {8, 4, 0x7FFFFFFF, 12},
        {8, 0x10000, 0x10000, 12} /* wraps */, {8, 4, 3, 0xFFFFFFFF}};
    // clang-format on
    const std::vector<uint8_t> good = Rows();
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const auto& h : headers) {
        BmpLayout layout;
        layout.bitCount = h[0], layout.width = h[1], layout.height = h[2], layout.sizeImage = h[3];
        layout.rows.assign(3, std::vector<uint8_t>(4, 1));
        files.push_back({std::to_string(h[0]) + " bits " + std::to_string(h[1]) + " x " +
                             std::to_string(h[2]) + ", " + std::to_string(h[3]),
                         MakeBmp(layout)});
    }
    files.push_back({"not BM", good});
    files.back().second[0] = 'M';
    for (size_t length : {0, 1, 13, 14, 30, 53, 54, 600, 1077, 1078, 1089}) {
        files.push_back({"cut to " + std::to_string(length),
                         std::vector<uint8_t>(good.begin(), good.begin() + length)});
    }
    files.push_back({"more pixel bytes stated than follow", Rows(4096)});
    files.push_back({"", good});  // read with no buffer to be had
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(Read(&bitmap, good), 1);
        const BitmapFile earlier = bitmap;
        EXPECT_EQ(Read(&bitmap, files[i].second, files[i].first.empty()), 0) << files[i].first;
        EXPECT_EQ(memcmp(&bitmap, &earlier, sizeof bitmap), 0) << files[i].first;
        EXPECT_EQ(std::vector<BYTE>(bitmap.pixels, bitmap.pixels + 12),
                  std::vector<BYTE>({3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1}))
            << files[i].first;
    }
    BYTE image[] = {1, 1, 2, 2};  // rows that cannot be turned stay as they were
    seam::FailNextAlloc();
    EXPECT_EQ(FlipRows(2, image, 2) + FlipRows(2, image, -1) + FlipRows(-2, image, 2), 0);
    EXPECT_EQ(std::vector<BYTE>(image, image + 4), std::vector<BYTE>({1, 1, 2, 2}));
}

// A sheet read again into the same record gives back the pixels it held;
// after a refused read of a file whose headers told other sizes, frames are
// cut from the sheet the record still holds, within its buffer.
TEST_F(BitmapTest, ReadingAgainReplacesTheSheetAndARefusedReadKeepsIt) {
    OpenDisplay();
    const std::vector<uint8_t> sheet = MakeSheet(148, 81);
    ASSERT_EQ(Read(&bitmap, sheet), 1);
    const size_t inUse = mallinfo2().uordblks + mallinfo2().hblkhd;
    ASSERT_EQ(Read(&bitmap, sheet), 1);
    EXPECT_EQ(mallinfo2().uordblks + mallinfo2().hblkhd, inUse) << "the old pixels were kept";
    for (int width : {296, 72}) {
        const std::vector<uint8_t> other = MakeSheet(width, 81);
        EXPECT_EQ(Read(&bitmap, std::vector<uint8_t>(other.begin(), other.end() - 100)), 0);
        for (int k = 0; k < 2; ++k) {
            IDirectDrawSurface7* frame = MakeFrameSurface();
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(CopyFrameCell(&bitmap, frame, k), 1);
            EXPECT_EQ(FrameMismatches(
                          frame, [&](int r, int c) { return SheetValue(r + 1, 73 * k + c + 1); }),
                      0)
                << "frame " << k << " after a refused " << width << "-wide sheet";
        }
    }
}

// Frame k's pixel (r, c) is the top-down sheet's pixel (r + 1, 73k + c + 1);
// a failed Lock writes nothing; a cell the sheet does not wholly hold leaves
// the frame transparent without reading past the sheet (146 x 81 is the
// smallest sheet holding both cells).
TEST(CopyFrameCell, CutsEachFrameFromItsCellUnderALock) {
    const int cases[][4] = {{148, 81, 0, 1}, {146, 81, 1, 1},  {145, 81, 1, 0}, {148, 80, 0, 0},
                            {148, 81, 2, 0}, {148, 81, -1, 0}, {72, 81, 0, 0},  {148, 81, 0, -1}};
    OpenDisplay();
    for (const auto& c : cases) {
        BitmapFile sheet = {};
        ASSERT_EQ(Read(&sheet, MakeSheet(c[0], c[1])), 1);
        IDirectDrawSurface7* frame = MakeFrameSurface();
        ASSERT_NE(frame, nullptr);
        if (c[2] >= 0) CopyFrameCell(&sheet, frame, c[2] == 1 ? 0 : 1);  // something there first
        const int unwritten = FrameMismatches(frame, [](int, int) { return 0; });
        if (c[3] < 0) seam::FailNext(seam::Call::Lock);
        EXPECT_EQ(CopyFrameCell(&sheet, frame, c[2]), 1);
        const int mismatches = FrameMismatches(frame, [&](int r, int col) {
            return c[3] > 0 ? SheetValue(r + 1, 73 * c[2] + col + 1) : 0;
        });
        EXPECT_EQ(mismatches, c[3] < 0 ? unwritten : 0)
            << c[0] << " x " << c[1] << " cell " << c[2];
        free(sheet.pixels);
    }
}

// The committed sheet is what the generator draws (the golden replay holds
// what the game makes of it).
TEST(SpriteSheet, CommittedFileIsWhatTheGeneratorDraws) {
    const std::string fresh = testing::TempDir() + "vn_sheet_fresh.bmp";
    ASSERT_EQ(std::system((std::string(VN_SHEET_TOOL) + " " + fresh).c_str()), 0);
    std::ifstream made(fresh, std::ios::binary), committed(VN_SHEET_PATH, std::ios::binary);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(made), {},
                           std::istreambuf_iterator<char>(committed), {}))
        << "assets/playersprite.bmp is stale: rebuild sprite_sheet";
    std::remove(fresh.c_str());
}

}  // namespace
