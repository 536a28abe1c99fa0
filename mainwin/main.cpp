// qrv-writer: the QRV Writer desktop front-end.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "calibration/Qrv_mcu_oscadj.h"
#include "chooser/Qrv_mcu_option.h"
#include "config/Qrv_mcu_confige.h"
#include "link/hidapi_backend.h"
#include "link/udev_monitor.h"
#include "mainwin/Qrv_mcu_pc.h"
#include "mainwin/gui_interaction.h"
#include "sim/options.h"
#include "sim/sim_seam.h"

namespace {

// An exception that reaches the top level is shown in a message box.
class QrvApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(nullptr, applicationName(), QString::fromUtf8(e.what()));
        } catch (...) {
            QMessageBox::critical(nullptr, applicationName(), QString());
        }
        return false;
    }
};

// With the simulated programmer, SIGUSR1 unplugs it and SIGUSR2 plugs it in
// again, so that device changes can be shown and tried without hardware
// (`kill -USR1 $(pidof qrv-writer)`). The handler only writes to a pipe; the UI
// thread reads it.
int g_plugPipe[2] = {-1, -1};

void OnPlugSignal(int signal) {
    const char c = signal == SIGUSR1 ? 'u' : 'p';
    [[maybe_unused]] ssize_t n = ::write(g_plugPipe[1], &c, 1);
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "Usage: qrv-writer [--simulate[=OPTIONS]] [--firmware FILE]\n"
                 "The QRV Writer desktop front-end of the QRV USB programmer.\n\n"
                 "  --firmware FILE       the programmer firmware that \"Update\" sends (57304\n"
                 "                        bytes; default %s,\n"
                 "                        or the simulator's test image with --simulate)\n%s"
                 "\nWith --simulate, SIGUSR1 unplugs the simulated programmer and SIGUSR2\n"
                 "plugs it in again.\n",
                 qrv::DefaultFirmwarePath().c_str(), qrv::sim::SimOptionsHelp());
}

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    qrv::sim::SimOptions simOptions;
    std::optional<std::string> firmware;
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
                std::fprintf(stderr, "qrv-writer: %s\n", error.c_str());
                return 2;
            }
        } else if (arg == "--firmware" && i + 1 < argc) {
            firmware = argv[++i];
        } else if (arg.rfind("--firmware=", 0) == 0 && arg.size() > 11) {
            firmware = arg.substr(11);
        } else if (arg.rfind("-platform", 0) == 0 || arg.rfind("-style", 0) == 0) {
            ++i;  // Qt's own options
        } else {
            std::fprintf(stderr, "qrv-writer: unknown argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    QrvApplication app(argc, argv);
    QApplication::setApplicationName("QRV Writer");
    try {
        std::unique_ptr<qrv::HidSeam> seam;
        qrv::sim::SimSeam* simSeam = nullptr;
        if (simulate) {
            auto s = std::make_unique<qrv::sim::SimSeam>(simOptions);
            simSeam = s.get();
            seam = std::move(s);
        } else {
            seam = std::make_unique<qrv::HidapiSeam>();
        }
        qrv::GuiInteraction interaction;
        qrv::SleepingClock clock;
        qrv::MainSession session(*seam, interaction, clock);
        // The simulated programmer takes only its own test image; a real one
        // gets the file the user provides.
        if (firmware)
            session.SetFirmwareFile(*firmware);
        else if (simulate)
            session.SetFirmwareImage(qrv::sim::TestFirmwareImage());

        // The windows are created once, in this order, and live until the end.
        qrv::TForm1 form1(session);
        interaction.SetParent(&form1);
        qrv::TForm2 form2(&form1);
        qrv::TForm3 form3(&form1);
        qrv::TForm5 form5(&form1);
        form1.SetConfigWindow(&form2);
        form1.SetOptionChooser(&form3);

        session.Channel().SetPoster([&form1] { form1.PostReply(); });
        std::unique_ptr<qrv::UdevMonitor> udev;
        std::unique_ptr<QSocketNotifier> notifier;
        if (simSeam) {
            simSeam->SetChangeListener(
                [&form1](const qrv::DeviceChange& c) { form1.PostDeviceChange(c); });
            if (::pipe(g_plugPipe) == 0) {
                notifier = std::make_unique<QSocketNotifier>(g_plugPipe[0], QSocketNotifier::Read);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, &form1, [simSeam] {
                    char c = 0;
                    if (::read(g_plugPipe[0], &c, 1) != 1) return;
                    if (c == 'u')
                        simSeam->Unplug();
                    else
                        simSeam->Plug();
                });
                std::signal(SIGUSR1, OnPlugSignal);
                std::signal(SIGUSR2, OnPlugSignal);
            }
        } else {
            udev = std::make_unique<qrv::UdevMonitor>();
            if (udev->Valid()) {
                notifier = std::make_unique<QSocketNotifier>(udev->Fd(), QSocketNotifier::Read);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, &form1, [&] {
                    for (const auto& c : udev->ReadChanges()) session.OnDeviceChange(c);
                });
            }
        }

        session.FormCreate();
        form1.Render();
        form1.show();
        const int rc = app.exec();
        // Stop the reader before the windows go, so no reply is posted to them.
        session.Link().CloseReadSide();
        session.Channel().SetPoster({});
        if (simSeam) simSeam->SetChangeListener({});
        return rc;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromUtf8(e.what()));
        return 1;
    }
}
