// qrv-writer-cli: the QRV Writer session without windows, for production lines
// and scripts.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/hidapi_backend.h"
#include "mainwin/session.h"
#include "sim/options.h"
#include "sim/sim_seam.h"

namespace {

class CliInteraction : public qrv::Interaction {
public:
    void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void Warning(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: qrv-writer-cli [--simulate[=OPTIONS]] COMMAND...\n"
                 "Commands:\n"
                 "  status      connect and print the programmer's status\n\n%s",
                 qrv::sim::SimOptionsHelp());
}

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    qrv::sim::SimOptions simOptions;
    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--simulate") {
            simulate = true;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            simulate = true;
            std::string error;
            if (!qrv::sim::ParseSimOptions(arg.substr(11), &simOptions, &error)) {
                std::fprintf(stderr, "qrv-writer-cli: %s\n", error.c_str());
                return 2;
            }
        } else if (arg == "status") {
            commands.push_back(arg);
        } else {
            std::fprintf(stderr, "qrv-writer-cli: unknown argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (commands.empty()) {
        Usage(stderr);
        return 2;
    }

    std::unique_ptr<qrv::HidSeam> seam;
    if (simulate)
        seam = std::make_unique<qrv::sim::SimSeam>(simOptions);
    else
        seam = std::make_unique<qrv::HidapiSeam>();
    CliInteraction interaction;
    qrv::InstantClock clock;
    qrv::MainSession session(*seam, interaction, clock);
    session.FormCreate();
    if (!session.Connected()) {
        std::fprintf(stderr, "qrv-writer-cli: no programmer connected\n");
        return 3;
    }
    bool answered = session.Channel().WaitAndDispatch(
        std::chrono::seconds(30), [&](const qrv::Report& r) { session.OnReply(r); });
    if (!answered) {
        std::fprintf(stderr, "qrv-writer-cli: the programmer did not answer\n");
        return 3;
    }
    std::printf("caption: %s\n", session.form.caption.c_str());
    return 0;
}
