// qrv-writer: the QRV Writer desktop front-end.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calibration/Qrv_mcu_oscadj.h"
#include "chooser/Qrv_mcu_option.h"
#include "common/help_formatter.h"
#include "common/hex.h"
#include "common/version.h"
#include "config/Qrv_mcu_confige.h"
#include "link/hidapi_backend.h"
#include "link/udev_monitor.h"
#include "mainwin/Qrv_mcu_pc.h"
#include "mainwin/station_window.h"
#include "qtview/gui_interaction.h"
#include "sim/options.h"
#include "sim/sim_seam.h"
#include "sim/station_seam.h"

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

// What the command line asks of the window.
struct Arguments {
    std::optional<std::string> simulate;  // the simulator's OPTIONS, when simulated
    qrv::sim::SimOptions simOptions;
    qrv::sim::StationOptions stationOptions;  // count=N: a simulated station
    bool station = false;                     // --station: the station window
    std::optional<std::string> stationFile;   // its slots; default: the programmers present
    std::optional<std::string> log;
    std::optional<std::string> firmware;
    bool trace = false;
};

// Parses the program's own options; Qt's (-platform, -style and their values)
// pass through to QApplication. Returns an exit code when the program is to
// end at once (help, version, bad usage).
std::optional<int> ParseArguments(int argc, char** argv, Arguments* a) {
    CLI::App app("The QRV Writer desktop front-end of the QRV USB programmer.", "qrv-writer");
    app.allow_extras();
    app.formatter(std::make_shared<qrv::HelpFormatter>());
    app.add_flag("--simulate{}", a->simulate,
                 "use the built-in simulated programmer instead of USB; OPTIONS as below")
        ->type_name("");
    app.add_flag("--station", a->station,
                 "open the station window: one tile per slot, several programmers at once");
    app.add_option("--station-file", a->stationFile,
                   "the slots of --station: JSON of slot number -> {\"port\": ...} or "
                   "{\"serial\": ...} (default: the programmers present, in port order)")
        ->type_name("FILE");
    app.add_option("--log", a->log, "append one CSV line per automatic run and single step to FILE")
        ->type_name("FILE");
    app.add_option("--firmware", a->firmware,
                   "the programmer firmware that \"Update\" sends (57304 bytes; default " +
                       qrv::DefaultFirmwarePath() +
                       ", or the simulator's test image with --simulate)")
        ->type_name("FILE");
    app.add_flag("--trace", a->trace,
                 "write every report to stderr: '> ' sent, '< ' received, 130 hex digits");
    app.set_version_flag("--version", qrv::VersionText("qrv-writer"), "print the version and exit");
    app.footer(std::string(qrv::sim::SimOptionsHelp()) +
               "\nWith --simulate, SIGUSR1 unplugs the simulated programmer and SIGUSR2\n"
               "plugs it in again.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::fputs(qrv::VersionText("qrv-writer").c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "qrv-writer: %s (see --help)\n", e.what());
        return 2;
    }
    std::string error;
    if (a->simulate &&
        !qrv::sim::ParseStationOptions(*a->simulate, &a->stationOptions, &a->simOptions, &error)) {
        std::fprintf(stderr, "qrv-writer: %s\n", error.c_str());
        return 2;
    }
    if (a->firmware && a->firmware->empty()) {
        std::fprintf(stderr,
                     "qrv-writer: --firmware needs the path of the programmer's firmware file\n");
        return 2;
    }
    if (a->stationFile && a->stationFile->empty()) {
        std::fprintf(stderr, "qrv-writer: --station-file needs the path of the station file\n");
        return 2;
    }
    if (a->stationFile) a->station = true;
    if (a->log && a->log->empty()) {
        std::fprintf(stderr, "qrv-writer: --log needs the path of the production log\n");
        return 2;
    }
    // Anything left must be Qt's own: an option of one dash and its value.
    const std::vector<std::string> rest = app.remaining();
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == "-platform" || rest[i] == "-style") {
            ++i;
            continue;
        }
        std::fprintf(stderr, "qrv-writer: unknown argument '%s' (see --help)\n", rest[i].c_str());
        return 2;
    }
    return std::nullopt;
}

// What the session takes from the command line: the production log, the
// trace, and the firmware file. The simulated programmer takes only its own
// test image; a real one gets the file the user provides.
void ConfigureSession(const Arguments& arguments, qrv::MainSession& session) {
    if (arguments.log) session.SetProductionLog(qrv::ProductionLog(*arguments.log));
    if (arguments.trace) {
        session.Trace = [](const uint8_t* report, bool sent) {
            std::fprintf(stderr, "%s\n", qrv::TraceLine(report, sent).c_str());
        };
    }
    if (arguments.firmware)
        session.SetFirmwareFile(*arguments.firmware);
    else if (arguments.simulate)
        session.SetFirmwareImage(qrv::sim::TestFirmwareImage());
}

// The source of device changes, watched on the UI thread while it lives.
struct DeviceChangeWatch {
    std::unique_ptr<qrv::UdevMonitor> udev;
    std::unique_ptr<QSocketNotifier> notifier;
};

// The simulated programmer's plug changes reach the window; the plug signals
// come in through the pipe.
DeviceChangeWatch WatchSimulatorPlugs(qrv::sim::SimSeam* simSeam, qrv::TForm1& form1) {
    DeviceChangeWatch watch;
    simSeam->SetChangeListener([&form1](const qrv::DeviceChange& c) { form1.PostDeviceChange(c); });
    if (::pipe(g_plugPipe) != 0) return watch;
    watch.notifier = std::make_unique<QSocketNotifier>(g_plugPipe[0], QSocketNotifier::Read);
    QObject::connect(watch.notifier.get(), &QSocketNotifier::activated, &form1, [simSeam] {
        char c = 0;
        if (::read(g_plugPipe[0], &c, 1) != 1) return;
        if (c == 'u')
            simSeam->Unplug();
        else
            simSeam->Plug();
    });
    if (!qrv::sim::ForwardPlugSignals(g_plugPipe[1]))
        std::fprintf(stderr, "qrv-writer: the plug signals cannot be taken: %s\n",
                     std::strerror(errno));
    return watch;
}

// A real programmer's arrival and removal come from udev.
DeviceChangeWatch WatchUdev(qrv::MainSession& session, qrv::TForm1& form1) {
    DeviceChangeWatch watch;
    watch.udev = std::make_unique<qrv::UdevMonitor>();
    if (!watch.udev->Valid()) return watch;
    qrv::UdevMonitor* udev = watch.udev.get();
    watch.notifier = std::make_unique<QSocketNotifier>(udev->Fd(), QSocketNotifier::Read);
    QObject::connect(watch.notifier.get(), &QSocketNotifier::activated, &form1, [udev, &session] {
        for (const auto& c : udev->ReadChanges()) session.OnDeviceChange(c);
    });
    return watch;
}

// The station window on every programmer of the host (or of the simulated
// station), with the udev changes or the simulator's reaching every slot.
int RunStationWindow(const Arguments& arguments) {
    std::unique_ptr<qrv::HidSeam> seam;
    qrv::sim::SimStationSeam* simStation = nullptr;
    std::string error;
    if (arguments.simulate) {
        qrv::sim::StationOptions options = arguments.stationOptions;
        if (options.count == 0) {
            options.count = 1;
            options.programmers[0] = arguments.simOptions;
        }
        auto s = std::make_unique<qrv::sim::SimStationSeam>(options, &error);
        simStation = s.get();
        seam = std::move(s);
        if (!error.empty()) std::fprintf(stderr, "qrv-writer: %s\n", error.c_str());
    } else {
        seam = std::make_unique<qrv::HidapiSeam>();
    }
    std::optional<qrv::Station> station;
    if (arguments.stationFile) {
        station = qrv::ReadStationFile(*arguments.stationFile, &error);
    } else {
        station = qrv::StationFromPresent(
            qrv::ListProgrammers(*seam).value_or(std::vector<qrv::AttachedProgrammer>{}));
        if (station->slots.empty()) {
            station.reset();
            error = "没有检测到烧录器";
        }
    }
    if (!station) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromStdString(error));
        return 1;
    }
    qrv::GuiInteraction dialogs;
    qrv::SleepingClock clock;
    qrv::StationWindow window(*seam, *station, dialogs, clock, {arguments.log});
    dialogs.SetParent(&window);
    qrv::TForm2 form2(&window);
    window.SetConfigWindow(&form2);
    DeviceChangeWatch watch;
    if (simStation) {
        simStation->SetChangeListener(
            [&window](const qrv::DeviceChange& c) { window.PostDeviceChange(c); });
    } else {
        watch.udev = std::make_unique<qrv::UdevMonitor>();
        if (watch.udev->Valid()) {
            qrv::UdevMonitor* udev = watch.udev.get();
            watch.notifier = std::make_unique<QSocketNotifier>(udev->Fd(), QSocketNotifier::Read);
            QObject::connect(watch.notifier.get(), &QSocketNotifier::activated, &window,
                             [udev, &window] {
                                 for (const auto& c : udev->ReadChanges())
                                     window.PostDeviceChange(c);
                             });
        }
    }
    window.show();
    window.Start();
    const int rc = QApplication::exec();
    if (simStation) simStation->SetChangeListener({});
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (const std::optional<int> rc = ParseArguments(argc, argv, &arguments)) return *rc;
    const bool simulate = arguments.simulate.has_value();
    const qrv::sim::SimOptions& simOptions = arguments.simOptions;
    // Before the first thread starts, so that every thread inherits the mask
    // and only the simulator's own signal thread takes the plug signals.
    if (simulate) qrv::sim::BlockPlugSignals();

    QrvApplication app(argc, argv);
    QApplication::setApplicationName("QRV Writer");
    // Desktops match the window with the menu entry (and its icon) by this name.
    QGuiApplication::setDesktopFileName("qrv-writer");
    // The windows are Chinese, so Qt's own dialogs are too, whatever the locale.
    if (!qrv::InstallQtChineseTranslation(app))
        std::fprintf(stderr, "qrv-writer: Qt's Chinese translation (qtbase_zh_CN) not found\n");
    try {
        if (arguments.station) return RunStationWindow(arguments);
        std::unique_ptr<qrv::HidSeam> seam;
        qrv::sim::SimSeam* simSeam = nullptr;
        // count=N without --station: the window takes the first programmer.
        qrv::sim::SimStationSeam* simStation = nullptr;
        if (simulate && arguments.stationOptions.count > 0) {
            auto s = std::make_unique<qrv::sim::SimStationSeam>(arguments.stationOptions);
            simStation = s.get();
            seam = std::move(s);
        } else if (simulate) {
            auto s = std::make_unique<qrv::sim::SimSeam>(simOptions);
            simSeam = s.get();
            seam = std::move(s);
        } else {
            seam = std::make_unique<qrv::HidapiSeam>();
        }
        qrv::GuiInteraction interaction;
        qrv::SleepingClock clock;
        qrv::MainSession session(*seam, interaction, clock);
        ConfigureSession(arguments, session);

        // The windows are created once, in this order, and live until the end.
        qrv::TForm1 form1(session);
        interaction.SetParent(&form1);
        qrv::TForm2 form2(&form1);
        qrv::TForm3 form3(&form1);
        qrv::TForm5 form5(&form1);
        form1.SetConfigWindow(&form2);
        form1.SetOptionChooser(&form3);
        form1.SetCalibrationDialog(&form5);

        session.Channel().SetPoster([&form1] { form1.PostReply(); });
        DeviceChangeWatch watch;
        if (simStation)
            simStation->SetChangeListener(
                [&form1](const qrv::DeviceChange& c) { form1.PostDeviceChange(c); });
        else
            watch = simSeam ? WatchSimulatorPlugs(simSeam, form1) : WatchUdev(session, form1);

        // The window is on screen before the first connection, so that the
        // messages its status may bring (the firmware update offer) open over it.
        form1.Render();
        form1.show();
        // A log that cannot be opened is said at once, not at the first run.
        session.CheckProductionLog();
        session.FormCreate();
        const int rc = app.exec();
        // Stop the reader before the windows go, so no reply is posted to them.
        session.Link().CloseReadSide();
        session.Channel().SetPoster({});
        if (simSeam) simSeam->SetChangeListener({});
        if (simStation) simStation->SetChangeListener({});
        return rc;
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromUtf8(e.what()));
        return 1;
    }
}
