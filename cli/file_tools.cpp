#include "cli/file_tools.h"

#include <cinttypes>

#include "config/config_session.h"

namespace qrv {

std::optional<FileInfo> ReadFileInfo(const std::string& path, FILE* err, std::string* error) {
    // The file view asks nothing; its notices go to err.
    StreamInteraction interaction(err);
    ConfigSession session(interaction);
    session.FormCreate();
    if (!session.OpenSourceFile(path, error)) return std::nullopt;
    return FileInfo{session.form.Edit5.text, session.form.Edit6.text, session.fileOptionWord};
}

}  // namespace qrv
