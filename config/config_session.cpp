#include "config/config_session.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <utility>

#include "common/atomic_file.h"
#include "common/hex.h"
#include "config/model_table.h"

namespace qrv {

ConfigSession::ConfigSession(Interaction& interaction) : interaction_(interaction) {
    Random = [engine = std::minstd_rand(static_cast<std::minstd_rand::result_type>(
                  std::chrono::system_clock::now().time_since_epoch().count()))]() mutable {
        return static_cast<uint32_t>(engine());
    };
    Today = LocalDate;

    // The window as it is laid out, before FormCreate.
    ConfigWindowModel& f = form;
    for (const ModelRow& row : ModelTable()) f.ComboBox4.items.emplace_back(row.name);
    f.ComboBox4.text = "QM-001";
    f.ComboBox1.items = {"No Hard lock", "1K", "2K", "4K", "All Hard lock"};
    f.ComboBox1.text = "No Hard lock";
    f.ComboBox1.enabled = false;
    f.ComboBox2.items = {"No Data Flash", "1K", "2K", "4K"};
    f.ComboBox2.text = "No Data Flash";
    f.ComboBox2.enabled = false;
    f.ComboBox3.items = {"5V", "3V"};
    f.ComboBox3.text = "5V";
    f.Edit2.text = "32K";
    f.Edit4.text = "0000H";
    f.Edit5.text = "7FFFH";
    f.Edit7.text = "5V";
    f.Edit1.maxLength = static_cast<int>(kDecimalCodeChars);
    f.Panel1.caption = "用户选项";
    f.Panel2.caption = "文件信息";
    f.Panel3.caption = "编程选项";
    f.Panel4.caption = "自动编程设定";
    f.Button2.caption = kExportCaption;
    f.Button3.caption = "上一页";
    f.Button3.visible = false;
    f.Button4.caption = "下一页";
    f.Button4.visible = false;
    f.Button5.caption = "合并文件";
    f.Memo1.visible = false;
    f.Memo2.visible = false;

    f.CheckBox1.caption = "读保护";
    f.CheckBox2.caption = "DEBUG保护";
    f.CheckBox3.caption = "Hard Lock";
    f.CheckBox4.caption = "DataFlash";
    f.CheckBox5.caption = "空校验";
    f.CheckBox6.caption = "擦除";
    f.CheckBox7.caption = "user option";
    f.CheckBox8.caption = "校验";
    f.CheckBox10.caption = "滚动";
    f.CheckBox11.caption = "禁止WDT";
    f.CheckBox12.caption = "PA0.0用作IO";
    f.CheckBox13.caption = "SWD默认";
    f.CheckBox14.caption = "SWD为PA0.1/2";
    f.CheckBox15.caption = "副晶振500K";
    f.CheckBox16.caption = "副晶振3M";
    f.CheckBox17.caption = "PC0.1用作IO";
    f.CheckBox19.caption = "16进制";
    f.CheckBox20.caption = "合并";

    f.CheckBox1.SetRule([this] { CheckBox1Click(); });
    f.CheckBox2.SetRule([this] { CheckBox2Click(); });
    f.CheckBox3.SetRule([this] { CheckBox3Click(); });
    f.CheckBox4.SetRule([this] { CheckBox4Click(); });
    f.CheckBox5.SetRule([this] { CheckBox5Click(); });
    f.CheckBox6.SetRule([this] { CheckBox6Click(); });
    f.CheckBox7.SetRule([this] { CheckBox7Click(); });
    f.CheckBox8.SetRule([this] { CheckBox8Click(); });
    f.CheckBox10.SetRule([this] { CheckBox10Click(); });
    f.CheckBox11.SetRule([this] { CheckBox11Click(); });
    f.CheckBox12.SetRule([this] { CheckBox12Click(); });
    f.CheckBox13.SetRule([this] { CheckBox13Click(); });
    f.CheckBox14.SetRule([this] { CheckBox14Click(); });
    f.CheckBox15.SetRule([this] { CheckBox15Click(); });
    f.CheckBox16.SetRule([this] { CheckBox16Click(); });
    f.CheckBox17.SetRule([this] { CheckBox17Click(); });
    f.CheckBox19.SetRule([this] { CheckBox19Click(); });
    f.CheckBox20.SetRule([this] { CheckBox20Click(); });
}

void ConfigSession::FormCreate() {
    form.Panel1.color = kSilver;
    form.Panel2.color = kSilver;
    form.Panel3.color = kSilver;
    form.color = kLightGrey;

    settings.startHigh = 0;
    settings.startLow = 0;
    settings.endHigh = 127;
    settings.endLow = 255;
    settings.supplyFlags = 5;
    const std::string_view code = ModelTable()[0].deviceCode;
    code.copy(settings.deviceCode.data(), settings.deviceCode.size());

    settings.userCodeMode = kUserCodeFixed;
    settings.MergeMode = 0;
    settings.MergeCount = 0;

    form.Button5.enabled = false;
    form.Edit11.enabled = false;
}

void ConfigSession::FormClose() {
    settings.autoSteps = 0;
    settings.optionBits = 0;
    settings.userCodeMode = kUserCodeFixed;
    settings.dataFlashSize = 0;
    // The option-set marker (bit 7) stays with the chosen model, which closing keeps.
    settings.hardLockSize = settings.optionSet == 1 ? kOptionSetMarker : 0;

    // Each change runs the box's rule, so the pin bits and the radio pairs settle.
    for (Toggle* box : {&form.CheckBox5, &form.CheckBox6, &form.CheckBox7, &form.CheckBox8,
                        &form.CheckBox10, &form.CheckBox1, &form.CheckBox2, &form.CheckBox3,
                        &form.CheckBox4, &form.CheckBox11, &form.CheckBox13, &form.CheckBox16,
                        &form.CheckBox12, &form.CheckBox14, &form.CheckBox15, &form.CheckBox17})
        box->SetChecked(false);
    // A pin box that was unticked already ran no rule, yet the bit was cleared
    // above: the pin bit follows the unticked boxes all the same.
    SetPinBitFromBoxes();
    // On a model of the reduced set the DataFlash rule returns at once, so the
    // size list is disabled here: a model that shows DataFlash again shows the
    // list as the unticked box leaves it.
    form.ComboBox2.enabled = form.CheckBox4.Checked();

    // The sizes were reset above: both lists show their "no size" item, so the
    // next export writes what they show. Selecting from code runs no rule.
    for (ComboBox* sizes : {&form.ComboBox1, &form.ComboBox2})
        sizes->itemIndex = sizes->items.empty() ? -1 : 0;

    form.Edit3.text.clear();
    form.StringGrid1.ClearDataCells();
}

void ConfigSession::ComboBox3Click(int index) {
    form.ComboBox3.itemIndex = index;
    // The whole byte is written: the PC0.1 flag (bit 5) goes with it.
    if (index == 0) {
        settings.supplyFlags = 5;
        form.Edit7.text = "5V";
    } else if (index == 1) {
        settings.supplyFlags = 3;
        form.Edit7.text = "3V";
    }
}

void ConfigSession::ComboBox4Click(int index) {
    ConfigWindowModel& f = form;
    f.ComboBox4.itemIndex = index >= 0 && index < kModelCount ? index : -1;

    f.CheckBox4.visible = true;
    f.ComboBox2.visible = true;
    f.CheckBox14.visible = true;
    f.CheckBox15.visible = true;
    f.CheckBox16.visible = true;
    f.CheckBox17.visible = true;
    f.CheckBox13.visible = true;
    f.CheckBox12.caption = "PA0.0用作IO";
    settings.optionSet = 0;
    const int i = f.ComboBox4.itemIndex;
    f.ComboBox1.Clear();
    // Protections, hard lock, WDT and the pin bit start over with each model;
    // data flash, the SWD/HSOSC bit and the sub-oscillator bit stay.
    settings.optionBits &= 0xC8;

    if (i >= 0) {
        const ModelRow& row = ModelTable()[static_cast<std::size_t>(i)];
        f.Edit2.text = std::string(row.romText);
        f.Edit5.text = std::string(row.endText);
        settings.startHigh = 0;
        settings.startLow = 0;
        settings.endHigh = row.endHigh;
        settings.endLow = 255;
        row.deviceCode.copy(settings.deviceCode.data(), settings.deviceCode.size());
        settings.romClassKiB = row.romClassKiB;

        const bool reduced = row.optionSet == 1;
        if (row.profile == Profile::S) {
            f.CheckBox17.visible = true;
            f.CheckBox14.caption = "SWD为PA0.1/2";
            f.CheckBox13.caption = "SWD默认";
        } else if (row.profile == Profile::H) {
            f.CheckBox17.visible = false;
            f.CheckBox14.caption = "HSOSC=48M";
            f.CheckBox13.caption = "HSOSC=96M";
        } else {
            f.CheckBox4.visible = false;
            f.ComboBox2.visible = false;
            // optionSet is still 0 here, so the pair rule runs as for a user click.
            f.CheckBox14.SetChecked(false);
            f.CheckBox14.visible = false;
            f.CheckBox15.visible = false;
            f.CheckBox16.visible = false;
            f.CheckBox17.visible = false;
            f.CheckBox13.visible = false;
            f.CheckBox12.caption = std::string(PinCaption(row.profile));
        }
        for (std::string_view item : row.hardLockList) f.ComboBox1.items.emplace_back(item);
        if (reduced) settings.optionSet = 1;
    }

    if (settings.optionSet == 1)
        settings.hardLockSize |= kOptionSetMarker;
    else
        settings.hardLockSize &= static_cast<uint8_t>(~kOptionSetMarker);

    ShowOptionBytes();
}

// After a model choice the option boxes show what the option bytes hold: the
// boxes of the bits just cleared are unticked (and the pins shown as IO), and
// a radio pair with neither box ticked shows its default.
void ConfigSession::ShowOptionBytes() {
    const uint8_t bits = settings.optionBits;
    form.CheckBox1.SetChecked((bits & kReadProtect) != 0);
    form.CheckBox2.SetChecked((bits & kDebugProtect) != 0);
    form.CheckBox3.SetChecked((bits & kHardLock) != 0);
    form.CheckBox11.SetChecked((bits & kWdtDisable) != 0);
    if (!(bits & kPinNotIo)) {
        form.CheckBox12.SetChecked(true);
        // Models of the reduced set have no PC0.1 control: its hidden box keeps its mark.
        if (settings.optionSet == 0) form.CheckBox17.SetChecked(true);
    }
    if (settings.optionSet == 0) {
        if (bits & kSwdOrHsosc)
            form.CheckBox14.SetChecked(true);
        else
            form.CheckBox13.SetChecked(true);
        if (bits & kSubOsc500k)
            form.CheckBox15.SetChecked(true);
        else
            form.CheckBox16.SetChecked(true);
    }
}

void ConfigSession::Edit1Change(const std::string& text) {
    form.Edit1.text = text;
}

namespace {
void SetStep(uint8_t& steps, uint8_t mask, bool on) {
    if (on)
        steps |= mask;
    else
        steps &= static_cast<uint8_t>(~mask);
}
}  // namespace

void ConfigSession::CheckBox5Click() {
    SetStep(settings.autoSteps, kAutoStepBlank, form.CheckBox5.Checked());
    if (form.CheckBox5.Checked()) interaction_.ShowMessage(kBlankCheckWarning);
}

void ConfigSession::CheckBox6Click() {
    SetStep(settings.autoSteps, kAutoStepErase, form.CheckBox6.Checked());
}

void ConfigSession::CheckBox7Click() {
    SetStep(settings.autoSteps, kAutoStepOption, form.CheckBox7.Checked());
}

void ConfigSession::CheckBox8Click() {
    SetStep(settings.autoSteps, kAutoStepVerify, form.CheckBox8.Checked());
}

void ConfigSession::CheckBox10Click() {
    settings.userCodeMode = form.CheckBox10.Checked() ? kUserCodeRolling : kUserCodeFixed;
}

void ConfigSession::CheckBox19Click() {
    // The box's state is read by the production-file writer. The code box
    // takes at most the characters that the mode reads.
    const bool hex = form.CheckBox19.Checked();
    form.Edit1.maxLength = static_cast<int>(hex ? kHexCodeChars : kDecimalCodeChars);
    if (hex) interaction_.ShowMessage(kHexCodeNotice);
}

void ConfigSession::BitBtn1Click() {
    const auto path = interaction_.OpenFile("");
    if (!path) return;
    std::string error;
    if (!OpenSourceFile(*path, &error))
        interaction_.ShowMessage(std::string(kCannotReadFile) + "\n" + error);
}

bool ConfigSession::OpenSourceFile(const std::string& path, std::string* error) {
    std::string content;
    if (!ReadWholeFile(path, &content, error)) return false;
    const LinedText lines(std::move(content));

    form.Memo1.lines.clear();
    form.Memo2.lines.clear();
    settings.sourceFileName = path;
    form.Edit3.text = path;
    settings.sourceLineCount = static_cast<int32_t>(std::min<std::size_t>(lines.size(), INT32_MAX));

    // The production-file marker, 1..254 (never 0xFF).
    const uint8_t marker = static_cast<uint8_t>(Random() % 255);
    settings.fileMarker = marker == 0 ? 1 : marker;

    settings.fileLoaded = 1;
    settings.gridRow = 1;
    settings.nextAddress = 0;
    settings.fileChecksum = 0;

    FileViewScan scan = ScanFileView(lines);
    // The option record sets the option controls before the grid is shown.
    fileOptionWord.reset();
    for (uint32_t word : scan.optionWords) {
        ApplyOptionWord(word);
        fileOptionWord = word;
    }
    settings.gridRow =
        static_cast<int32_t>(std::min<std::size_t>(scan.rows.size(), INT32_MAX - 1)) + 1;
    form.StringGrid1.addressColumnWidth = 36;
    form.StringGrid1.Reset(std::move(scan.rows), settings.sourceLineCount);

    form.Edit5.text = H4(scan.lastAddress) + "H";
    settings.endHigh = static_cast<uint8_t>(scan.lastAddress >> 8);
    settings.endLow = static_cast<uint8_t>(scan.lastAddress & 0xFF);

    settings.nextAddress = scan.nextAddress;
    settings.fileChecksum = scan.fileChecksum;
    form.Edit6.text = H4(settings.fileChecksum) + "H";

    // The file's lines are read again at each export: the hidden list keeps
    // no copy of them.
    return true;
}

}  // namespace qrv
