// libFuzzer target: arbitrary bytes as a recorded run's file. Parsing must
// refuse or accept without reading out of bounds, and what it accepts must be
// a stream a replay can follow: each event well formed, an end only last, and
// a refused file must leave the caller's run as it was.
#include <cstdint>
#include <cstdlib>

#include "platform/core/run_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    runfile::Run run;
    run.programVersion = "untouched";
    const runfile::Status status = runfile::Parse(data, size, &run);
    if (!runfile::Readable(status)) {
        if (run.programVersion != "untouched" || !run.events.empty()) std::abort();
        return 0;
    }
    if (run.programVersion.size() > runfile::kMaxVersionLength) std::abort();
    if (run.complete != (status == runfile::Status::Complete)) std::abort();
    for (std::size_t i = 0; i < run.events.size(); ++i) {
        const runfile::Event& event = run.events[i];
        const bool last = i + 1 == run.events.size();
        switch (event.kind) {
            case runfile::Event::Reads:
                if (event.value == 0) std::abort();
                break;
            case runfile::Event::Key:
                if (event.a >= runfile::kKeyCount) std::abort();
                break;
            case runfile::Event::LevelEnd:
                if (event.a > static_cast<std::uint8_t>(runfile::Outcome::GameComplete))
                    std::abort();
                break;
            case runfile::Event::End:
                if (!last || !run.complete) std::abort();
                break;
            case runfile::Event::Tick:
            case runfile::Event::Close:
                break;
            default:
                std::abort();
        }
    }
    if (run.complete && (run.events.empty() || run.events.back().kind != runfile::Event::End)) {
        std::abort();
    }
    return 0;
}
