// What the dialogs' pictures are checked for: controls that do not overlap
// (a group box may hold controls wholly inside it), and texts that fit their
// controls in the font that is really used. The picture is written under the
// build folder for a person to look at.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace dialoglook {

// The pixels that `text` covers when drawn into `box` with `flags`, without
// clipping; empty when it covers none.
inline QRect Ink(const QFont& font, const QString& text, const QRect& box, int flags)
{
    const int margin = 200;
    QImage image(box.width() + 2 * margin, box.height() + 2 * margin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(margin, margin, box.width(), box.height()), flags | Qt::TextDontClip, text);
    painter.end();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                ink |= QRect(x, y, 1, 1);
    return ink.translated(box.x() - margin, box.y() - margin);
}

// Where a control draws its text, and how, in the control's own coordinates.
struct TextPlace {
    QRect box;
    int flags;
};

inline TextPlace PlaceOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const int wrap = label->wordWrap() ? Qt::TextWordWrap : 0;
        return {label->contentsRect(), static_cast<int>(label->alignment()) | Qt::TextShowMnemonic | wrap};
    }
    if (auto* box = qobject_cast<QCheckBox*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(box);
        opt.text = box->text();
        return {w->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic};
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        return {w->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button),
                Qt::AlignCenter | Qt::TextShowMnemonic};
    }
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(group);
        opt.text = group->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        opt.textAlignment = group->alignment();
        return {w->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, group),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic};
    }
    auto* combo = qobject_cast<QComboBox*>(w);
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = combo->isEditable();
    // The label is drawn one pixel inside the selection field on either side.
    const QRect field =
        w->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
    return {field.adjusted(1, 0, -1, 0), Qt::AlignLeft | Qt::AlignVCenter};
}

// The texts a control draws in its own place (a list's entries are checked
// apart); empty for edits and lists.
inline QStringList TextsOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text().isEmpty() ? QStringList() : QStringList{label->text()};
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return {button->text()};
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return {group->title()};
    QStringList items;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
    return items;
}

inline std::vector<QWidget*> VisibleControls(QWidget* dlg)
{
    std::vector<QWidget*> controls;
    for (QWidget* w : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible())
            controls.push_back(w);
    return controls;
}

inline void ExpectNoOverlaps(const std::vector<QWidget*>& controls)
{
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const QRect a = controls[i]->geometry();
            const QRect b = controls[j]->geometry();
            const bool held = (qobject_cast<QGroupBox*>(controls[i]) != nullptr && a.contains(b)) ||
                              (qobject_cast<QGroupBox*>(controls[j]) != nullptr && b.contains(a));
            EXPECT_TRUE(held || !a.intersects(b))
                << controls[i]->objectName().toStdString() << " overlaps "
                << controls[j]->objectName().toStdString() << " (" << i << ", " << j << ")";
        }
}

inline void ExpectTextsFit(QWidget* dlg, const std::vector<QWidget*>& controls)
{
    const QFont font = dlg->font();
    const QString family = QFontInfo(font).family();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese))
        << family.toStdString();
    const QFontMetrics metrics(font);
    for (QWidget* w : controls) {
        EXPECT_EQ(QFontInfo(w->font()).family(), family);
        if (auto* list = qobject_cast<QListWidget*>(w)) {
            for (int i = 0; i < list->count(); ++i) {
                EXPECT_LE(metrics.horizontalAdvance(list->item(i)->text()),
                          list->visualItemRect(list->item(i)).width())
                    << list->item(i)->text().toStdString();
            }
        }
        const QStringList texts = TextsOf(w);
        if (texts.isEmpty())
            continue;
        const TextPlace place = PlaceOf(w);
        EXPECT_TRUE(w->rect().contains(place.box)) << w->objectName().toStdString();
        for (const QString& text : texts) {
            SCOPED_TRACE(text.toStdString());
            for (const char32_t c : text.toUcs4())
                EXPECT_TRUE(c == '\n' || metrics.inFontUcs4(c))
                    << "U+" << std::hex << unsigned(c) << " not in " << family.toStdString();
            const QRect ink = Ink(w->font(), text, place.box, place.flags);
            EXPECT_FALSE(ink.isEmpty());
            EXPECT_TRUE(place.box.contains(ink))
                << "drawn " << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height()
                << " in " << place.box.x() << "," << place.box.y() << " " << place.box.width() << "x"
                << place.box.height();
        }
    }
}

inline void SavePicture(const QImage& picture, const std::string& name)
{
    std::filesystem::create_directories(SKIFFA_RENDER_DIR);
    const std::string path = std::string(SKIFFA_RENDER_DIR) + "/" + name;
    ASSERT_TRUE(picture.save(QString::fromStdString(path))) << path;
}

}  // namespace dialoglook
