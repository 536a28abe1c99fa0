// Blocking interactions (message boxes, file dialogs, pauses). Each front-end
// implements them: the GUI shows dialogs, the CLI answers from its arguments,
// tests script the answers and never sleep.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace qrv {

// What the save dialog answered: the chosen name and the entry of the filter
// that was selected (0 for the first).
struct SaveAnswer {
    std::string path;
    int filterIndex = 0;
};

// How serious a message is: the icon of its box. Errors the operator can mend
// (no chip, an interrupted download) are warnings; failures of the system's
// own files are critical.
enum class Severity { Information, Warning, Critical };

class Interaction {
  public:
    virtual ~Interaction() = default;
    // A modal information box with an OK button (ShowMessage).
    virtual void ShowMessage(const std::string& text) = 0;
    // A modal warning box with an OK button.
    virtual void Warning(const std::string& text) = 0;
    // A modal box with an OK button and the icon of its severity. Front-ends
    // without a critical icon show critical messages as warnings.
    virtual void Message(Severity severity, const std::string& text) {
        if (severity == Severity::Information)
            ShowMessage(text);
        else
            Warning(text);
    }
    // The open-file dialog; nullopt when cancelled.
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
    // The save-file dialog with a proposed name; nullopt when cancelled.
    virtual std::optional<std::string> SaveFile(const std::string& filter,
                                                const std::string& proposedName) = 0;
    // A modal question with Yes and No; true for Yes. Front-ends that cannot
    // ask answer No.
    virtual bool Question(const std::string& /*text*/) { return false; }
    // The save-file dialog, telling also which filter entry was selected. A
    // front-end whose dialog shows no filter entries answers with the first.
    virtual std::optional<SaveAnswer> SaveFileAs(const std::string& filter,
                                                 const std::string& proposedName) {
        std::optional<std::string> path = SaveFile(filter, proposedName);
        if (!path) return std::nullopt;
        return SaveAnswer{*path, 0};
    }
};

// A headless interaction: message boxes become lines on a stream (or nothing
// when it is null), and dialogs are never answered.
class StreamInteraction : public Interaction {
  public:
    explicit StreamInteraction(FILE* stream = nullptr) : stream_(stream) {}
    void ShowMessage(const std::string& text) override { Print(text); }
    void Warning(const std::string& text) override { Print(text); }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    void Print(const std::string& text) {
        if (stream_) std::fprintf(stream_, "%s\n", text.c_str());
    }
    FILE* stream_;
};

// An interaction that keeps the texts of its message boxes and answers no
// dialog: for callers that decide afterwards what the messages were.
class RecordingInteraction : public Interaction {
  public:
    std::vector<std::string> messages;
    std::vector<Severity> severities;  // the icon of each message
    void ShowMessage(const std::string& text) override { Message(Severity::Information, text); }
    void Warning(const std::string& text) override { Message(Severity::Warning, text); }
    void Message(Severity severity, const std::string& text) override {
        messages.push_back(text);
        severities.push_back(severity);
    }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

// The short waits between disabling and re-enabling a control.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual void Pause(int milliseconds) = 0;
};

// A clock that really sleeps (front-ends).
class SleepingClock : public Clock {
  public:
    void Pause(int milliseconds) override;
};

// A clock that never sleeps (tests, headless runs that need no pacing).
class InstantClock : public Clock {
  public:
    void Pause(int) override {}
};

}  // namespace qrv
