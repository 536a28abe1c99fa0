// The main window on Qt's offscreen platform against the simulated programmer,
// for GUI tests.
#pragma once

#include <QApplication>
#include <chrono>
#include <thread>

#include "mainwin/Qrv_mcu_pc.h"
#include "sim/sim_seam.h"
#include "tests/support/scripted.h"

namespace qrv::test {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "qrv_gui_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own objects must not outlive it at exit.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Constructed first, so that the application exists before any widget.
struct WithApplication {
    WithApplication() { App(); }
};

// Runs the event loop until done() holds (or a generous cap is reached).
template <typename Done>
bool PumpUntil(Done done) {
    for (int i = 0; i < 4000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// The window on the simulated programmer, as `qrv-writer --simulate` runs it,
// with the given latency per reply.
template <int LatencyUs>
struct SimulatedWindowFixture : WithApplication, ::testing::Test {
    sim::SimSeam seam{[] {
        sim::SimOptions o;
        o.latencyUs = LatencyUs;
        return o;
    }()};
    ScriptedInteraction ui;
    InstantClock clock;
    MainSession s{seam, ui, clock};
    TForm1 form{s};
    void SetUp() override {
        s.Channel().SetPoster([this] { form.PostReply(); });
        form.show();
    }
    void TearDown() override {
        s.Link().CloseReadSide();
        s.Channel().SetPoster({});
    }
};

}  // namespace qrv::test
