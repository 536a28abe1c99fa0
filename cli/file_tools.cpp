#include "cli/file_tools.h"

#include <cinttypes>

#include "common/atomic_file.h"
#include "config/config_session.h"
#include "image/hex_check.h"

namespace qrv {

std::optional<FileInfo> ReadFileInfo(const std::string& path, Interaction& notices,
                                     std::string* error) {
    // The first problem the programmer's import would refuse the file for.
    std::string content;
    if (!ReadWholeFile(path, &content, error)) return std::nullopt;
    if (const auto problem = CheckHexLines(SplitLines(content))) {
        *error = path + ": " + problem->Text();
        return std::nullopt;
    }
    content = std::string();
    // The file view asks nothing.
    ConfigSession session(notices);
    session.FormCreate();
    if (!session.OpenSourceFile(path, error)) return std::nullopt;
    return FileInfo{session.form.Edit5.text, session.form.Edit6.text,
                    static_cast<unsigned>(session.settings.fileChecksum & 0xFFFFu),
                    session.fileOptionWord};
}

}  // namespace qrv
