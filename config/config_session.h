// The configuration window's model, without Qt: it owns WriterSettings and
// every value the window shows (ConfigWindowModel), and runs the window's
// rules — model choice, option boxes, voltage, steps, user code, the file view,
// FormCreate and FormClose. The Qt window TForm2 and the command-line tool
// drive the same object.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/interaction.h"
#include "common/toggle.h"
#include "config/file_view.h"
#include "config/writer_settings.h"
#include "image/merge.h"
#include "image/production_export.h"

namespace qrv {

inline constexpr const char* kConfigCaption = "MCU 配置选项";
inline constexpr const char* kBlankCheckWarning = "选择空校验之后，编程过的芯片将无法编程!";
inline constexpr const char* kHexCodeNotice =
    "该应用只有在固件版本2.10以上,PC软件版本2.4以上才支持!";
inline constexpr const char* kCannotReadFile = "无法读取文件!";
inline constexpr const char* kOpenFileFirst = "请打开文件!";
inline constexpr const char* kSaveFileError = "保存文件错误!";
inline constexpr const char* kMergeFileFirst = "请先合并文件!";
inline constexpr const char* kExportCaption = "导出量产文件";
inline constexpr const char* kExportMergedCaption = "输出合并文件";
// Save dialog filters: each pattern is one entry.
inline constexpr const char* kProductionFilter = "*.hex||*.*";
inline constexpr const char* kMergedFilter = "*.hex||*.bin||*.*";
inline constexpr int kMergedFilterBin = 1;  // the "*.bin" entry
inline constexpr int kMergedFilterAll = 2;  // the "*.*" entry
inline constexpr uint32_t kSilver = 0xC0C0C0;
inline constexpr uint32_t kLightGrey = 0xF0F0F0;

struct Button : Widget {
    std::string caption;
};

// How an export ended.
enum class ExportResult {
    Written,    // the file is in place
    Cancelled,  // the save dialog was cancelled: nothing written
    Refused,    // a message said why nothing was written
    Failed,     // the file could not be written: "保存文件错误!" said so
};

// How merging one file ended.
enum class MergeResult {
    Merged,
    NoData,     // the file writes no byte: nothing merged, a message said so
    Refused,    // unreadable, or data the merge cannot hold: a message said why
    Cancelled,  // the open dialog was cancelled
};

enum class MergeFormat { Hex, Bin };

// What the configuration window shows: one member per control, named as the control.
struct ConfigWindowModel {
    std::string caption = kConfigCaption;
    uint32_t color = 0;  // window background, 0x00BBGGRR; 0 until FormCreate
    Panel Panel1, Panel2, Panel3, Panel4;
    ComboBox ComboBox1, ComboBox2, ComboBox3, ComboBox4;
    TextBox Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit11;
    Toggle CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8,
        CheckBox10, CheckBox11, CheckBox12, CheckBox13, CheckBox14, CheckBox15, CheckBox16,
        CheckBox17, CheckBox19, CheckBox20;
    Button BitBtn1, Button2, Button3, Button4, Button5;
    LineList Memo1, Memo2;
    FileViewGrid StringGrid1;
};

class ConfigSession {
  public:
    explicit ConfigSession(Interaction& interaction);
    ConfigSession(const ConfigSession&) = delete;
    ConfigSession& operator=(const ConfigSession&) = delete;

    ConfigWindowModel form;
    WriterSettings settings;
    // Draws the production-file marker and the marker record's number;
    // clock-seeded unless a test sets it.
    std::function<uint32_t()> Random;
    // Today's date for the proposed file names; the local clock unless a test sets it.
    std::function<CalendarDate()> Today;
    // The option word last applied from an opened file (record at 0x0100).
    std::optional<uint32_t> fileOptionWord;
    // The merged image of the current merge series.
    MergeImage merge;

    // Once, when the window is created.
    void FormCreate();
    // Each time the window is closed.
    void FormClose();

    // The user picks an item of a list: the selection is set, then its rule runs.
    void ComboBox1Click(int index);  // hard-lock size
    void ComboBox2Click(int index);  // data-flash size
    void ComboBox3Click(int index);  // supply voltage
    void ComboBox4Click(int index);  // device model
    // The user edits the user info code.
    void Edit1Change(const std::string& text);

    // Sets the option controls from a chip option word (record at 0x0100).
    void ApplyOptionWord(uint32_t word);

    // The open button beside Edit3: asks for a HEX file and opens it.
    void BitBtn1Click();
    // Opens a HEX file into the file view. False (and nothing changed) when the
    // file cannot be read.
    bool OpenSourceFile(const std::string& path, std::string* error);

    // "导出量产文件" (Button2), or "输出合并文件" in merge mode.
    ExportResult Button2Click();
    // "合并文件" (Button5): MergeFile.
    MergeResult Button5Click();

    // Builds the production file from the source file and the settings, then
    // asks where to save it ("QRVMCU" + today's date + ".hex" proposed).
    ExportResult ExportProductionFile();
    // The same, saved to path without asking (the command line).
    ExportResult ExportProductionFileTo(const std::string& path);

    // Asks for a HEX file and lays it over the merged image.
    MergeResult MergeFile();
    // Lays the HEX file at path over the merged image. A file that is refused
    // leaves the merged image as it was.
    MergeResult MergeFileFrom(const std::string& path);
    // Asks for a name and writes the merged image: BIN for the "*.bin" filter
    // entry, HEX for "*.hex"; under "*.*" a name ending in ".bin" gives BIN.
    // The extension is added unless the name already ends in it.
    ExportResult ExportMergedFile();
    // Writes the merged image to path exactly as named.
    ExportResult WriteMergedFile(const std::string& path, MergeFormat format);

    // Click rules of the check boxes; each runs whenever its box changes state.
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void CheckBox7Click();
    void CheckBox8Click();
    void CheckBox10Click();
    void CheckBox11Click();
    void CheckBox12Click();
    void CheckBox13Click();
    void CheckBox14Click();
    void CheckBox15Click();
    void CheckBox16Click();
    void CheckBox17Click();
    void CheckBox19Click();
    void CheckBox20Click();

  private:
    ExportResult ExportProduction(const std::function<std::optional<std::string>()>& choosePath);
    ExportResult Save(const std::string& path, const std::string& content);
    void SetEnd(unsigned end);
    void ApplyRomRow(unsigned end, std::string_view romText);
    void ApplyRomTable(int item);
    void RomReset();
    void ShowOptionBytes();
    void SetPinBitFromBoxes();

    Interaction& interaction_;
};

// End address and ROM text with data flash, for ROM classes 32 and 64 and the
// size items 0..3; nullopt for other classes or items.
struct RomWithDataFlash {
    unsigned end;
    std::string_view romText;
};
std::optional<RomWithDataFlash> RomTableRow(int romClassKiB, int item);

}  // namespace qrv
