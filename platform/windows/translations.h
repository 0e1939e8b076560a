// The toolkit's own texts (the standard buttons of message boxes, the folder
// chooser) in the user's language, as the desktop's other programs show them.
#pragma once

class QLocale;
class QTranslator;

// Loads the toolkit's catalogue "qtbase" for the languages of `locale` from
// the folder the toolkit's translations are installed in, and installs it on
// the running application, which owns it from then on. Returns the installed
// translator (deleting it uninstalls it), or nullptr when nothing was
// installed: no catalogue for those languages, an English one (it holds no
// texts, the toolkit's own being English), or no application running. The
// toolkit's texts then stay in English and nothing is reported. The
// program's own texts come from its string table and do not pass through
// this catalogue.
QTranslator* LoadToolkitTranslations(const QLocale& locale);
