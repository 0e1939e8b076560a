// The COM port settings dialog as drawn: its size from the template, controls
// that do not overlap, and texts that fit their controls in the font that is
// really used. The picture is written under the build folder for a person to
// look at.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

#include "settings/PortSetting.h"

namespace {

// The pixels that `text` covers when drawn into `box` with `flags`, without
// clipping; empty when it covers none.
QRect Ink(const QFont& font, const QString& text, const QRect& box, int flags)
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

// Where a control draws a text, and how, in the control's own coordinates.
struct TextPlace {
    QRect box;
    int flags;
};

TextPlace PlaceOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return {label->contentsRect(), static_cast<int>(label->alignment()) | Qt::TextShowMnemonic};
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
    auto* combo = qobject_cast<QComboBox*>(w);
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = false;
    // The label is drawn one pixel inside the selection field on either side.
    const QRect field = w->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
    return {field.adjusted(1, 0, -1, 0), Qt::AlignLeft | Qt::AlignVCenter};
}

QStringList TextsOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return {label->text()};
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return {button->text()};
    QStringList items;
    if (auto* combo = qobject_cast<QComboBox*>(w))
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
    return items;
}

}  // namespace

TEST(PortSettingDialogLook, FitsItsTemplateInAJapaneseFont)
{
    CPortSetting dlg;
    QImage picture;
    std::vector<QWidget*> controls;
    QTimer::singleShot(0, [&] {
        picture = dlg.grab().toImage();
        for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                controls.push_back(w);
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();

    // 202 x 176 dialog units in the font's base units, rounded as MulDiv does.
    const int bx = dlg.BaseUnitX();
    const int by = dlg.BaseUnitY();
    EXPECT_EQ(dlg.width(), (202 * bx + 2) / 4);
    EXPECT_EQ(dlg.height(), (176 * by + 4) / 8);
    ASSERT_EQ(controls.size(), 22u);

    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " overlaps " << controls[j]->objectName().toStdString()
                << " (" << i << ", " << j << ")";

    const QFont font = dlg.font();
    const QString family = QFontInfo(font).family();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese)) << family.toStdString();
    const QFontMetrics metrics(font);
    for (QWidget* w : controls) {
        EXPECT_EQ(QFontInfo(w->font()).family(), family);
        const QStringList texts = TextsOf(w);
        if (texts.isEmpty())
            continue;  // the edits
        const TextPlace place = PlaceOf(w);
        for (const QString& text : texts) {
            SCOPED_TRACE(text.toStdString());
            for (const char32_t c : text.toUcs4())
                EXPECT_TRUE(c == '\n' || metrics.inFontUcs4(c)) << "U+" << std::hex << unsigned(c) << " not in " << family.toStdString();
            const QRect ink = Ink(w->font(), text, place.box, place.flags);
            EXPECT_FALSE(ink.isEmpty());
            EXPECT_TRUE(place.box.contains(ink)) << "drawn " << ink.x() << "," << ink.y() << " " << ink.width() << "x"
                                                  << ink.height() << " in " << place.box.x() << "," << place.box.y()
                                                  << " " << place.box.width() << "x" << place.box.height();
        }
    }

    std::filesystem::create_directories(SKIFFA_RENDER_DIR);
    const std::string path = std::string(SKIFFA_RENDER_DIR) + "/port_setting.png";
    ASSERT_TRUE(picture.save(QString::fromStdString(path))) << path;
}
