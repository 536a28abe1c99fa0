// The rules of the option controls: each keeps the option bytes of
// WriterSettings (optionBits, hardLockSize, dataFlashSize and the PC0.1 flag of
// supplyFlags) in step with its control; ApplyOptionWord goes the other way.
#include <string>

#include "common/hex.h"
#include "config/config_session.h"

namespace qrv {

namespace {

void SetBits(uint8_t& byte, uint8_t mask, bool on) {
    if (on)
        byte |= mask;
    else
        byte &= static_cast<uint8_t>(~mask);
}

}  // namespace

std::optional<RomWithDataFlash> RomTableRow(int romClassKiB, int item) {
    static constexpr RomWithDataFlash k32[] = {
        {0x8FFF, "36K"}, {0x8BFF, "35K"}, {0x87FF, "34K"}, {0x7FFF, "32K"}};
    static constexpr RomWithDataFlash k64[] = {
        {0xFFFF, "64K"}, {0xFBFF, "63K"}, {0xF7FF, "62K"}, {0xEFFF, "60K"}};
    if (item < 0 || item > 3) return std::nullopt;
    if (romClassKiB == 32) return k32[item];
    if (romClassKiB == 64) return k64[item];
    return std::nullopt;
}

void ConfigSession::SetEnd(unsigned end) {
    settings.endHigh = static_cast<uint8_t>(end >> 8);
    settings.endLow = 0xFF;
}

// The data-flash handlers show the end address without the "H".
void ConfigSession::ApplyRomRow(unsigned end, std::string_view romText) {
    SetEnd(end);
    form.Edit5.text = H4(end);
    form.Edit2.text = std::string(romText);
}

void ConfigSession::ApplyRomTable(int item) {
    if (auto row = RomTableRow(settings.romClassKiB, item)) ApplyRomRow(row->end, row->romText);
}

// Checking or unchecking "DataFlash" shows the plain ROM of the model's class.
void ConfigSession::RomReset() {
    if (settings.romClassKiB == 32)
        ApplyRomRow(0x7FFF, "32K");
    else if (settings.romClassKiB == 64)
        ApplyRomRow(0xFFFF, "64K");
}

void ConfigSession::CheckBox1Click() {
    SetBits(settings.optionBits, kReadProtect, form.CheckBox1.Checked());
}

void ConfigSession::CheckBox2Click() {
    SetBits(settings.optionBits, kDebugProtect, form.CheckBox2.Checked());
}

void ConfigSession::CheckBox3Click() {
    const bool on = form.CheckBox3.Checked();
    SetBits(settings.optionBits, kHardLock, on);
    form.ComboBox1.enabled = on;
}

void ConfigSession::CheckBox4Click() {
    if (settings.optionSet == 1) return;
    const bool on = form.CheckBox4.Checked();
    SetBits(settings.optionBits, kDataFlash, on);
    form.ComboBox2.enabled = on;
    RomReset();
}

void ConfigSession::CheckBox11Click() {
    SetBits(settings.optionBits, kWdtDisable, form.CheckBox11.Checked());
}

// Bit 5 is set while either pin box is unticked, so it is worked out from both
// boxes on each click: ticking one box never hides the other box's choice.
// Models of the reduced set have no PC0.1 control; there only CheckBox12 counts.
void ConfigSession::SetPinBitFromBoxes() {
    const bool pc01Io = settings.optionSet == 1 || form.CheckBox17.Checked();
    SetBits(settings.optionBits, kPinNotIo, !form.CheckBox12.Checked() || !pc01Io);
}

void ConfigSession::CheckBox12Click() {
    SetPinBitFromBoxes();
    if (!form.CheckBox12.Checked()) SetBits(settings.supplyFlags, kPc01Flag, false);
}

// The radio pairs: a rule that changes its partner starts the partner's rule,
// which finds the first box already in the state it would set; that ends the chain.
void ConfigSession::CheckBox13Click() {
    if (settings.optionSet == 1) return;
    const bool on = form.CheckBox13.Checked();
    SetBits(settings.optionBits, kSwdOrHsosc, !on);
    form.CheckBox14.SetChecked(!on);
}

void ConfigSession::CheckBox14Click() {
    if (settings.optionSet == 1) return;
    const bool on = form.CheckBox14.Checked();
    SetBits(settings.optionBits, kSwdOrHsosc, on);
    form.CheckBox13.SetChecked(!on);
}

void ConfigSession::CheckBox15Click() {
    if (settings.optionSet == 1) return;
    const bool on = form.CheckBox15.Checked();
    SetBits(settings.optionBits, kSubOsc500k, on);
    form.CheckBox16.SetChecked(!on);
}

void ConfigSession::CheckBox16Click() {
    if (settings.optionSet == 1) return;
    const bool on = form.CheckBox16.Checked();
    SetBits(settings.optionBits, kSubOsc500k, !on);
    form.CheckBox15.SetChecked(!on);
}

void ConfigSession::CheckBox17Click() {
    if (settings.optionSet == 1) return;
    SetPinBitFromBoxes();
    SetBits(settings.supplyFlags, kPc01Flag, !form.CheckBox17.Checked());
}

void ConfigSession::ComboBox1Click(int index) {
    form.ComboBox1.itemIndex = index;
    // One bit for the chosen size; the option-set marker (bit 7) stays.
    const uint8_t level = index >= 0 && index <= 4 ? static_cast<uint8_t>(1u << index) : 0x01;
    settings.hardLockSize =
        static_cast<uint8_t>((settings.hardLockSize & kOptionSetMarker) | level);
}

void ConfigSession::ComboBox2Click(int index) {
    form.ComboBox2.itemIndex = index;
    if (settings.optionSet == 1) return;
    const uint8_t size = index >= 0 && index <= 3 ? static_cast<uint8_t>(index) : 0;
    settings.dataFlashSize = static_cast<uint8_t>((settings.dataFlashSize & 0xF0) | size);
    ApplyRomTable(index);
}

void ConfigSession::ApplyOptionWord(uint32_t word) {
    ConfigWindowModel& f = form;
    uint8_t& bits = settings.optionBits;
    // Each box change runs its rule first; the bit operation after it decides.
    settings.dataFlashSize &= 0xF0;

    const bool wdtOff = ((word >> 24) & 0xFF) == 0x55 && ((word >> 16) & 0xFF) == 0x55;
    f.CheckBox11.SetChecked(wdtOff);
    SetBits(bits, kWdtDisable, wdtOff);

    const int size = static_cast<int>((word >> 8) & 0x3);
    f.ComboBox2.itemIndex = size;  // selecting from code runs no rule
    settings.dataFlashSize = static_cast<uint8_t>((settings.dataFlashSize & 0xF0) | size);
    if (settings.romClassKiB == 32) ApplyRomTable(size);

    const unsigned pins = (word >> 4) & 0xF;
    f.CheckBox12.SetChecked(pins != 0x5);
    f.CheckBox17.SetChecked(pins != 0xA);
    // The bit follows the boxes the model shows: on a model of the reduced set,
    // which has no PC0.1 control, a word whose PC0.1 is not IO leaves the shown
    // pin as IO and the bit clear.
    SetPinBitFromBoxes();

    const bool swdOnPa01 = ((word >> 2) & 0x3) == 0;
    f.CheckBox14.SetChecked(swdOnPa01);
    f.CheckBox13.SetChecked(!swdOnPa01);
    SetBits(bits, kSwdOrHsosc, swdOnPa01);

    const bool sub500k = (word & 0x3) == 2;
    f.CheckBox15.SetChecked(sub500k);
    f.CheckBox16.SetChecked(!sub500k);
    SetBits(bits, kSubOsc500k, sub500k);
}

}  // namespace qrv
