#include "cli/file_tools.h"

#include <cinttypes>

#include "config/config_session.h"

namespace qrv {

int RunInfoCommand(const std::string& path, FILE* out, FILE* err) {
    // The file view asks nothing; its notices go to err.
    StreamInteraction interaction(err);
    ConfigSession session(interaction);
    session.FormCreate();
    std::string error;
    if (!session.OpenSourceFile(path, &error)) {
        std::fprintf(err, "qrv-writer-cli: info: %s\n", error.c_str());
        return 2;
    }
    std::fprintf(out, "end: %s\n", session.form.Edit5.text.c_str());
    std::fprintf(out, "checksum: %s\n", session.form.Edit6.text.c_str());
    if (session.fileOptionWord)
        std::fprintf(out, "option-word: 0x%08" PRIX32 "\n", *session.fileOptionWord);
    return 0;
}

}  // namespace qrv
