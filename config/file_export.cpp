// The configuration window's file outputs: the production file ("导出量产文件")
// and merge mode ("合并", "合并文件", "输出合并文件").
#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/atomic_file.h"
#include "config/config_session.h"

namespace qrv {

namespace {

bool EndsWithIgnoringCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    name.remove_prefix(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(name[i]) != lower(suffix[i])) return false;
    }
    return true;
}

// Reads a whole file that is to be a HEX file; false with the reason.
bool ReadHexFile(const std::string& path, std::string* text, std::string* error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = path + ": is a directory";
        return false;
    }
    return ReadWholeFile(path, text, error);
}

}  // namespace

ExportResult ConfigSession::Button2Click() {
    return settings.MergeMode ? ExportMergedFile() : ExportProductionFile();
}

MergeResult ConfigSession::Button5Click() {
    return MergeFile();
}

ExportResult ConfigSession::ExportProductionFile() {
    return ExportProduction([this] {
        return interaction_.SaveFile(kProductionFilter, ProposedFileName(Today()) + ".hex");
    });
}

ExportResult ConfigSession::ExportProductionFileTo(const std::string& path) {
    return ExportProduction([&path] { return std::optional<std::string>(path); });
}

ExportResult ConfigSession::ExportProduction(
    const std::function<std::optional<std::string>()>& choosePath) {
    if (!settings.fileLoaded) {
        interaction_.ShowMessage(kOpenFileFirst);
        return ExportResult::Refused;
    }
    form.Button2.enabled = false;
    const auto build = [&]() -> ExportResult {
        // The source file is read again: the production file carries it as it
        // is now. A file that is gone or empty is said, never saved as nothing.
        form.Memo2.lines.clear();
        std::string text;
        std::string error;
        if (!ReadHexFile(settings.sourceFileName, &text, &error)) {
            interaction_.ShowMessage(std::string(kCannotReadFile) + "\n" + error);
            return ExportResult::Refused;
        }
        const LinedText source(std::move(text));
        if (source.empty()) {
            interaction_.ShowMessage(std::string(kCannotReadFile) + "\n" + settings.sourceFileName +
                                     ": the file is empty");
            return ExportResult::Refused;
        }

        // The option set is marked in bit 7 of supplyFlags at each export.
        settings.supplyFlags = static_cast<uint8_t>((settings.supplyFlags & ~kOptionSetFlag) |
                                                    (settings.optionSet == 1 ? kOptionSetFlag : 0));
        // The user code's mode follows the boxes as they stand now.
        const UserCode code{form.Edit1.text, form.CheckBox19.Checked(), form.CheckBox10.Checked(),
                            settings.optionSet};
        const auto marker = static_cast<uint16_t>(Random() % 0x10000);
        const std::optional<std::vector<std::string>> header =
            ProductionFileLines(marker, code, settings.Block(), {});
        if (!header) {
            interaction_.ShowMessage(kUserCodeError);
            return ExportResult::Refused;
        }

        // The import reads no file larger than its cap: a production file
        // that would exceed it is refused before anything is written (LF line
        // ends in the source become CR LF, and the header records add lines).
        std::size_t size = 0;
        for (const std::string& line : *header) size += line.size() + 2;
        for (std::size_t i = 0; i < source.size(); ++i) size += source[i].size() + 2;
        if (size > kMaxInputFileSize) {
            interaction_.Message(Severity::Warning,
                                 ProductionFileTooLarge(settings.sourceFileName, size));
            return ExportResult::Refused;
        }
        // Memo2 keeps the header records; the file is written straight from the
        // source's one buffer, so that its lines are never held twice.
        form.Memo2.lines = *header;

        const std::optional<std::string> path = choosePath();
        if (!path) return ExportResult::Cancelled;
        std::string content;
        content.reserve(size);
        for (const std::string& line : *header) content.append(line).append("\r\n");
        for (std::size_t i = 0; i < source.size(); ++i) content.append(source[i]).append("\r\n");
        // Saved under the chosen name as it stands.
        return Save(*path, content);
    };
    const ExportResult result = build();
    form.Button2.enabled = true;
    return result;
}

ExportResult ConfigSession::Save(const std::string& path, const std::string& content) {
    std::string error;
    // A read-only file is replaced only when the user says so; else the
    // refusal says why.
    const bool replace = IsReadOnlyFile(path) &&
                         interaction_.Question(std::string(kReplaceReadOnlyQuestion) + "\n" + path);
    if (WriteFileAtomically(path, content, &error, replace)) return ExportResult::Written;
    interaction_.ShowMessage(std::string(kSaveFileError) + "\n" + error);
    return ExportResult::Failed;
}

void ConfigSession::CheckBox20Click() {
    const bool on = form.CheckBox20.Checked();
    settings.MergeMode = on ? 1 : 0;
    form.Button5.enabled = on;
    form.Edit11.enabled = on;
    form.BitBtn1.enabled = !on;
    form.Edit3.enabled = !on;
    form.Button2.caption = on ? kExportMergedCaption : kExportCaption;
    // Either way the next file starts a new merge series, which holds no file yet.
    settings.MergeCount = 0;
    form.Edit11.text.clear();
}

MergeResult ConfigSession::MergeFile() {
    const std::optional<std::string> path = interaction_.OpenFile("");
    if (!path) return MergeResult::Cancelled;
    return MergeFileFrom(*path);
}

MergeResult ConfigSession::MergeFileFrom(const std::string& path) {
    std::string text;
    std::string error;
    if (!ReadHexFile(path, &text, &error)) {
        interaction_.ShowMessage(std::string(kMergeUnreadable) + "\n" + error);
        return MergeResult::Refused;
    }
    // The whole file is read and checked before the merged image changes.
    MergeRefusal refusal{};
    const std::optional<MergeSpan> span = merge.ReadFile(text, &refusal);
    if (!span) {
        interaction_.ShowMessage(std::string(refusal.message) + "\n" + path + ", " +
                                 refusal.detail);
        return MergeResult::Refused;
    }
    if (span->Empty()) {
        interaction_.ShowMessage(std::string(kMergeNoData) + "\n" + path);
        return MergeResult::NoData;
    }
    merge.LayOver(*span, settings.MergeCount == 0);
    // The count only tells the first file of a series from the others: it
    // stops at 255 rather than wrap round to a new series.
    if (settings.MergeCount < 0xFF) ++settings.MergeCount;
    form.Edit11.text = path;
    return MergeResult::Merged;
}

ExportResult ConfigSession::ExportMergedFile() {
    if (settings.MergeCount == 0) {
        interaction_.ShowMessage(kMergeFileFirst);
        return ExportResult::Refused;
    }
    const std::optional<SaveAnswer> answer =
        interaction_.SaveFileAs(kMergedFilter, ProposedFileName(Today()));
    if (!answer) return ExportResult::Cancelled;
    std::string path = answer->path;
    const bool bin =
        answer->filterIndex == kMergedFilterBin ||
        (answer->filterIndex == kMergedFilterAll && EndsWithIgnoringCase(path, ".bin"));
    const char* extension = bin ? ".bin" : ".hex";
    if (!EndsWithIgnoringCase(path, extension)) path += extension;
    return WriteMergedFile(path, bin ? MergeFormat::Bin : MergeFormat::Hex);
}

ExportResult ConfigSession::WriteMergedFile(const std::string& path, MergeFormat format) {
    if (settings.MergeCount == 0) {
        interaction_.ShowMessage(kMergeFileFirst);
        return ExportResult::Refused;
    }
    return Save(path, format == MergeFormat::Bin ? merge.Binary() : merge.HexText());
}

}  // namespace qrv
