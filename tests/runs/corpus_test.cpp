// The run corpus: every run in tests/runs/ (MANIFEST says what each is and
// what --verify prints for it) replays to its end and prints the same lines
// on every build that runs this suite: Linux, Windows under Wine and the
// page's WebAssembly under node. A change to the game, the core or the file
// that parts an old run from its recording fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/core/run.h"
#include "platform/seam.h"
#include "tests/game/replay_runner.h"
#include "tests/game/run_output.h"

namespace {

struct Entry {
    std::string file;
    std::vector<std::string> lines;  // the last: "N pictures"
};

// A failure names the run, not the bytes of its record.
void PrintTo(const Entry& entry, std::ostream* out) {
    *out << entry.file;
}

std::vector<Entry> ReadManifest() {
    std::ifstream in(VORNACKLE_RUNS_DIR "/MANIFEST");
    std::vector<Entry> entries;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("run ", 0) == 0) entries.push_back(Entry{line.substr(4), {}});
        if (line.rfind("| ", 0) == 0 && !entries.empty())
            entries.back().lines.push_back(line.substr(2));
    }
    return entries;
}

// What --verify printed, line by line, its last (the picture rate, which is
// the machine's) cut to the number of pictures.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    if (!lines.empty()) lines.back() = lines.back().substr(0, lines.back().find(" in "));
    return lines;
}

class Corpus : public ::testing::TestWithParam<Entry> {};

TEST_P(Corpus, VerifiesWithTheRecordedLines) {
    const Entry& entry = GetParam();
    const std::string path = VORNACKLE_RUNS_DIR "/" + entry.file;
    ASSERT_GE(entry.lines.size(), 2u) << "MANIFEST gives no lines for " << entry.file;
    const RunOutput output;
    // As the program's --verify does: the recorded command line, no player.
    char commandLine[runs::kCommandLineSize] = "";
    bool loaded = false;
    int exitCode = -1;
    replay::Play(
        0, 100000, {}, 7,
        [&] {
            seam::RecordTextsOnly(true);  // no picture kept: --verify keeps none
            loaded = runs::Replay(path.c_str(), true, commandLine);
        },
        &exitCode, commandLine);
    const int finished = loaded ? runs::Finish(exitCode) : 2;
    const std::string said = output.Lines(), complained = output.Complaints();
    EXPECT_EQ(finished, 0) << complained;
    EXPECT_EQ(complained, "");
    EXPECT_EQ(Lines(said), entry.lines) << said;
}

INSTANTIATE_TEST_SUITE_P(Runs, Corpus, ::testing::ValuesIn(ReadManifest()),
                         [](const ::testing::TestParamInfo<Entry>& info) {
                             std::string name =
                                 info.param.file.substr(0, info.param.file.find('.'));
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

// An empty or unread manifest would pass every build with no run at all.
TEST(CorpusManifest, HoldsTheRuns) {
    EXPECT_GE(ReadManifest().size(), 30u);
}

}  // namespace
