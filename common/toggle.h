// Small value types that the window models are made of. They hold the state a
// control shows (checked, visible, enabled, text) so that the rules can be run
// and tested without a window toolkit; the Qt views only mirror them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qrv {

// A check box whose click rule runs whenever its state changes, whether a user
// clicked it or code set it. Setting the state it already has runs nothing.
class Toggle {
  public:
    using Rule = std::function<void()>;

    void SetRule(Rule rule) { rule_ = std::move(rule); }
    bool Checked() const { return checked_; }
    void SetChecked(bool checked) {
        if (checked == checked_) return;
        checked_ = checked;
        if (rule_) rule_();
    }
    // A user's click: flips the state and runs the rule.
    void Click() { SetChecked(!checked_); }
    // Initial state at construction, without running the rule.
    void Preset(bool checked) { checked_ = checked; }

    bool visible = true;
    bool enabled = true;
    std::string caption;

  private:
    bool checked_ = false;
    Rule rule_;
};

struct Widget {
    bool visible = true;
    bool enabled = true;
};

struct TextBox : Widget {
    std::string text;
    int maxLength = 0;  // characters the box takes; 0: no limit
};

struct ProgressBar : Widget {
    int position = 0;
    int max = 100;
};

struct Panel : Widget {
    std::string caption;
    uint32_t color = 0;             // 0x00BBGGRR
    uint32_t fontColor = 0xFFFFFF;  // the caption's colour
};

// A list box: its items, the selected item (-1 none) and the text it shows
// while nothing is selected.
struct ComboBox : Widget {
    std::vector<std::string> items;
    int itemIndex = -1;
    std::string text;
    // What the box shows: the selected item, else its text.
    std::string Shown() const {
        if (itemIndex >= 0 && static_cast<std::size_t>(itemIndex) < items.size())
            return items[static_cast<std::size_t>(itemIndex)];
        return text;
    }
    void Clear() {
        items.clear();
        itemIndex = -1;
        text.clear();
    }
};

struct LineList : Widget {
    std::vector<std::string> lines;
    uint32_t fontColor = 0;
};

// Colours as 0x00BBGGRR values.
namespace colors {
inline constexpr uint32_t clGreen = 0x008000;
inline constexpr uint32_t clRed = 0x0000FF;
inline constexpr uint32_t clTeal = 0x808000;
inline constexpr uint32_t clWindow = 0xFFFFFF;
}  // namespace colors

}  // namespace qrv
