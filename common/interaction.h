// Blocking interactions (message boxes, file dialogs, pauses). Each front-end
// implements them: the GUI shows dialogs, the CLI answers from its arguments,
// tests script the answers and never sleep.
#pragma once

#include <optional>
#include <string>

namespace qrv {

class Interaction {
public:
    virtual ~Interaction() = default;
    // A modal information box with an OK button (ShowMessage).
    virtual void ShowMessage(const std::string& text) = 0;
    // A modal warning box with an OK button.
    virtual void Warning(const std::string& text) = 0;
    // The open-file dialog; nullopt when cancelled.
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
    // The save-file dialog with a proposed name; nullopt when cancelled.
    virtual std::optional<std::string> SaveFile(const std::string& filter,
                                                const std::string& proposedName) = 0;
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
