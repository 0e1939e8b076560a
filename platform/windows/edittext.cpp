// Edit texts as the system's edits hold them: line breaks of a multi-line edit
// handed out as CR LF, lone CR and LF kept as they came, and an input limit
// counted in code-page bytes.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "platform/windows/controls.h"
#include "platform/system/cp932.h"

namespace {

// How a multi-line edit holds the line ends of its text: CR LF is a line
// break between paragraphs, a lone LF a line break inside one, and a lone CR
// the symbol for a carriage return. None of the three is a CP932 character,
// so none can stand for anything else.
constexpr char16_t kLineBreak = 0x2029;  // QChar::ParagraphSeparator
constexpr char16_t kLoneLf = 0x2028;     // QChar::LineSeparator
constexpr char16_t kLoneCr = 0x240D;     // SYMBOL FOR CARRIAGE RETURN

const char* const kLimitName = "skiffaEditByteLimit";

QString ToMultiLine(const std::string& bytes)
{
    const QString text = cp932::ToQString(bytes);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += QChar(kLineBreak);
            ++i;
        } else if (text[i] == u'\n') {
            out += QChar(kLoneLf);
        } else if (text[i] == u'\r') {
            out += QChar(kLoneCr);
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FromMultiLine(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.count(QChar(kLineBreak)));
    for (const QChar c : text) {
        if (c == QChar(kLineBreak))
            out += QStringLiteral("\r\n");
        else if (c == QChar(kLoneLf))
            out += u'\n';
        else if (c == QChar(kLoneCr))
            out += u'\r';
        else
            out += c;
    }
    return cp932::FromQString(out);
}

bool IsMultiLine(const QWidget* edit)
{
    return qobject_cast<const QPlainTextEdit*>(edit) != nullptr;
}

// The edit's text as its widget holds it.
QString HeldText(const QWidget* edit)
{
    if (const auto* e = qobject_cast<const QLineEdit*>(edit))
        return e->text();
    if (const auto* p = qobject_cast<const QPlainTextEdit*>(edit))
        return p->document()->toRawText();
    return {};
}

size_t BytesOf(bool multiLine, const QString& held)
{
    return multiLine ? FromMultiLine(held).size() : cp932::FromQString(held).size();
}

// Keeps the user from bringing an edit's text past a number of bytes: of
// what a change inserted, only the leading part that fits stays.
class EditByteLimit : public QObject {
public:
    EditByteLimit(QWidget* edit, size_t maxBytes)
        : QObject(edit), m_edit(edit), m_multiLine(IsMultiLine(edit)), m_max(maxBytes),
          m_accepted(HeldText(edit))
    {
        setObjectName(QLatin1String(kLimitName));
        if (auto* e = qobject_cast<QLineEdit*>(edit))
            connect(e, &QLineEdit::textChanged, this, [this] { OnChanged(); });
        else if (auto* p = qobject_cast<QPlainTextEdit*>(edit))
            connect(p, &QPlainTextEdit::textChanged, this, [this] { OnChanged(); });
    }

    void SetMax(size_t maxBytes) { m_max = maxBytes; }
    // The program's own text is taken whole.
    void Suspend(bool suspend)
    {
        m_busy = suspend;
        if (!suspend)
            m_accepted = HeldText(m_edit);
    }

private:
    void OnChanged()
    {
        if (m_busy)
            return;
        const QString now = HeldText(m_edit);
        const size_t bytes = BytesOf(m_multiLine, now);
        if (bytes <= m_max || bytes <= BytesOf(m_multiLine, m_accepted)) {
            m_accepted = now;
            return;
        }
        qsizetype begin = 0;
        qsizetype end = now.size();
        InsertedRange(now, begin, end);
        size_t used = BytesOf(m_multiLine, now.left(begin)) + BytesOf(m_multiLine, now.mid(end));
        qsizetype keep = begin;
        while (keep < end) {
            const qsizetype len = now[keep].isHighSurrogate() && keep + 1 < end ? 2 : 1;
            const size_t charBytes = BytesOf(m_multiLine, now.mid(keep, len));
            if (used + charBytes > m_max)
                break;
            used += charBytes;
            keep += len;
        }
        Cut(now, keep, end);
        m_accepted = HeldText(m_edit);
    }

    // Where `now` differs from the text last accepted: [begin, end) of `now`,
    // never splitting a surrogate pair.
    void InsertedRange(const QString& now, qsizetype& begin, qsizetype& end) const
    {
        const qsizetype shortest = std::min(now.size(), m_accepted.size());
        begin = 0;
        while (begin < shortest && now[begin] == m_accepted[begin])
            ++begin;
        if (begin > 0 && now[begin - 1].isHighSurrogate())
            --begin;
        qsizetype same = 0;
        while (same < shortest - begin &&
               now[now.size() - 1 - same] == m_accepted[m_accepted.size() - 1 - same])
            ++same;
        end = now.size() - same;
        if (end < now.size() && now[end].isLowSurrogate())
            ++end;
    }

    void Cut(const QString& now, qsizetype from, qsizetype to)
    {
        m_busy = true;
        if (auto* e = qobject_cast<QLineEdit*>(m_edit)) {
            e->setText(QString(now).remove(from, to - from));
            e->setCursorPosition(static_cast<int>(from));
        } else if (auto* p = qobject_cast<QPlainTextEdit*>(m_edit)) {
            // Plain-text positions count one per character and one per
            // paragraph break, as the held text does.
            QTextCursor cut(p->document());
            cut.setPosition(static_cast<int>(from));
            cut.setPosition(static_cast<int>(to), QTextCursor::KeepAnchor);
            cut.removeSelectedText();
            QTextCursor caret = p->textCursor();
            caret.setPosition(static_cast<int>(from));
            p->setTextCursor(caret);
        }
        m_busy = false;
    }

    QWidget* m_edit;
    bool m_multiLine;
    size_t m_max;
    QString m_accepted;
    bool m_busy = false;
};

EditByteLimit* LimitOf(QWidget* edit)
{
    return dynamic_cast<EditByteLimit*>(
        edit->findChild<QObject*>(QLatin1String(kLimitName), Qt::FindDirectChildrenOnly));
}

}  // namespace

std::string GetEditText(const QWidget* edit)
{
    const QString held = HeldText(edit);
    return IsMultiLine(edit) ? FromMultiLine(held) : cp932::FromQString(held);
}

void SetEditText(QWidget* edit, const std::string& text)
{
    if (edit == nullptr)
        return;
    EditByteLimit* limit = LimitOf(edit);
    if (limit != nullptr)
        limit->Suspend(true);
    if (auto* e = qobject_cast<QLineEdit*>(edit)) {
        const QString q = cp932::ToQString(text);
        if (e->text() != q)
            e->setText(q);
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(edit)) {
        const QString q = ToMultiLine(text);
        if (p->document()->toRawText() != q)
            p->setPlainText(q);
    }
    if (limit != nullptr)
        limit->Suspend(false);
}

void LimitEditText(QWidget* edit, size_t maxBytes)
{
    if (edit == nullptr || (qobject_cast<QLineEdit*>(edit) == nullptr && !IsMultiLine(edit)))
        return;
    if (EditByteLimit* limit = LimitOf(edit)) {
        limit->SetMax(maxBytes);
        limit->Suspend(false);  // the text there now is kept
    } else {
        new EditByteLimit(edit, maxBytes);  // owned by the edit
    }
}
