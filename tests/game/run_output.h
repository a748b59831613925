// What a replay prints, kept in files while it lives: the web build's suites
// cannot capture the streams.
#pragma once

#include <cstdio>
#include <string>

#include "platform/core/run.h"

class RunOutput {
  public:
    RunOutput() : lines_(std::tmpfile()), complaints_(std::tmpfile()) {
        runs::SetOutput(lines_, complaints_);
    }
    ~RunOutput() {
        runs::SetOutput(nullptr, nullptr);
        std::fclose(lines_);
        std::fclose(complaints_);
    }
    std::string Lines() const { return Read(lines_); }
    std::string Complaints() const { return Read(complaints_); }

  private:
    static std::string Read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            text.append(chunk, got);
        return text;
    }
    std::FILE* lines_;
    std::FILE* complaints_;
};
