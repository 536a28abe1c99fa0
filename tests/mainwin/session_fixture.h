// A session on a fake programmer without a reader thread: tests hand replies
// to OnReply themselves and look at the reports the session wrote.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "session/session.h"
#include "tests/support/fake_hid.h"
#include "tests/support/reports.h"
#include "tests/support/scripted.h"

namespace qrv::test {

// A clock that records the pauses and can look at the session during each.
class RecordingClock : public Clock {
  public:
    std::vector<int> pauses;
    std::function<void()> duringPause;
    void Pause(int milliseconds) override {
        pauses.push_back(milliseconds);
        if (duringPause) duringPause();
    }
};

struct SessionTest : ::testing::Test {
    FakeSeam seam;
    FakeDevice& dev = seam.Add(FakeInterface{"programmer"});
    ScriptedInteraction ui;
    RecordingClock clock;
    MainSession s{seam, ui, clock};

    // Opens the programmer's handles without starting a reader.
    void Connect() { ASSERT_EQ(s.Link().FindProgrammer(), ProgrammerLink::kFound); }
    std::vector<Report> Written() { return dev.Written(); }
    Report LastWritten() {
        auto w = dev.Written();
        EXPECT_FALSE(w.empty());
        return w.empty() ? Report{} : w.back();
    }
    void Reply(const Report& r) { s.OnReply(r); }
    bool DeviceReportClear() const {
        for (std::size_t k = 0; k < kReportSize; ++k)
            if (s.buffer.bytes[ReportBuffer::kDeviceReport + k] != 0) return false;
        return true;
    }
};

}  // namespace qrv::test
