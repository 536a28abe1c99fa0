#include "cli/file_tools.h"

#include <cinttypes>

#include "config/config_session.h"

namespace qrv {

namespace {

// The file view asks nothing and its notices do not apply headless.
class SilentInteraction : public Interaction {
  public:
    explicit SilentInteraction(FILE* err) : err_(err) {}
    void ShowMessage(const std::string& text) override { std::fprintf(err_, "%s\n", text.c_str()); }
    void Warning(const std::string& text) override { std::fprintf(err_, "%s\n", text.c_str()); }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    FILE* err_;
};

}  // namespace

int RunInfoCommand(const std::string& path, FILE* out, FILE* err) {
    SilentInteraction interaction(err);
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
