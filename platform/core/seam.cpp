// The test seam: resets the stand-in to a fresh headless process and gives
// the tests control of time, keys, failures and hooks, and read access to
// what the game produced.
#include "platform/seam.h"

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

extern "C" {
extern int vn_seam_fail_allocs;
extern long vn_seam_alloc_skip;
extern long vn_seam_alloc_uses;
}

using namespace standin;

namespace seam {

namespace {

std::vector<TextDraw> Convert(const TextLog& log) {
    std::vector<TextDraw> texts;
    for (size_t i = 0; i < log.count; ++i) {
        const TextRecord& r = log.records[i];
        texts.push_back(TextDraw{r.x, r.y, r.text, r.colour, r.index});
    }
    return texts;
}

}  // namespace

void Reset() {
    // Headless before the backend opens anything; it stays up across resets.
    backend::UseHeadless();
    runs::Forget();
    ForgetWaits();
    ForgetDirectDraw();
    ForgetWindow();
    ForgetTexts();
    ResetKeys();
    CloseAllFiles();
    beeps.clear();
    beeps.reserve(4096);  // recording a beep in a benchmark's frame allocates nothing
    seamState = SeamState{};
    seamState.active = true;
    vn_seam_fail_allocs = 0;
    vn_seam_alloc_skip = 0;
    vn_seam_alloc_uses = 0;
}

void UseRealClock(bool real) {
    seamState.realClock = real;
}
void UseScriptedClock(std::function<std::uint64_t()> microseconds,
                      std::function<void(std::uint64_t)> sleepUntil,
                      std::function<void(int)> waitForEvent) {
    realClock = RealClock{std::move(microseconds), std::move(sleepUntil), std::move(waitForEvent)};
}
void PresentLikeProgram(bool present) {
    seamState.presentLikeProgram = present;
}
void RecordTextsOnly(bool textsOnly) {
    seamState.textsOnly = textsOnly;
}

void SetTick(DWORD tick) {
    seamState.tick = tick;
    seamState.pollsWithoutProgress = 0;
}
DWORD PeekTick() {
    return seamState.tick;
}
void SetTickStep(DWORD ms) {
    seamState.tickStep = ms;
}
void AdvanceTick(DWORD ms) {
    seamState.tick += ms;
    seamState.pollsWithoutProgress = 0;
    CheckTickBudget();
}
void SetTickBudget(DWORD ms) {
    seamState.budget = ms;
    seamState.budgetStart = seamState.tick;
}

void HoldKey(int vk, bool held) {
    SeamHoldKey(vk, held);
}
void ScriptKey(int vk, DWORD fromTick, DWORD untilTick) {
    scriptedKeys.push_back(ScriptedKey{vk, fromTick, untilTick});
}
void TapKey(int vk) {
    SeamTapKey(vk);
}
void ReleaseAllKeys() {
    ResetKeys();
}
void UseBackendInput(bool use) {
    seamState.backendInput = use;
}

void PushCloseRequest() {
    RequestClose();
}

void FailNext(Call call, int count, HRESULT result) {
    seamState.failures[static_cast<int>(call)] = SeamState::Failure{0, count, result};
}
void FailNextAlloc(int count) {
    vn_seam_alloc_skip = 0;
    vn_seam_fail_allocs = count;
}
int CallUses(Call call) {
    return seamState.uses[static_cast<int>(call)];
}
void FailUse(Call call, int use, bool forever, HRESULT result) {
    const int always = 1 << 30;
    seamState.failures[static_cast<int>(call)] =
        SeamState::Failure{use > 1 ? use - 1 : 0, forever ? always : 1, result};
}
long AllocUses() {
    return vn_seam_alloc_uses;
}
void FailAllocUse(long use, bool forever) {
    vn_seam_alloc_skip = use > 1 ? use - 1 : 0;
    vn_seam_fail_allocs = forever ? 1 << 30 : 1;
}

void SetFrameHook(std::function<void()> hook) {
    seamState.frameHook = std::move(hook);
}
void SetPollHook(std::function<void()> hook) {
    seamState.pollHook = std::move(hook);
}

const BYTE* PrimaryPixels() {
    IDirectDrawSurface7* surface = PrimarySurface();
    return surface != nullptr ? SurfaceData(surface, nullptr, nullptr, nullptr) : nullptr;
}
const BYTE* BackPixels() {
    IDirectDrawSurface7* surface = BackSurface();
    return surface != nullptr ? SurfaceData(surface, nullptr, nullptr, nullptr) : nullptr;
}
const BYTE* SurfacePixels(IDirectDrawSurface7* surface, int* width, int* height, int* pitch) {
    return SurfaceData(surface, width, height, pitch);
}
PALETTEENTRY DisplayPalette(int index) {
    return DisplayPaletteEntry(index);
}
std::vector<RECT> ClipRects() {
    return BackClipRects();
}
RECT ClipBound() {
    return BackClipBound();
}

std::vector<PostedMessage> PostedMessages() {
    std::vector<PostedMessage> messages;
    for (const MSG& msg : windowState.queue) {
        messages.push_back(PostedMessage{msg.hwnd, msg.message, msg.wParam, msg.lParam});
    }
    return messages;
}

std::vector<UINT> Beeps() {
    return beeps;
}
void ClearBeeps() {
    beeps.clear();
    beeps.reserve(4096);  // recording a beep in a benchmark's frame allocates nothing
}

std::vector<TextDraw> TextsSinceFlip() {
    return Convert(textsSinceFlip);
}
std::vector<TextDraw> TextsOfLastPresent() {
    return Convert(textsOfLastPresent);
}
bool FontLoaded() {
    return FontReady();
}

int CursorShowCount() {
    return windowState.cursorCount;
}
bool WindowExists() {
    return windowState.exists;
}

int FlipCount() {
    return standin::FlipCount();
}
std::uint32_t PresentedChecksum() {
    return standin::PresentedChecksum();
}
std::uint32_t WindowPixel(int x, int y) {
    return backend::WindowPixel(x, y);
}
std::uint32_t PresentedPixel(int x, int y) {
    return standin::PresentedPixel(x, y);
}

int LiveObjects() {
    return LiveObjectCount();
}
std::vector<std::string> ReleaseLog() {
    return releaseLog;
}

void SetProgramDirectory(const std::string& dir) {
    seamState.programDir = dir;
}
int OpenFiles() {
    return OpenFileCount();
}

}  // namespace seam
