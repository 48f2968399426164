#include "tests/support/ScriptedDialogs.h"

#include <QFileInfo>
#include <QtGlobal>

namespace lianbu::test {

int ScriptedDialogs::count(DialogKind kind) const
{
    int n = 0;
    for (const CommonDialog &d : m_commonDialogs)
        n += d.kind == kind ? 1 : 0;
    return n;
}

QByteArray ScriptedDialogs::boxesText() const
{
    QStringList lines;
    for (const Box &box : m_boxes)
        lines << box.request.caption + QStringLiteral(": ") + box.request.text;
    return lines.join(QLatin1Char('\n')).toUtf8();
}

qsizetype ScriptedDialogs::pendingAnswers() const
{
    return m_boxAnswers.size() + m_saveAnswers.size() + m_printAnswers.size() + m_pageSetupAnswers.size()
           + m_fontAnswers.size() + m_openAnswers.size() + m_passwordAnswers.size();
}

void ScriptedDialogs::clear()
{
    m_boxes.clear();
    m_saveFiles.clear();
    m_openFiles.clear();
    m_commonDialogs.clear();
    m_openAnswers.clear();
    m_passwordAnswers.clear();
    m_passwordPrompts.clear();
    m_filterAnswers.clear();
    m_boxAnswers.clear();
    m_saveAnswers.clear();
    m_printAnswers.clear();
    m_pageSetupAnswers.clear();
    m_fontAnswers.clear();
}

BoxButton ScriptedDialogs::messageBox(QWidget *, const BoxRequest &request)
{
    Box box;
    box.request = request;
    if (m_boxAnswers.isEmpty()) {
        box.answer = request.defaultButton;
        box.answeredByDefault = true;
    } else {
        box.answer = m_boxAnswers.dequeue();
        // None stands for a box closed without a button.
        box.answerNotOffered = box.answer != BoxButton::None && !request.buttons.contains(box.answer);
        if (box.answerNotOffered)
            qWarning("ScriptedDialogs: the queued answer is not a button of the box \"%s\"",
                     qUtf8Printable(request.caption));
    }
    m_boxes.append(box);
    if (whileBoxOpen)
        whileBoxOpen(request);
    return box.answer;
}

QString ScriptedDialogs::saveFileName(QWidget *, const SaveFileRequest &request)
{
    SaveFile record;
    record.request = request;
    if (m_saveAnswers.isEmpty())
        record.answeredByDefault = true;
    else
        record.answer = m_saveAnswers.dequeue();
    // Like the real dialog: a typed name without an extension gets the default one.
    if (!record.answer.isEmpty() && !request.defaultSuffix.isEmpty() && QFileInfo(record.answer).suffix().isEmpty())
        record.answer += QLatin1Char('.') + request.defaultSuffix;
    if (request.chosenFilter) {
        // A queued filter, else the one the dialog opened with, else the first.
        QString filter = m_filterAnswers.isEmpty() ? QString() : m_filterAnswers.dequeue();
        if (filter.isEmpty())
            filter = request.selectedFilter;
        if (filter.isEmpty())
            filter = request.filter.split(QStringLiteral(";;")).value(0);
        *request.chosenFilter = filter;
    }
    m_saveFiles.append(record);
    return record.answer;
}

QString ScriptedDialogs::openFileName(QWidget *, const OpenFileRequest &request)
{
    OpenFile record;
    record.request = request;
    if (m_openAnswers.isEmpty())
        record.answeredByDefault = true;
    else
        record.answer = m_openAnswers.dequeue();
    m_openFiles.append(record);
    return record.answer;
}

QString ScriptedDialogs::passwordInput(QWidget *, const QString &, const QString &label)
{
    m_passwordPrompts.append(label);
    return m_passwordAnswers.isEmpty() ? QString() : m_passwordAnswers.dequeue();
}

bool ScriptedDialogs::printDialog(QWidget *, QPrinter *)
{
    CommonDialog record;
    record.kind = DialogKind::Print;
    if (m_printAnswers.isEmpty())
        record.answeredByDefault = true;
    else
        record.accepted = m_printAnswers.dequeue();
    m_commonDialogs.append(record);
    return record.accepted;
}

bool ScriptedDialogs::pageSetupDialog(QWidget *, QPrinter *)
{
    CommonDialog record;
    record.kind = DialogKind::PageSetup;
    if (m_pageSetupAnswers.isEmpty())
        record.answeredByDefault = true;
    else
        record.accepted = m_pageSetupAnswers.dequeue();
    m_commonDialogs.append(record);
    return record.accepted;
}

bool ScriptedDialogs::fontDialog(QWidget *, QFont *font)
{
    CommonDialog record;
    record.kind = DialogKind::Font;
    if (font)
        record.fontBefore = *font;
    if (m_fontAnswers.isEmpty()) {
        record.answeredByDefault = true;
    } else {
        const std::optional<QFont> answer = m_fontAnswers.dequeue();
        record.accepted = answer.has_value() && font;
        if (record.accepted)
            *font = *answer;
    }
    m_commonDialogs.append(record);
    return record.accepted;
}

} // namespace lianbu::test
