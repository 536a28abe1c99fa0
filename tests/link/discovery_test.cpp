#include <gtest/gtest.h>

#include "link/programmer_link.h"
#include "tests/support/fake_hid.h"

namespace qrv {
namespace {

using test::FakeInterface;
using test::FakeSeam;

FakeInterface Other(const std::string& path) {
    FakeInterface i;
    i.path = path;
    i.vendorId = 0x046D;
    i.productId = 0xC077;
    return i;
}

FakeInterface Programmer(const std::string& path) {
    FakeInterface i;
    i.path = path;
    return i;
}

struct Discovery : ::testing::Test {
    FakeSeam seam;
    ReplyChannel channel;
};

TEST_F(Discovery, TwoProgrammersTheLowestIndexWins) {
    seam.Add(Other("kbd"));
    seam.Add(Programmer("first"));
    seam.Add(Programmer("second"));
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    EXPECT_EQ(link.WritePath(), "first");
    for (const auto& [path, access] : seam.opens) EXPECT_NE(path, "second");
}

TEST_F(Discovery, OnlyTheFirstTwentyInterfacesAreExamined) {
    for (int i = 0; i < 20; ++i) seam.Add(Other("dev" + std::to_string(i)));
    seam.Add(Programmer("late"));
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kNotFound);
    EXPECT_FALSE(link.Connected());

    FakeSeam atNineteen;
    for (int i = 0; i < 19; ++i) atNineteen.Add(Other("dev" + std::to_string(i)));
    atNineteen.Add(Programmer("last"));
    ProgrammerLink link2(atNineteen, channel);
    EXPECT_EQ(link2.FindProgrammer(), ProgrammerLink::kFound);
}

TEST_F(Discovery, FailedWriteOpenOrAttributeQueryIsSkipped) {
    FakeInterface noWrite = Programmer("nowrite");
    noWrite.writeOpenFails = true;
    FakeInterface noAttr = Programmer("noattr");
    noAttr.attributesFail = true;
    seam.Add(noWrite);
    test::FakeDevice& noAttrDev = seam.Add(noAttr);
    seam.Add(Programmer("good"));
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    EXPECT_EQ(link.WritePath(), "good");
    EXPECT_EQ(noAttrDev.openHandles, 0);  // the skipped handle was closed
}

TEST_F(Discovery, AProgrammerThatCannotBeReadIsNotConnectedAndSaysWhy) {
    FakeInterface p = Programmer("/dev/hidraw4");
    p.readOpenFails = true;
    test::FakeDevice& dev = seam.Add(p);
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kNoAccess);
    EXPECT_FALSE(link.Connected());
    EXPECT_EQ(dev.openHandles, 0);
    EXPECT_NE(link.AccessProblem().find("/dev/hidraw4"), std::string::npos);
    EXPECT_NE(link.AccessProblem().find("60-qrv-writer.rules"), std::string::npos);
    // A readable programmer further on wins, and the problem is forgotten.
    seam.Add(Programmer("/dev/hidraw5"));
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    EXPECT_EQ(link.WritePath(), "/dev/hidraw5");
    EXPECT_TRUE(link.AccessProblem().empty());
}

TEST_F(Discovery, ListUnavailableAndNoMatch) {
    seam.listUnavailable = true;
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kListUnavailable);
    seam.listUnavailable = false;
    seam.Add(Other("a"));
    EXPECT_EQ(link.FindProgrammer(), ProgrammerLink::kNotFound);
}

TEST_F(Discovery, InputReportLengthKeepsItsValueWhenCapabilitiesFail) {
    FakeInterface p = Programmer("p");
    p.inputReportLength = 65;
    seam.Add(p);
    ProgrammerLink link(seam, channel);
    EXPECT_EQ(link.InputReportLength(), 0);
    ASSERT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    EXPECT_EQ(link.InputReportLength(), 65);
    seam.interfaces[0].inputReportLength = 0;  // capabilities unreadable now
    link.CloseWriteLink();
    ASSERT_EQ(link.FindProgrammer(), ProgrammerLink::kFound);
    EXPECT_EQ(link.InputReportLength(), 65);
}

}  // namespace
}  // namespace qrv
