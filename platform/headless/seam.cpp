// The test seam (platform/seam.h): the tests' harness over the core. It takes
// the core's one hook (platform/core/harness.h) for a virtual tick counter,
// injected failures, the frame and poll hooks and a stuck game's abort, and
// reads the core's records and what the headless backend captured.
#include "platform/seam.h"

#include <cstdio>
#include <cstdlib>

#include "platform/core/ddraw_objects.h"
#include "platform/core/harness.h"
#include "platform/core/run.h"
#include "platform/headless/captures.h"

extern "C" {
// Armed by FailNextAlloc and FailAllocUse, consumed by __wrap_malloc
// (seam_malloc.cpp, in the test executables that wrap malloc).
int vn_seam_fail_allocs = 0;
long vn_seam_alloc_skip = 0;   // allocations let through before the failures
long vn_seam_alloc_uses = 0;   // allocations counted since the last Reset
long vn_seam_new_uses = 0;     // operator new's, since the last Reset
long vn_seam_blocks_held = 0;  // blocks of those and of malloc not yet given back
}

namespace headless {
Captures captures;
}  // namespace headless

using headless::captures;
using standin::Entry;

namespace seam {

namespace {

// backend::httpRequest in the tests: the script's answer (ScriptHttp),
// refused past its limit as the backends refuse one.
bool ScriptedHttp(const char* method, const std::string& url, const std::string& body, int seconds,
                  std::size_t limit, backend::HttpAnswer* answer, std::string* error) {
    answer->status = 0;
    answer->body.clear();
    if (!captures.http) {
        *error = "no board here";
        return false;
    }
    if (!captures.http(HttpExchange{method, url, body, seconds}, answer, error)) return false;
    if (answer->body.size() > limit) {
        *error = "an answer over " + std::to_string(limit) + " bytes";
        return false;
    }
    return true;
}

// A game that polls keys for ever without the clock moving and without a
// picture being presented can never be steered by a test: stop it loudly.
constexpr long kPollsWithoutProgress = 20000000;

// The entries whose failure can be injected, by their seam name.
Call InjectableCall(Entry entry) {
    switch (entry) {
        case Entry::RegisterClassA:
            return Call::RegisterClassA;
        case Entry::CreateWindowExA:
            return Call::CreateWindowExA;
        case Entry::DirectDrawCreateEx:
            return Call::DirectDrawCreateEx;
        case Entry::SetCooperativeLevel:
            return Call::SetCooperativeLevel;
        case Entry::SetDisplayMode:
            return Call::SetDisplayMode;
        case Entry::CreateSurface:
            return Call::CreateSurface;
        case Entry::GetAttachedSurface:
            return Call::GetAttachedSurface;
        case Entry::CreatePalette:
            return Call::CreatePalette;
        case Entry::SetPalette:
            return Call::SetPalette;
        case Entry::CreateClipper:
            return Call::CreateClipper;
        case Entry::SetClipList:
            return Call::SetClipList;
        case Entry::SetClipper:
            return Call::SetClipper;
        case Entry::SetColorKey:
            return Call::SetColorKey;
        case Entry::GetDC:
            return Call::GetDC;
        case Entry::Blt:
            return Call::Blt;
        case Entry::Flip:
            return Call::Flip;
        case Entry::SetEntries:
            return Call::SetEntries;
        case Entry::Lock:
            return Call::Lock;
        case Entry::OpenFile:
            return Call::OpenFile;
        case Entry::RestoreAllSurfaces:
            return Call::RestoreAllSurfaces;
        default:
            return Call::Count;
    }
}

// The texts of one picture. Records are reused from picture to picture, so
// that a steady frame allocates nothing for them.
struct TextLog {
    std::vector<TextDraw> records;
    size_t count = 0;
    void Add(int x, int y, const char* text, int length, COLORREF colour, BYTE index) {
        if (count == records.size()) records.emplace_back();
        TextDraw& record = records[count++];
        record.x = x;
        record.y = y;
        record.text.assign(text, static_cast<size_t>(length));  // in the record's own room
        record.colour = colour;
        record.index = index;
    }
    std::vector<TextDraw> Texts() const {
        return std::vector<TextDraw>(records.begin(), records.begin() + static_cast<long>(count));
    }
};

struct Failure {
    int skip = 0;   // reaches to let through first
    int count = 0;  // then this many fail
    HRESULT result = 0;
};

class Seam final : public standin::Harness {
  public:
    DWORD tick = 0;
    DWORD tickStep = 1;
    DWORD budget = 0;  // 0 = no limit
    DWORD budgetStart = 0;
    long pollsWithoutProgress = 0;
    int flips = 0;
    bool realClock = false;  // GetTickCount on the clock, not virtual
    Failure failures[static_cast<int>(Call::Count)];
    int uses[static_cast<int>(Call::Count)] = {};
    std::function<void()> frameHook;
    std::function<void()> pollHook;
    TextLog textsSinceFlip, textsOfLastPresent;

    void Entered(Entry entry) override {
        if (entry != Entry::GetAsyncKeyState) return;
        if (pollHook) pollHook();
        if (++pollsWithoutProgress > kPollsWithoutProgress) {
            std::fprintf(stderr,
                         "seam: %ld key polls at tick %u without the clock moving or a frame "
                         "shown: the game is stuck waiting for a key\n",
                         pollsWithoutProgress, tick);
            std::abort();
        }
    }

    bool Fails(Entry entry, HRESULT* result) override {
        const Call call = InjectableCall(entry);
        if (call == Call::Count) return false;
        ++uses[static_cast<int>(call)];
        Failure& failure = failures[static_cast<int>(call)];
        if (failure.count <= 0) return false;
        if (failure.skip > 0) {
            --failure.skip;
            return false;
        }
        --failure.count;
        if (failure.result != 0) *result = failure.result;
        return true;
    }

    void DrewText(int x, int y, const char* text, int length, COLORREF colour,
                  BYTE index) override {
        textsSinceFlip.Add(x, y, text, length, colour, index);
    }

    void Flipped() override {
        std::swap(textsOfLastPresent, textsSinceFlip);
        textsSinceFlip.count = 0;
        ++flips;
        pollsWithoutProgress = 0;
        if (frameHook) frameHook();
    }

    bool VirtualTick(bool read, DWORD* value) override {
        if (realClock) return false;
        *value = tick;
        if (read) {
            tick += tickStep;
            pollsWithoutProgress = 0;
            CheckBudget();
        }
        return true;
    }

    void CheckBudget() const {
        if (budget != 0 && static_cast<DWORD>(tick - budgetStart) >= budget) {
            std::fprintf(stderr,
                         "seam: tick budget of %u ms used up at tick %u: the game did not finish\n",
                         budget, tick);
            std::fflush(stderr);
            std::abort();
        }
    }
};

Seam seamState;

// Under the virtual counter the clock stands still: nothing waits.
standin::Clock FrozenClock() {
    return standin::Clock{[] { return std::uint64_t{0}; }, [](std::uint64_t) {}, [](int) {}};
}

standin::Surface* Front() {
    return standin::liveDevice != nullptr ? standin::liveDevice->primary : nullptr;
}
standin::Surface* Back() {
    return Front() != nullptr ? Front()->back : nullptr;
}

void CheckKey(const char* call, int vk) {
    if (!standin::IsPolledKey(vk)) {
        standin::Unsupported(call, "key 0x%X is not one the game polls", vk);
    }
}

}  // namespace

void Reset() {
    standin::ForgetEverything();
    runs::Forget();
    seamState = Seam{};
    standin::harness = &seamState;
    standin::UseClock(FrozenClock());
    captures = headless::Captures{};
    backend::httpRequest = ScriptedHttp;
    captures.beeps.reserve(4096);  // recording a beep in a benchmark's frame allocates nothing
    vn_seam_fail_allocs = 0;
    vn_seam_alloc_skip = 0;
    vn_seam_alloc_uses = 0;
    vn_seam_new_uses = 0;
}

void ScriptHttp(
    std::function<bool(const HttpExchange&, backend::HttpAnswer*, std::string*)> script) {
    captures.http = std::move(script);
}

void UseRealClock(bool real) {
    seamState.realClock = real;
    standin::UseClock(real ? standin::MachineClock() : FrozenClock());
}
void UseScriptedClock(std::function<std::uint64_t()> microseconds,
                      std::function<void(std::uint64_t)> sleepUntil,
                      std::function<void(int)> waitForEvent) {
    standin::UseClock(
        standin::Clock{std::move(microseconds), std::move(sleepUntil), std::move(waitForEvent)});
}
void RecordTextsOnly(bool textsOnly) {
    captures.textsOnly = textsOnly;
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
    seamState.CheckBudget();
}
void SetTickBudget(DWORD ms) {
    seamState.budget = ms;
    seamState.budgetStart = seamState.tick;
}

void HoldKey(int vk, bool held) {
    CheckKey("seam::HoldKey", vk);
    standin::KeyEvent(vk, held);
}
void TapKey(int vk) {
    CheckKey("seam::TapKey", vk);
    standin::TapKey(vk);
}
void ReleaseAllKeys() {
    standin::ForgetKeys();
}

void PushCloseRequest() {
    standin::RequestClose();
}
void PushWindowEvent(backend::Event event) {
    captures.events.push_back(event);
}

void FailNext(Call call, int count, HRESULT result) {
    seamState.failures[static_cast<int>(call)] = Failure{0, count, result};
}
void LoseSurfaces() {
    for (const auto& object : standin::objects) {
        auto* surface = dynamic_cast<standin::Surface*>(object.get());
        if (surface != nullptr && !surface->dead) surface->lost = true;
    }
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
        Failure{use > 1 ? use - 1 : 0, forever ? always : 1, result};
}
long AllocUses() {
    return vn_seam_alloc_uses;
}
long HeapAllocations() {
    return vn_seam_alloc_uses + vn_seam_new_uses;
}
long HeapBlocksHeld() {
    return vn_seam_blocks_held;
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
    return Front() != nullptr ? Front()->pixels.get() : nullptr;
}
const BYTE* BackPixels() {
    return Back() != nullptr ? Back()->pixels.get() : nullptr;
}
const BYTE* SurfacePixels(IDirectDrawSurface7* surface, int* width, int* height, int* pitch) {
    auto* s = static_cast<standin::Surface*>(surface);
    if (s == nullptr || s->dead) return nullptr;
    if (width != nullptr) *width = s->width;
    if (height != nullptr) *height = s->height;
    if (pitch != nullptr) *pitch = s->pitch;
    return s->pixels.get();
}
PALETTEENTRY DisplayPalette(int index) {
    const standin::Palette* palette = standin::DisplayPalette();
    if (palette == nullptr || index < 0 || index > 255) return PALETTEENTRY{};
    return palette->entries[index];
}
std::vector<RECT> ClipRects() {
    if (Back() == nullptr || Back()->clipper == nullptr) return {};
    return Back()->clipper->rects;
}
RECT ClipBound() {
    if (Back() == nullptr || Back()->clipper == nullptr) return RECT{};
    return Back()->clipper->bound;
}

std::vector<PostedMessage> PostedMessages() {
    std::vector<PostedMessage> messages;
    for (const MSG& msg : standin::windowState.queue) {
        messages.push_back(PostedMessage{msg.hwnd, msg.message, msg.wParam, msg.lParam});
    }
    return messages;
}

std::vector<UINT> Beeps() {
    return captures.beeps;
}
void ClearBeeps() {
    captures.beeps.clear();
}

std::vector<TextDraw> TextsSinceFlip() {
    return seamState.textsSinceFlip.Texts();
}
std::vector<TextDraw> TextsOfLastPresent() {
    return seamState.textsOfLastPresent.Texts();
}

bool FontLoaded() {
    return standin::FontReady();
}

int CursorShowCount() {
    return standin::windowState.cursorCount;
}
bool WindowExists() {
    return standin::windowState.exists;
}

int FlipCount() {
    return seamState.flips;
}
std::uint32_t PresentedChecksum() {
    return captures.checksum;
}
std::uint32_t PresentedPixel(int x, int y) {
    if (captures.argb.empty() || x < 0 || y < 0 || x >= kWidth || y >= kHeight) return 0;
    return captures.argb[static_cast<size_t>(y) * kWidth + x];
}

int LiveObjects() {
    int live = 0;
    for (const auto& object : standin::objects) live += object->dead ? 0 : 1;
    return live;
}
std::vector<std::string> ReleaseLog() {
    return standin::releaseLog;
}

void SetProgramDirectory(const std::string& dir) {
    captures.programDir = dir;
}
int OpenFiles() {
    return standin::OpenFileCount();
}

}  // namespace seam
