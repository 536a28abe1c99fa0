// Helpers every Qt view shares: UTF-8 text, placing a control at its design
// position, and mirroring a model's check box or list into its widget with the
// widget's signals blocked, so that no rule runs twice.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QPalette>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "common/toggle.h"

namespace qrv::view {

inline QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline QString Q(const char* s) {
    return QString::fromUtf8(s);
}

// The models keep colours as 0x00BBGGRR.
inline QColor ToQColor(uint32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

template <typename W>
W* Place(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(left, top, width, height);
    return w;
}

inline void RenderBox(QCheckBox* box, const Toggle& t) {
    const QSignalBlocker block(box);
    box->setText(Q(t.caption));
    box->setChecked(t.Checked());
    box->setEnabled(t.enabled);
    box->setVisible(t.visible);
}

inline void RenderCombo(QComboBox* combo, const ComboBox& c) {
    const QSignalBlocker block(combo);
    bool same = combo->count() == static_cast<int>(c.items.size());
    for (int i = 0; same && i < combo->count(); ++i)
        same = combo->itemText(i) == Q(c.items[static_cast<std::size_t>(i)]);
    if (!same) {
        combo->clear();
        for (const auto& item : c.items) combo->addItem(Q(item));
    }
    if (combo->currentIndex() != c.itemIndex) combo->setCurrentIndex(c.itemIndex);
    if (combo->placeholderText() != Q(c.text)) combo->setPlaceholderText(Q(c.text));
    // The text shown without a selection reads like an item, not like a hint:
    // drawn as an item is in each state, greyed out while the list is disabled.
    QPalette pal = combo->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::PlaceholderText, pal.color(group, QPalette::ButtonText));
    combo->setPalette(pal);
    combo->setEnabled(c.enabled);
    combo->setVisible(c.visible);
}

}  // namespace qrv::view
