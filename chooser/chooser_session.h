// The user option chooser's model, without Qt: the model list in the
// chooser's own order, the option controls and ChooserOptionWord, with the
// window's rules (model choice, click rules, preset from a file, FormCreate,
// FormClose). The Qt window TForm3 and the command-line tool drive the same
// object.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/toggle.h"
#include "config/config_session.h"
#include "config/model_table.h"

namespace qrv {

inline constexpr const char* kChooserCaption = "User Option选择";
inline constexpr const char* kChooserHeading = "文件不含配置信息，请选择型号和User Option";

// Bits of ChooserOptionWord.
inline constexpr uint32_t kChooserReadProtect = 0x1;
inline constexpr uint32_t kChooserDebugProtect = 0x2;
inline constexpr uint32_t kChooserHardLock = 0x4;
inline constexpr uint32_t kChooserDataFlash = 0x8;
inline constexpr uint32_t kChooserHardLockSize = 0xF0;  // one-hot: none, 1K, 2K, 4K
inline constexpr uint32_t kChooserDataFlashSize = 0x300;
inline constexpr uint32_t kChooserShortList = 0x400;  // the model has the short hard-lock list
inline constexpr uint32_t kChooserWdtOff = 0x1000;    // also the hard-lock size "All Hard Lock"
inline constexpr uint32_t kChooserPinFirst = 0x2000;
inline constexpr uint32_t kChooserSwdAlternative = 0x4000;
inline constexpr uint32_t kChooserSubOsc500k = 0x8000;
inline constexpr uint32_t kChooserVdd5V = 0x10000;
inline constexpr uint32_t kChooserPinSecond = 0x20000;

// One row of the chooser's model list ComboBox3.
struct ChooserRow {
    std::string name;  // "QM-001" .. "QM-090"
    Profile profile;
};
// The 83 rows in the chooser's order (not the configuration window's).
std::span<const ChooserRow> ChooserModels();

// What the chooser shows: one member per control, named as the control.
struct ChooserWindowModel {
    std::string caption = kChooserCaption;
    ComboBox ComboBox3;  // the device model, outside the option group
    Widget GroupBox1;    // the option group "User option"
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8,
        CheckBox9, CheckBox10, CheckBox11, CheckBox12;
    ComboBox ComboBox1;  // hard-lock size
    ComboBox ComboBox2;  // data-flash size
};

class ChooserSession {
  public:
    ChooserSession();
    ChooserSession(const ChooserSession&) = delete;
    ChooserSession& operator=(const ChooserSession&) = delete;

    ChooserWindowModel form;
    uint32_t ChooserOptionWord = 0;
    // Sends a short command to the programmer (the main window's SendCommand).
    std::function<void(uint8_t code, uint32_t argument)> SendCommand;

    // Once, when the window is created.
    void FormCreate();
    // Each time the window is closed: CMD_SET_OPTION with the word.
    void FormClose();

    // A user's click on one of the check boxes of the form.
    void Click(Toggle& box);
    // The user picks an item of a list: the selection is set, then its rule runs.
    void ComboBox1Click(int index);  // hard-lock size
    void ComboBox2Click(int index);  // data-flash size
    void ComboBox3Click(int index);  // device model

    // The option bytes b0..b3 of an imported image (record at 0x0100, file order).
    void PresetFromFile(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    // A file import starts: the options wait for a model choice.
    void DisableOptionGroup() { form.GroupBox1.enabled = false; }

  private:
    void SetBits(uint32_t mask, bool on);
    void InstallRules();
    void ShowWord();

    // The word each item of the hard-lock list stands for, in list order.
    std::vector<uint32_t> hardLockValues_;
};

// What a user chooses in a fresh chooser: the model first, then the options.
// The sizes are "none", "1K", "2K", "4K" and, for the hard lock, "all".
struct ChooserChoices {
    std::string model;  // a name of the model list, "QM-084"
    bool readProtect = false, debugProtect = false, wdtOff = false, vdd5V = false;
    bool swdAlternative = false;  // "SWD为PA0.1/2" (or its HSOSC caption) instead of the default
    bool subOsc500k = false;      // "副晶振500K" instead of "副晶振3M"
    bool pinNotIo = false;        // "PA0.0用作IO" (the model's pin) unticked
    bool pcNotIo = false;         // "PC0.1用作IO" unticked
    std::optional<std::string> hardLockSize;   // ticks "HardLock" and picks the size
    std::optional<std::string> dataFlashSize;  // ticks "DataFlash" and picks the size
};

// The word the chooser sends when it is closed after these choices, made as
// clicks in its rows from top to bottom. nullopt, with the reason, for a
// choice the model does not offer.
std::optional<uint32_t> ChooseOptionWord(const ChooserChoices& choices, std::string* error);

}  // namespace qrv
