// Naming one programmer of several (port, serial, index, path, symlink), the
// flags of serials that cannot name one, and the lock that keeps a programmer
// to one process.
#include "link/device_select.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "link/device_lock.h"
#include "tests/support/fake_hid.h"

namespace qrv {
namespace {

// The fake seam with a port and serial per path; its nodes are files, so
// that a symlink resolves to them.
class IdentifiedSeam : public test::FakeSeam {
  public:
    std::map<std::string, HidIdentity> identities;
    std::string Node(const std::string& name, const std::string& port, const std::string& serial,
                     uint16_t vendorId = 0x0483) {
        const std::string path = testing::TempDir() + "qrv-select-" + name;
        std::ofstream(path).put('\n');
        Add(test::FakeInterface{path, vendorId});
        identities[path] = {port, "pci-0000:00:14.0-usb-0:" + port, serial};
        return path;
    }
    std::optional<HidIdentity> Identity(const std::string& path) override {
        const auto it = identities.find(path);
        return it == identities.end() ? std::nullopt : std::optional<HidIdentity>(it->second);
    }
};

TEST(ResolveDevice, EachKindOfNameFindsItsProgrammer) {
    IdentifiedSeam seam;
    seam.Node("mouse", "1-4", "M1", 0x046D);
    const std::string a = seam.Node("hidraw3", "1-1.1", "A1");
    const std::string b = seam.Node("hidraw5", "1-1.2", "B2");
    const std::string c = seam.Node("hidraw7", "1-1.3", "C3");
    const std::string link = testing::TempDir() + "qrv-select-link";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(b.c_str(), link.c_str()), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1-1.2", b}, {"C3", c}, {"0", a}, {"2", c}, {a, a}, {link, b},
    };
    for (const auto& [name, path] : cases) {
        std::string error;
        EXPECT_EQ(ResolveDevice(seam, name, &error).value_or("none"), path) << name << error;
    }
    std::string error;
    bool ambiguous = true;
    EXPECT_FALSE(ResolveDevice(seam, "1-4", &error, &ambiguous));  // not a programmer
    EXPECT_FALSE(ResolveDevice(seam, "3", &error, &ambiguous));    // beyond the list
    EXPECT_EQ(error, "no programmer at 3");
    EXPECT_FALSE(ambiguous);
}

TEST(ResolveDevice, ASharedSerialIsRefusedNamingBothPorts) {
    IdentifiedSeam seam;
    seam.Node("hidraw3", "1-1.1", "S7");
    seam.Node("hidraw4", "1-1.2", "OK");
    seam.Node("hidraw5", "1-1.4", "S7");
    std::string error;
    bool ambiguous = false;
    EXPECT_FALSE(ResolveDevice(seam, "S7", &error, &ambiguous));
    EXPECT_TRUE(ambiguous);
    EXPECT_NE(error.find("1-1.1 and 1-1.4"), std::string::npos) << error;
}

TEST(ListProgrammers, SerialsThatCannotNameOneAreFlagged) {
    IdentifiedSeam seam;
    seam.Node("hidraw3", "1-1.1", "");
    seam.Node("hidraw4", "1-1.2", "D");
    seam.Node("hidraw5", "1-1.3", "D");
    seam.Node("hidraw6", "1-1.4", "E");
    seam.Add(test::FakeInterface{"/dev/hidraw9"});  // the seam says nothing of it
    const auto list = ListProgrammers(seam);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 5u);
    const std::vector<std::vector<std::string>> flags = {
        {"no serial"}, {"duplicate serial"}, {"duplicate serial"}, {}, {}};
    for (std::size_t i = 0; i < flags.size(); ++i) EXPECT_EQ((*list)[i].flags, flags[i]) << i;
}

TEST(DeviceLock, ASecondOpenIsRefusedNamingTheHolder) {
    const std::string node = testing::TempDir() + "qrv-lock-node";
    std::ofstream(node).put('\n');
    std::string why;
    auto first = DeviceLock::Take(node, &why);
    ASSERT_TRUE(first) << why;
    // Another open file description, as another process has.
    EXPECT_FALSE(DeviceLock::Take(node, &why));
    std::ifstream commFile("/proc/self/comm");
    std::string comm;
    std::getline(commFile, comm);
    EXPECT_EQ(why,
              std::string(kInUseBy) + "process " + std::to_string(::getpid()) + " (" + comm + ")");
    first.reset();
    EXPECT_TRUE(DeviceLock::Take(node, &why)) << why;
    EXPECT_FALSE(DeviceLock::Take(testing::TempDir() + "qrv-lock-none", &why));
    EXPECT_EQ(why, "No such file or directory");
}

}  // namespace
}  // namespace qrv
