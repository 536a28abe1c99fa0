// Scripted answers and scratch files for the configuration window tests.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/interaction.h"
#include "config/config_session.h"
#include "tests/support/hex_lines.h"

namespace qrv::test {

class ScriptedAnswers : public Interaction {
  public:
    std::vector<std::string> messages;
    std::deque<std::optional<std::string>> openAnswers;
    int openCalls = 0;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Warning(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> OpenFile(const std::string&) override {
        ++openCalls;
        if (openAnswers.empty()) return std::nullopt;
        auto a = openAnswers.front();
        openAnswers.pop_front();
        return a;
    }
    // Save dialogs: the filter and proposed name asked with, and the answers.
    std::vector<std::string> saveFilters, proposedNames;
    std::deque<std::optional<SaveAnswer>> saveAnswers;
    std::optional<std::string> SaveFile(const std::string& filter,
                                        const std::string& proposed) override {
        auto answer = SaveFileAs(filter, proposed);
        return answer ? std::optional<std::string>(answer->path) : std::nullopt;
    }
    std::optional<SaveAnswer> SaveFileAs(const std::string& filter,
                                         const std::string& proposed) override {
        saveFilters.push_back(filter);
        proposedNames.push_back(proposed);
        if (saveAnswers.empty()) return std::nullopt;
        auto a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }
};

// A directory of its own for each test, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("qrv-config-" + std::string(info->test_suite_name()) + "-" + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) const {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  private:
    std::filesystem::path dir_;
};

// A session after FormCreate, with a fixed marker draw.
struct Fixture {
    ScriptedAnswers answers;
    ConfigSession session{answers};
    Fixture() {
        session.Random = [] { return 0u; };
        session.Today = [] { return CalendarDate{2023, 4, 11}; };
        session.FormCreate();
    }
};

inline constexpr const char* kEof = ":00000001FF";

}  // namespace qrv::test
