// The calibration text parser: a frequency typed into the calibration dialog
// and confirmed with "确定", the main window's session sending it to the
// simulated programmer. Invariants: the text is taken exactly when it is one
// to five decimal digits between blanks (spaces and tabs) and names 14000 to
// 20000 kHz; a taken frequency goes out as one custom calibration report that
// the programmer accepts (frequency, count bounds, trim start); anything else
// is refused with the message and sends nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/calibration.h"
#include "fuzz/fuzz_support.h"
#include "session/session.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

class MessageLog : public StreamInteraction {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

// The frequency a text names, read independently of the parser.
std::optional<int> Expected(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 14000 || value > 20000) return std::nullopt;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<int> expected = Expected(text);
    const std::optional<uint16_t> parsed = ParseFrequency(text);
    if (parsed.has_value() != expected.has_value() || (parsed && *parsed != *expected))
        Fail("the frequency is read from one to five digits between blanks",
             parsed ? std::to_string(*parsed) : "refused");

    sim::SimOptions options;
    options.latencyUs = 0;
    sim::SimProgrammer device(options);
    InProcessSeam seam(&device);
    MessageLog interaction;
    InstantClock clock;
    MainSession session(seam, interaction, clock);
    Check(session.Link().FindProgrammer() == ProgrammerLink::kFound,
          "the in-process programmer is found");
    CalibrationSession dialog(interaction);
    dialog.SendCustom = [&session](uint16_t f) { session.SendCustomCalibration(f); };
    dialog.form.Edit1.text = text;
    dialog.Button2Click();

    Check(dialog.form.Button2.enabled, "确定 is enabled again");
    if (!expected) {
        Check(seam.written.empty(), "a refused frequency sends nothing");
        Check(interaction.messages == std::vector<std::string>{kFrequencyError},
              "a refused frequency is named as an input error");
        return 0;
    }
    Check(interaction.messages.empty(), "a frequency taken shows no message");
    Check(seam.written.size() == 1, "a frequency taken sends one report");
    if (!device.ProtocolErrors().empty())
        Fail("the programmer accepts the calibration report", device.ProtocolErrors()[0]);
    const auto recorded = device.RecordedOf(CMD_OSC_CALIBRATE);
    Check(recorded.size() == 1 && recorded[0].argument == kCalibrateCustom,
          "the programmer records one custom calibration");
    const Report& r = recorded[0].report;
    Check((r[9] | r[10] << 8) == *expected, "the report carries the frequency");
    return 0;
}
