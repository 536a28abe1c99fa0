// The main window's keyboard entries: the space bar's automatic run and the
// service words typed into the file box, which reveal the service controls.
#include "session/session.h"

namespace qrv {

namespace {

// A service word: compared character by character with constant character
// codes, so the words are kept nowhere as text.
template <char... Letters>
struct ServiceWord {
    static_assert(sizeof...(Letters) == 7, "a service word has seven letters");
    static bool Matches(const std::string& text) {
        std::size_t i = 0;
        return text.size() == sizeof...(Letters) && ((text[i++] == Letters) && ...);
    }
};

using ServiceWord1 = ServiceWord<'Q', 'r', 'v', 'T', 'o', 'o', 'l'>;
using ServiceWord2 = ServiceWord<'U', 's', 'e', 'r', 'O', 'p', 't'>;
using ServiceWord3 = ServiceWord<'W', 'o', 'r', 'k', 'M', 'o', 'd'>;
using ServiceWord4 = ServiceWord<'O', 's', 'c', 'T', 'r', 'i', 'm'>;
using ServiceWord5 = ServiceWord<'C', 'h', 'o', 'o', 's', 'e', 'r'>;

// The length of a text as the Chinese ANSI code page stores it: one byte for
// each ASCII character, two for any other.
std::size_t AnsiLength(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            n += 1;
        else if ((c & 0xC0) != 0x80)
            n += 2;
    }
    return n;
}

}  // namespace

void MainSession::Edit1KeyPress(char key) {
    if (key != kKeyEnter) return;
    MainWindowModel& f = form;
    const std::string& text = f.Edit1.text;
    auto show = [](std::initializer_list<Widget*> widgets, bool visible) {
        for (Widget* w : widgets) w->visible = visible;
    };
    if (ServiceWord1::Matches(text)) {
        show({&f.Button8, &f.Button9, &f.Button10, &f.Button11, &f.Button12}, true);
        f.Button4.enabled = true;
        show({&f.Button14, &f.ComboBox3, &f.ComboBox4, &f.Button15}, true);
    } else if (ServiceWord2::Matches(text)) {
        f.Button11.visible = true;
    } else if (ServiceWord3::Matches(text)) {
        f.ComboBox1.visible = true;
    } else if (ServiceWord4::Matches(text)) {
        f.ComboBox2.visible = true;
    } else if (ServiceWord5::Matches(text)) {
        f.CheckBox5.visible = true;
    } else if (AnsiLength(text) == 7) {
        show({&f.Button8, &f.Button9, &f.Button10, &f.Button11, &f.Button12, &f.ComboBox1,
              &f.ComboBox2},
             false);
    } else {
        show({&f.Button8, &f.Button9, &f.Button10, &f.Button11, &f.Button12}, false);
    }
    NotifyChanged();
}

void MainSession::FormKeyDown(int key, bool autoRepeat) {
    clock_.Pause(10);
    // A held space bar starts one run, not one per repeat.
    if (key != kKeySpace || autoRepeat) return;
    StartAutoRun();
    NotifyChanged();
}

}  // namespace qrv
