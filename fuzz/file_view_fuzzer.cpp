// The file view together with the option rules: a HEX file opened in the
// configuration window's model, before and after choices in the option
// controls. The input: a count and that many two-byte control choices (model,
// option boxes, size and voltage lists, closing the window) made before the
// file is opened, the same after it, then the file. Invariants: every option
// box shows the option bit it stands for, the end and checksum boxes show what
// the settings hold, the grid rows hold at most 16 bytes; and for a well-formed
// file, the grid holds its data records, the end is its last data byte, the
// option word is its record at 0x0100, and for records that rise the checksum
// is the 16-bit sum of the bytes from 0 to the end, gaps counted as 0xFF.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/hex.h"
#include "config/config_session.h"
#include "config/model_table.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace qrv;
using namespace qrv::fuzz;

Toggle* OptionBox(ConfigWindowModel& f, int i) {
    Toggle* boxes[] = {&f.CheckBox1,  &f.CheckBox2,  &f.CheckBox3,  &f.CheckBox4,
                       &f.CheckBox11, &f.CheckBox12, &f.CheckBox13, &f.CheckBox14,
                       &f.CheckBox15, &f.CheckBox16, &f.CheckBox17};
    return boxes[i % std::size(boxes)];
}

// One choice of the user's, made only on a control that is shown and enabled.
void Choose(ConfigSession& s, uint8_t kind, uint8_t value) {
    ConfigWindowModel& f = s.form;
    const auto usable = [](const Widget& w) { return w.visible && w.enabled; };
    switch (kind % 6) {
        case 0: {
            Toggle* box = OptionBox(f, value);
            if (box->visible && box->enabled) box->Click();
            break;
        }
        case 1:
            if (usable(f.ComboBox4)) s.ComboBox4Click(value % (kModelCount + 1) - 1);
            break;
        case 2:
            if (usable(f.ComboBox1)) s.ComboBox1Click(value % 6 - 1);
            break;
        case 3:
            if (usable(f.ComboBox2)) s.ComboBox2Click(value % 5 - 1);
            break;
        case 4:
            if (usable(f.ComboBox3)) s.ComboBox3Click(value % 2);
            break;
        case 5:
            s.FormClose();
            break;
    }
}

bool Bit(uint8_t bits, uint8_t mask) {
    return (bits & mask) != 0;
}

// What is shown is what is stored: each option box against its bit. The
// window starts with every box unticked and every option byte 0, pin boxes
// and radio pairs included; the boxes show the bytes once a model has been
// chosen or an option word applied ("settled"). Boxes that a model of the
// reduced option set hides do not count there.
void CheckOptionBoxes(const ConfigSession& s, bool settled) {
    const ConfigWindowModel& f = s.form;
    const uint8_t bits = s.settings.optionBits;
    Check(f.CheckBox1.Checked() == Bit(bits, kReadProtect), "读保护 shows its bit");
    Check(f.CheckBox2.Checked() == Bit(bits, kDebugProtect), "DEBUG保护 shows its bit");
    Check(f.CheckBox3.Checked() == Bit(bits, kHardLock), "Hard Lock shows its bit");
    Check(f.ComboBox1.enabled == f.CheckBox3.Checked(), "the hard-lock list follows Hard Lock");
    Check(f.CheckBox11.Checked() == Bit(bits, kWdtDisable), "禁止WDT shows its bit");
    if (s.settings.optionSet == 0) {
        Check(f.CheckBox4.Checked() == Bit(bits, kDataFlash), "DataFlash shows its bit");
        Check(f.ComboBox2.enabled == f.CheckBox4.Checked(),
              "the data-flash list follows DataFlash");
    }
    if (!settled) return;
    if (s.settings.optionSet == 0) {
        Check(Bit(bits, kPinNotIo) == !(f.CheckBox12.Checked() && f.CheckBox17.Checked()),
              "the pin boxes show the pin bit");
        Check(f.CheckBox14.Checked() == Bit(bits, kSwdOrHsosc), "CheckBox14 shows its bit");
        Check(f.CheckBox13.Checked() != f.CheckBox14.Checked(), "CheckBox13 and 14 are a pair");
        Check(f.CheckBox15.Checked() == Bit(bits, kSubOsc500k), "CheckBox15 shows its bit");
        Check(f.CheckBox15.Checked() != f.CheckBox16.Checked(), "CheckBox15 and 16 are a pair");
    } else {
        Check(Bit(bits, kPinNotIo) == !f.CheckBox12.Checked(), "the pin box shows the pin bit");
    }
}

void CheckOpened(const ConfigSession& s, const std::vector<std::string>& lines) {
    const ConfigWindowModel& f = s.form;
    const WriterSettings& w = s.settings;
    if (f.Edit5.text != H4(w.EndAddress()) + "H")
        Fail("the end box shows the end address", f.Edit5.text);
    Check(w.fileChecksum <= 0xFFFF, "the checksum has 16 bits");
    if (f.Edit6.text != H4(w.fileChecksum) + "H")
        Fail("the checksum box shows the checksum", f.Edit6.text);
    const FileViewGrid& grid = f.StringGrid1;
    Check(grid.RowCount() >= static_cast<int>(grid.Rows().size()) + 1, "the grid holds its rows");
    for (std::size_t r = 0; r < grid.Rows().size(); ++r) {
        const FileViewRow& row = grid.Rows()[r];
        Check(row.count <= kGridBytesPerRow, "a grid row holds at most 16 bytes");
        const int n = static_cast<int>(r) + 1;
        if (grid.Cell(0, n) != H4(row.address)) Fail("the address cell shows the row's address");
        for (int c = 1; c < kGridColumns; ++c)
            if (grid.Cell(c, n) != (c <= row.count ? H2(row.bytes[c - 1]) : ""))
                Fail("a data cell shows the row's byte");
    }

    const auto records = WellFormedImage(lines);
    if (!records) return;
    // The grid: each record's bytes in file order, 16 to a row; a record
    // without data writes nothing and has no row.
    std::size_t r = 0;
    unsigned last = 0;
    std::optional<uint32_t> optionWord;
    for (const HexRecord& record : *records) {
        std::size_t done = 0;
        while (done < record.data.size()) {
            if (r >= grid.Rows().size()) Fail("the grid holds every record");
            const FileViewRow& row = grid.Rows()[r++];
            const std::size_t n = std::min<std::size_t>(record.data.size() - done, 16);
            if (row.address != record.address + done || row.count != n ||
                !std::equal(row.bytes.begin(), row.bytes.begin() + n, record.data.begin() + done))
                Fail("a grid row holds the record's bytes", "row " + std::to_string(r));
            done += n;
        }
        if (!record.data.empty())
            last = std::max(last, record.address + static_cast<unsigned>(record.data.size()) - 1);
        if (record.address == 0x0100 && record.data.size() >= 4)
            optionWord = uint32_t{record.data[0]} | uint32_t{record.data[1]} << 8 |
                         uint32_t{record.data[2]} << 16 | uint32_t{record.data[3]} << 24;
    }
    if (r != grid.Rows().size()) Fail("the grid holds only the file's records");
    if (s.fileOptionWord != optionWord) Fail("the option word is the file's record at 0x0100");
    const bool allHoldData = std::all_of(records->begin(), records->end(),
                                         [](const HexRecord& x) { return !x.data.empty(); });
    if (allHoldData && w.EndAddress() != last)
        Fail("the end address is the file's last data byte",
             H4(w.EndAddress()) + " instead of " + H4(last));
    if (RecordsRise(*records)) {
        const ExpectedImage image = ImageOf(*records);
        uint32_t sum = 0;
        for (unsigned a = 0; a < image.length; ++a) sum += image.bytes[a];
        if (w.fileChecksum != (sum & 0xFFFF))
            Fail("the checksum sums the bytes up to the end, gaps as 0xFF",
                 H4(w.fileChecksum) + " instead of " + H4(sum & 0xFFFF));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    StreamInteraction interaction;
    ConfigSession session(interaction);
    session.Random = [] { return 0x1234u; };
    session.FormCreate();

    // The choices before and after opening the file; the rest is the file.
    std::vector<std::pair<uint8_t, uint8_t>> before, after;
    for (auto* list : {&before, &after}) {
        const int count = TakeByte(data, size) % 8;
        for (int i = 0; i < count; ++i) {
            const uint8_t kind = TakeByte(data, size);
            list->emplace_back(kind, TakeByte(data, size));
        }
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    bool settled = false;
    // QRV_FUZZ_TRACE=1 shows each choice and the option byte after it.
    static const bool trace = std::getenv("QRV_FUZZ_TRACE") != nullptr;
    const auto choose = [&](uint8_t kind, uint8_t value) {
        Choose(session, kind, value);
        if (trace)
            std::fprintf(stderr, "choice %u/%u: model %d, optionBits %02X\n", kind % 6u, value,
                         session.form.ComboBox4.itemIndex, session.settings.optionBits);
        settled = settled || session.form.ComboBox4.itemIndex >= 0;
        CheckOptionBoxes(session, settled);
    };
    for (const auto& [kind, value] : before) choose(kind, value);
    std::string error;
    Check(session.OpenSourceFile(InputFile(text), &error), "the file opens");
    settled = settled || session.fileOptionWord.has_value();
    CheckOptionBoxes(session, settled);
    CheckOpened(session, TextLines(text));
    for (const auto& [kind, value] : after) choose(kind, value);
    return 0;
}
