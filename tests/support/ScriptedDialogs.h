#pragma once

#include "platform/Dialogs.h"

#include <QFont>
#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace lianbu::test {

// A dialog service that never shows anything: it records every request and answers from
// queues the test fills. With an empty queue a box gets its default button and a common
// dialog is cancelled; the record says so (answeredByDefault), so a test can tell an
// unexpected box from an expected one.
class ScriptedDialogs final : public DialogService
{
public:
    struct Box
    {
        BoxRequest request;
        BoxButton answer = BoxButton::None;
        bool answeredByDefault = false;
        bool answerNotOffered = false; // a queued answer that is not one of the box's buttons
    };
    struct SaveFile
    {
        SaveFileRequest request;
        QString answer;
        bool answeredByDefault = false;
    };
    struct OpenFile
    {
        OpenFileRequest request;
        QString answer;
        bool answeredByDefault = false;
    };
    enum class DialogKind { Print, PageSetup, Font };
    struct CommonDialog
    {
        DialogKind kind = DialogKind::Print;
        bool accepted = false;
        bool answeredByDefault = false;
        QFont fontBefore; // font dialogs only
    };

    // Answers, consumed in order.
    void queueBoxAnswer(BoxButton answer) { m_boxAnswers.enqueue(answer); }
    // What the operator types ("" = cancel); a name without an extension gets the default one.
    void queueSaveFileName(const QString &path) { m_saveAnswers.enqueue(path); }
    // The same with the filter the operator picks (one of the request's filters, by its text).
    void queueSaveFileName(const QString &path, const QString &filter)
    {
        m_saveAnswers.enqueue(path);
        m_filterAnswers.enqueue(filter);
    }
    // The file the operator opens ("" = cancel).
    void queueOpenFileName(const QString &path) { m_openAnswers.enqueue(path); }
    // The password typed (a null QString = cancel); the labels asked are kept in passwordPrompts.
    void queuePassword(const QString &password) { m_passwordAnswers.enqueue(password); }
    const QStringList &passwordPrompts() const { return m_passwordPrompts; }
    void queuePrintAnswer(bool accept) { m_printAnswers.enqueue(accept); }
    void queuePageSetupAnswer(bool accept) { m_pageSetupAnswers.enqueue(accept); }
    // A chosen font (accepted) or std::nullopt (cancelled).
    void queueFontAnswer(std::optional<QFont> font) { m_fontAnswers.enqueue(std::move(font)); }

    // Called while a box is "open", before it is answered (to look at program state then).
    std::function<void(const BoxRequest &)> whileBoxOpen;

    const QList<Box> &boxes() const { return m_boxes; }
    const QList<SaveFile> &saveFiles() const { return m_saveFiles; }
    const QList<OpenFile> &openFiles() const { return m_openFiles; }
    const QList<CommonDialog> &commonDialogs() const { return m_commonDialogs; }
    int count(DialogKind kind) const;
    // Every recorded box as "caption: text" lines, for a failing check to say which box came.
    QByteArray boxesText() const;
    // The last box (a default-constructed one when none was asked).
    Box lastBox() const { return m_boxes.isEmpty() ? Box{} : m_boxes.back(); }
    // Answers queued but never asked for.
    qsizetype pendingAnswers() const;

    void clear();

    BoxButton messageBox(QWidget *parent, const BoxRequest &request) override;
    QString saveFileName(QWidget *parent, const SaveFileRequest &request) override;
    QString openFileName(QWidget *parent, const OpenFileRequest &request) override;
    QString passwordInput(QWidget *parent, const QString &caption, const QString &label) override;
    bool printDialog(QWidget *parent, QPrinter *printer) override;
    bool pageSetupDialog(QWidget *parent, QPrinter *printer) override;
    bool fontDialog(QWidget *parent, QFont *font) override;

private:
    QList<Box> m_boxes;
    QList<SaveFile> m_saveFiles;
    QList<OpenFile> m_openFiles;
    QQueue<QString> m_filterAnswers;
    QQueue<QString> m_openAnswers;
    QQueue<QString> m_passwordAnswers;
    QStringList m_passwordPrompts;
    QList<CommonDialog> m_commonDialogs;
    QQueue<BoxButton> m_boxAnswers;
    QQueue<QString> m_saveAnswers;
    QQueue<bool> m_printAnswers;
    QQueue<bool> m_pageSetupAnswers;
    QQueue<std::optional<QFont>> m_fontAnswers;
};

} // namespace lianbu::test
