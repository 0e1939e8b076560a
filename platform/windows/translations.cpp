// The toolkit's catalogue on QTranslator, from the toolkit's translations folder.
#include "platform/windows/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

QTranslator* LoadToolkitTranslations(const QLocale& locale)
{
    auto translator = std::make_unique<QTranslator>();
    // load() tries each of the locale's languages in turn, from the most
    // specific name (qtbase_ja_JP) to the plain language (qtbase_ja).
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    // An empty catalogue is refused; the translator's destructor takes it
    // off the application's list again.
    if (!QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    translator->setParent(QCoreApplication::instance());
    return translator.release();
}
