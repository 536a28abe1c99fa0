// Scripted interactions and a reply pump for session tests.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/interaction.h"
#include "session/session.h"

namespace qrv::test {

class ScriptedInteraction : public Interaction {
  public:
    std::vector<std::string> messages;  // ShowMessage and Warning texts, in order
    std::vector<Severity> severities;   // the icon of each of them
    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
    std::vector<std::string> proposedNames;
    std::deque<bool> questionAnswers;  // the answers to Question, in order (then no)
    std::vector<std::string> questions;

    void ShowMessage(const std::string& text) override { Message(Severity::Information, text); }
    void Warning(const std::string& text) override { Message(Severity::Warning, text); }
    void Message(Severity severity, const std::string& text) override {
        messages.push_back(text);
        severities.push_back(severity);
    }
    bool Question(const std::string& text) override {
        questions.push_back(text);
        if (questionAnswers.empty()) return false;
        const bool a = questionAnswers.front();
        questionAnswers.pop_front();
        return a;
    }
    std::optional<std::string> OpenFile(const std::string&) override {
        if (openAnswers.empty()) return std::nullopt;
        auto a = openAnswers.front();
        openAnswers.pop_front();
        return a;
    }
    std::optional<std::string> SaveFile(const std::string&, const std::string& proposed) override {
        proposedNames.push_back(proposed);
        if (saveAnswers.empty()) return std::nullopt;
        auto a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }
};

// Dispatches replies until none arrives for `quiet`; returns how many were handled.
inline int Pump(MainSession& session,
                std::chrono::milliseconds quiet = std::chrono::milliseconds(150)) {
    int n = 0;
    while (session.Channel().WaitAndDispatch(quiet, [&](const Report& r) { session.OnReply(r); }))
        ++n;
    return n;
}

}  // namespace qrv::test
