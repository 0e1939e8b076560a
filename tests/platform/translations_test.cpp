// The toolkit's own texts follow the language its catalogue is loaded for.
#include <QAbstractButton>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <gtest/gtest.h>
#include <memory>

#include "platform/windows/translations.h"

// A message box's Yes and No read in Japanese once the Japanese catalogue is
// loaded, and stay English with nothing installed for an English locale (its
// catalogue is empty) and for a language the toolkit has no catalogue of.
// Each translator is deleted, and so uninstalled, before the next case and
// the next test.
TEST(ToolkitTranslations, StandardButtonsFollowTheLocale)
{
    struct Case {
        QLocale locale;
        bool loads;
        const char* yes;
        const char* no;
    };
    const Case cases[] = {
        {QLocale(QLocale::Japanese, QLocale::Japan), true, "はい(&Y)", "いいえ(&N)"},
        {QLocale(QLocale::English, QLocale::UnitedStates), false, "&Yes", "&No"},
        {QLocale(QLocale::Zulu, QLocale::SouthAfrica), false, "&Yes", "&No"},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<QTranslator> translator(LoadToolkitTranslations(c.locale));
        EXPECT_EQ(translator != nullptr, c.loads) << c.locale.name().toStdString();
        QMessageBox box(QMessageBox::Question, "title", "text", QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box.button(QMessageBox::Yes)->text().toStdString(), c.yes) << c.locale.name().toStdString();
        EXPECT_EQ(box.button(QMessageBox::No)->text().toStdString(), c.no) << c.locale.name().toStdString();
    }
}
