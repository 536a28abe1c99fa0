#include "chooser/chooser_session.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "protocol/protocol.h"

namespace qrv {

namespace {

// The hard-lock lists: the long one, and the short one of the models that set
// kChooserShortList. "All Hard Lock" is bit 12, not a bit of the size field.
constexpr std::array<const char*, 5> kLongItems = {"No Hard Lock", "1K", "2K", "4K",
                                                   "All Hard Lock"};
constexpr std::array<uint32_t, 5> kLongValues = {0x10, 0x20, 0x40, 0x80, kChooserWdtOff};
constexpr std::array<const char*, 3> kShortItems = {"No Hard Lock", "4K", "All Hard Lock"};
constexpr std::array<uint32_t, 3> kShortValues = {0x10, 0x80, kChooserWdtOff};

std::vector<ChooserRow> BuildModels() {
    std::vector<ChooserRow> rows;
    rows.reserve(kModelCount);
    for (int row = 0; row < kModelCount; ++row) {
        // Rows 15-20 and 22 hold models of their own; the others follow the
        // configuration window's numbering.
        int number = row + 1;
        if (row >= 15 && row <= 20) number = 84 + (row - 15);
        if (row == 21) number = 22;
        if (row == 22) number = 90;
        Profile profile = Profile::R2;
        if (row <= 8)
            profile = Profile::S;
        else if (row <= 14 || row == 22)
            profile = Profile::H;
        else if (row <= 21 || (row >= 55 && row <= 72))
            profile = Profile::R5;
        else if (row >= 73)
            profile = Profile::RB;
        std::string name = std::to_string(number);
        name = "QM-" + std::string(3 - name.size(), '0') + name;
        rows.push_back({std::move(name), profile});
    }
    return rows;
}

}  // namespace

std::span<const ChooserRow> ChooserModels() {
    static const std::vector<ChooserRow> rows = BuildModels();
    return rows;
}

ChooserSession::ChooserSession() {
    // The window as it is laid out, before FormCreate.
    ChooserWindowModel& f = form;
    for (const ChooserRow& row : ChooserModels()) f.ComboBox3.items.push_back(row.name);
    f.ComboBox3.text = "QM-001";
    f.ComboBox1.items.assign(kLongItems.begin(), kLongItems.end());
    hardLockValues_.assign(kLongValues.begin(), kLongValues.end());
    f.ComboBox1.text = "No Hard Lock";
    f.ComboBox1.enabled = false;
    f.ComboBox2.items = {"No Data Flash", "1K", "2K", "4K"};
    f.ComboBox2.text = "4K";
    f.ComboBox2.enabled = false;

    f.CheckBox1.caption = "读保护";
    f.CheckBox2.caption = "Debug保护";
    f.CheckBox3.caption = "HardLock";
    f.CheckBox4.caption = "DataFlash";
    f.CheckBox5.caption = "禁止WDT";
    f.CheckBox6.caption = "PA0.0用作IO";
    f.CheckBox7.caption = "SWD默认";
    f.CheckBox8.caption = "SWD为PA0.1/2";
    f.CheckBox9.caption = "副晶振500K";
    f.CheckBox10.caption = "副晶振3M";
    f.CheckBox11.caption = "VDD=5V";
    f.CheckBox12.caption = "PC0.1用作IO";
    for (Toggle* box : {&f.CheckBox4, &f.CheckBox6, &f.CheckBox7, &f.CheckBox10}) box->Preset(true);
    InstallRules();
}

void ChooserSession::SetBits(uint32_t mask, bool on) {
    if (on)
        ChooserOptionWord |= mask;
    else
        ChooserOptionWord &= ~mask;
}

void ChooserSession::InstallRules() {
    ChooserWindowModel& f = form;
    f.CheckBox1.SetRule([this] { SetBits(kChooserReadProtect, form.CheckBox1.Checked()); });
    f.CheckBox2.SetRule([this] { SetBits(kChooserDebugProtect, form.CheckBox2.Checked()); });
    f.CheckBox3.SetRule([this] {
        SetBits(kChooserHardLock, form.CheckBox3.Checked());
        form.ComboBox1.enabled = form.CheckBox3.Checked();
    });
    // The size list shows its own field afterwards (ShowWord): ticking keeps
    // the size, unticking clears it. Bit 12 is not this box's.
    f.CheckBox4.SetRule([this] {
        const bool on = form.CheckBox4.Checked();
        SetBits(kChooserDataFlash, on);
        if (!on) SetBits(kChooserDataFlashSize, false);
        form.ComboBox2.enabled = on;
    });
    f.CheckBox5.SetRule([this] { SetBits(kChooserWdtOff, form.CheckBox5.Checked()); });
    f.CheckBox6.SetRule([this] {
        SetBits(kChooserPinFirst, !form.CheckBox6.Checked());
        SetBits(kChooserPinSecond, false);
    });
    f.CheckBox12.SetRule(
        [this] { SetBits(kChooserPinFirst | kChooserPinSecond, !form.CheckBox12.Checked()); });
    // The two pairs: each box forces its partner to the opposite state.
    f.CheckBox7.SetRule([this] {
        const bool on = form.CheckBox7.Checked();
        SetBits(kChooserSwdAlternative, !on);
        form.CheckBox8.SetChecked(!on);
    });
    f.CheckBox8.SetRule([this] {
        const bool on = form.CheckBox8.Checked();
        SetBits(kChooserSwdAlternative, on);
        form.CheckBox7.SetChecked(!on);
    });
    f.CheckBox9.SetRule([this] {
        const bool on = form.CheckBox9.Checked();
        SetBits(kChooserSubOsc500k, on);
        form.CheckBox10.SetChecked(!on);
    });
    f.CheckBox10.SetRule([this] {
        const bool on = form.CheckBox10.Checked();
        SetBits(kChooserSubOsc500k, !on);
        form.CheckBox9.SetChecked(!on);
    });
    f.CheckBox11.SetRule([this] { SetBits(kChooserVdd5V, form.CheckBox11.Checked()); });
}

void ChooserSession::FormCreate() {
    form.ComboBox1.enabled = false;
    form.ComboBox2.enabled = false;
    form.CheckBox7.SetChecked(true);
    form.CheckBox10.SetChecked(true);
    form.CheckBox6.SetChecked(true);
    ShowWord();
}

void ChooserSession::FormClose() {
    if (SendCommand) SendCommand(CMD_SET_OPTION, ChooserOptionWord);
}

void ChooserSession::Click(Toggle& box) {
    box.Click();
    ShowWord();
}

void ChooserSession::ComboBox1Click(int index) {
    form.ComboBox1.itemIndex = index;
    SetBits(kChooserHardLockSize | kChooserWdtOff, false);
    // The size follows the model's list as bit 10 names it.
    const bool shortList = (ChooserOptionWord & kChooserShortList) != 0;
    uint32_t value = 0x10;
    if (shortList && index >= 0 && index < static_cast<int>(kShortValues.size()))
        value = kShortValues[static_cast<std::size_t>(index)];
    if (!shortList && index >= 0 && index < static_cast<int>(kLongValues.size()))
        value = kLongValues[static_cast<std::size_t>(index)];
    ChooserOptionWord |= value;
    ShowWord();
}

void ChooserSession::ComboBox2Click(int index) {
    form.ComboBox2.itemIndex = index;
    SetBits(0xF00, false);
    if (index >= 1 && index <= 3) ChooserOptionWord |= static_cast<uint32_t>(index) << 8;
    ShowWord();
}

void ChooserSession::ComboBox3Click(int index) {
    if (index < 0 || index >= kModelCount) return;
    ChooserWindowModel& f = form;
    f.ComboBox3.itemIndex = index;
    f.GroupBox1.enabled = true;
    f.ComboBox1.Clear();

    f.ComboBox2.visible = true;
    for (Toggle* box :
         {&f.CheckBox4, &f.CheckBox12, &f.CheckBox7, &f.CheckBox8, &f.CheckBox9, &f.CheckBox10})
        box->visible = true;
    f.CheckBox6.caption = "PA0.0用作IO";
    SetBits(kChooserShortList, false);

    const Profile profile = ChooserModels()[static_cast<std::size_t>(index)].profile;
    if (profile == Profile::S) {
        f.CheckBox12.visible = true;
        f.CheckBox8.caption = "SWD为PA0.1/2";
        f.CheckBox7.caption = "SWD默认";
    } else if (profile == Profile::H) {
        // Only captions: the boxes keep their bit-14 rules.
        f.CheckBox12.visible = false;
        f.CheckBox8.caption = "HSOSC=48M";
        f.CheckBox7.caption = "HSOSC=96M";
    } else {
        SetBits(kChooserShortList, true);
        f.CheckBox4.visible = false;
        f.ComboBox2.visible = false;
        f.CheckBox12.visible = false;
        SetBits(kChooserPinSecond, false);
        f.CheckBox6.caption = std::string(PinCaption(profile));
        f.CheckBox8.visible = false;
        f.CheckBox7.visible = false;
        SetBits(kChooserSwdAlternative, false);
        f.CheckBox9.visible = false;
        f.CheckBox10.visible = false;
        SetBits(kChooserSubOsc500k, false);
    }

    // The hard-lock bits keep their values; the list shows them (ShowWord).
    if (ChooserOptionWord & kChooserShortList) {
        f.ComboBox1.items.assign(kShortItems.begin(), kShortItems.end());
        hardLockValues_.assign(kShortValues.begin(), kShortValues.end());
    } else {
        f.ComboBox1.items.assign(kLongItems.begin(), kLongItems.end());
        hardLockValues_.assign(kLongValues.begin(), kLongValues.end());
    }
    ShowWord();
}

void ChooserSession::PresetFromFile(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    ChooserWindowModel& f = form;
    ChooserOptionWord = 0;

    const bool wdtOff = b3 == 0x55 && b2 == 0x55;
    f.CheckBox5.SetChecked(wdtOff);
    SetBits(kChooserWdtOff, wdtOff);

    const int dataFlash = b1 & 3;
    f.ComboBox2.itemIndex = dataFlash;
    if (dataFlash != 0) f.ComboBox2.enabled = true;
    SetBits(kChooserDataFlashSize, false);
    ChooserOptionWord |= static_cast<uint32_t>(dataFlash) << 8;

    // Ticking or unticking a box runs its rule; the bits are set after them.
    const int pins = b0 & 0xF0;
    f.CheckBox6.SetChecked(pins != 0x50);
    f.CheckBox12.SetChecked(pins != 0xA0);
    SetBits(kChooserPinFirst, pins == 0x50 || pins == 0xA0);
    SetBits(kChooserPinSecond, pins == 0xA0);

    const bool swdAlternative = (b0 & 0x0C) == 0;
    f.CheckBox8.SetChecked(swdAlternative);
    f.CheckBox7.SetChecked(!swdAlternative);
    SetBits(kChooserSwdAlternative, swdAlternative);

    const bool subOsc500k = (b0 & 3) == 2;
    f.CheckBox9.SetChecked(subOsc500k);
    f.CheckBox10.SetChecked(!subOsc500k);
    SetBits(kChooserSubOsc500k, subOsc500k);
    ShowWord();
}

// Every option control shows the bits it stands for in the word that closing
// sends. Bit 12 is both "禁止WDT" and the hard-lock size "All Hard Lock"; the
// pin boxes share bits 13 and 17 as the preset reads them. The states are
// mirrored without running the click rules, so the word stays as the rules
// made it.
void ChooserSession::ShowWord() {
    ChooserWindowModel& f = form;
    const uint32_t w = ChooserOptionWord;
    auto has = [w](uint32_t mask) { return (w & mask) != 0; };
    f.CheckBox1.Preset(has(kChooserReadProtect));
    f.CheckBox2.Preset(has(kChooserDebugProtect));
    f.CheckBox3.Preset(has(kChooserHardLock));
    f.CheckBox4.Preset(has(kChooserDataFlash));
    f.CheckBox5.Preset(has(kChooserWdtOff));
    f.CheckBox6.Preset(!has(kChooserPinFirst) || has(kChooserPinSecond));
    f.CheckBox12.Preset(!has(kChooserPinSecond));
    f.CheckBox7.Preset(!has(kChooserSwdAlternative));
    f.CheckBox8.Preset(has(kChooserSwdAlternative));
    f.CheckBox9.Preset(has(kChooserSubOsc500k));
    f.CheckBox10.Preset(!has(kChooserSubOsc500k));
    f.CheckBox11.Preset(has(kChooserVdd5V));

    // A size bit names its item; without one, bit 12 alone is "All Hard Lock".
    const uint32_t size = w & kChooserHardLockSize;
    const uint32_t hardLock = size != 0 ? size : w & kChooserWdtOff;
    const auto item = std::find(hardLockValues_.begin(), hardLockValues_.end(), hardLock);
    f.ComboBox1.itemIndex = hardLock != 0 && item != hardLockValues_.end()
                                ? static_cast<int>(item - hardLockValues_.begin())
                                : -1;
    f.ComboBox1.text.clear();
    f.ComboBox2.itemIndex = static_cast<int>((w & kChooserDataFlashSize) >> 8);
}

namespace {

// The item of a size list that a short size name stands for, or -1.
int SizeItem(const ComboBox& list, const std::string& size) {
    std::string item = size;
    if (size == "none") item = list.items.size() == 4 ? "No Data Flash" : "No Hard Lock";
    if (size == "all") item = "All Hard Lock";
    const auto at = std::find(list.items.begin(), list.items.end(), item);
    return at == list.items.end() ? -1 : static_cast<int>(at - list.items.begin());
}

}  // namespace

std::optional<uint32_t> ChooseOptionWord(const ChooserChoices& choices, std::string* error) {
    auto refuse = [error](const std::string& why) -> std::optional<uint32_t> {
        if (error) *error = why;
        return std::nullopt;
    };
    const auto models = ChooserModels();
    const auto model = std::find_if(models.begin(), models.end(), [&](const ChooserRow& row) {
        return row.name == choices.model;
    });
    if (model == models.end()) return refuse("unknown model '" + choices.model + "'");
    if (choices.pinNotIo && choices.pcNotIo)
        return refuse("only one of the two pins can be taken from IO");

    ChooserSession s;
    s.FormCreate();
    s.ComboBox3Click(static_cast<int>(model - models.begin()));
    ChooserWindowModel& f = s.form;
    const std::string offer = " is not offered for " + choices.model;
    // A box set as a click sets it; the model may hide it.
    auto set = [&](Toggle& box, bool ticked) {
        if (box.Checked() != ticked && box.visible) s.Click(box);
        return box.Checked() == ticked;
    };
    auto size = [&](Toggle& box, ComboBox& list, const std::optional<std::string>& name,
                    void (ChooserSession::*rule)(int)) {
        if (!name) return true;
        const int item = SizeItem(list, *name);
        if (item < 0 || !set(box, true)) return false;
        (s.*rule)(item);
        return true;
    };
    if (!size(f.CheckBox3, f.ComboBox1, choices.hardLockSize, &ChooserSession::ComboBox1Click))
        return refuse("hard-lock size '" + *choices.hardLockSize + "'" + offer);
    if (!size(f.CheckBox4, f.ComboBox2, choices.dataFlashSize, &ChooserSession::ComboBox2Click))
        return refuse("data-flash size '" + *choices.dataFlashSize + "'" + offer);
    // Only what was asked for is clicked: an unasked box stays as the chooser
    // shows it (a WDT box that "All Hard Lock" ticked stays ticked).
    const std::tuple<bool, Toggle*, bool, const char*> boxes[] = {
        {choices.readProtect, &f.CheckBox1, true, "read protection"},
        {choices.debugProtect, &f.CheckBox2, true, "debug protection"},
        {choices.vdd5V, &f.CheckBox11, true, "5 V"},
        {choices.swdAlternative, &f.CheckBox8, true, "the SWD (HSOSC) choice"},
        {choices.subOsc500k, &f.CheckBox9, true, "the 500K sub-oscillator"},
        {choices.wdtOff, &f.CheckBox5, true, "disabling the WDT"},
        {choices.pinNotIo, &f.CheckBox6, false, "the IO pin choice"},
        {choices.pcNotIo, &f.CheckBox12, false, "the PC0.1 choice"},
    };
    for (const auto& [asked, box, ticked, what] : boxes)
        if (asked && !set(*box, ticked)) return refuse(what + offer);
    return s.ChooserOptionWord;
}

}  // namespace qrv
