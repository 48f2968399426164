#include "operators/PasswordEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

using namespace lianbu::operators;

namespace {

// A password edit in a window of its own, focused.
struct Field
{
    QWidget window;
    QLineEdit *edit = new QLineEdit(&window);
    QLineEdit *other = new QLineEdit(&window);

    Field()
    {
        other->move(0, 40);
        configurePasswordEdit(edit);
        window.show();
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.windowHandle());
        edit->setFocus();
    }
};

// Types text key by key; characters without a key of their own arrive as a key event that
// carries the character, as a keyboard layout delivers them.
void typeText(QWidget *w, const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 128) {
            QTest::keyClick(w, char(c.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

} // namespace

class TestPasswordEdit : public QObject
{
    Q_OBJECT

private slots:
    void onlyDigitsAndAsciiLettersArePasswordCharacters()
    {
        for (QChar c : QStringLiteral("09AZaz5mQ"))
            QVERIFY2(isPasswordCharacter(c), qPrintable(QString(c)));
        for (QChar c : QStringLiteral("/:@[`{ -_.*é中\t"))
            QVERIFY2(!isPasswordCharacter(c), qPrintable(QString(c)));
        QCOMPARE(passwordCharactersOf(QStringLiteral("a1 b2-中C3\n")), QStringLiteral("a1b2C3"));
    }

    void theEditShowsStarsAndKeepsInputMethodsOut()
    {
        Field f;
        QCOMPARE(f.edit->maxLength(), 10);
        QCOMPARE(f.edit->echoMode(), QLineEdit::Password);
        QVERIFY(!f.edit->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(f.edit->inputMethodHints() & Qt::ImhLatinOnly);
        QVERIFY(f.edit->inputMethodHints() & Qt::ImhNoPredictiveText);
        QTest::keyClicks(f.edit, QStringLiteral("ab12"));
        QCOMPARE(f.edit->displayText(), QStringLiteral("****"));
    }

    void typedKeysPassOnlyWhenTheyAreLettersOrDigits()
    {
        Field f;
        typeText(f.edit, QStringLiteral("a-B ?9_中文x"));
        QCOMPARE(f.edit->text(), QStringLiteral("aB9x"));
        // Backspace works; so do the cursor keys and delete, which insert nothing.
        QTest::keyClick(f.edit, Qt::Key_Backspace);
        QCOMPARE(f.edit->text(), QStringLiteral("aB9"));
        QTest::keyClick(f.edit, Qt::Key_Home);
        QTest::keyClick(f.edit, Qt::Key_Delete);
        QTest::keyClicks(f.edit, QStringLiteral("Z"));
        QCOMPARE(f.edit->text(), QStringLiteral("ZB9"));
        // Tab still leaves the edit.
        QTest::keyClick(f.edit, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.other);
    }

    void elevenCharactersCannotBeTyped()
    {
        Field f;
        QTest::keyClicks(f.edit, QStringLiteral("abcdefghijk"));
        QCOMPARE(f.edit->text(), QStringLiteral("abcdefghij"));
    }

    void theKeyRuleByItself()
    {
        const auto passes = [](Qt::Key key, const QString &text, Qt::KeyboardModifiers mods = {}) {
            QKeyEvent e(QEvent::KeyPress, key, mods, text);
            return passwordKeyPasses(e);
        };
        QVERIFY(passes(Qt::Key_Backspace, QStringLiteral("\b")));
        QVERIFY(passes(Qt::Key_Return, QStringLiteral("\r")));
        QVERIFY(passes(Qt::Key_A, QStringLiteral("a")));
        QVERIFY(passes(Qt::Key_Left, QString()));
        QVERIFY(!passes(Qt::Key_Space, QStringLiteral(" ")));
        QVERIFY(!passes(Qt::Key_Exclam, QStringLiteral("!")));
        QVERIFY(!passes(Qt::Key_unknown, QStringLiteral("张")));
        QVERIFY(!passes(Qt::Key_unknown, QStringLiteral("a张")));
    }

    void pastedTextLosesItsOtherCharactersBeforeTheLimit()
    {
        Field f;
        QGuiApplication::clipboard()->setText(QStringLiteral("12-34 ab_CD 中5678zz"));
        QTest::keyClick(f.edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.edit->text(), QStringLiteral("1234abCD56"));
        // Pasting over a selection replaces it.
        f.edit->selectAll();
        QGuiApplication::clipboard()->setText(QStringLiteral("x y"));
        QTest::keyClick(f.edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.edit->text(), QStringLiteral("xy"));
        // Nothing pastable: nothing changes.
        QGuiApplication::clipboard()->setText(QStringLiteral("——"));
        QTest::keyClick(f.edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.edit->text(), QStringLiteral("xy"));
    }

    void textArrivingByOtherRoutesIsFiltered()
    {
        Field f;
        // An input method's commit, should one reach the edit.
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("张三ab"));
        QApplication::sendEvent(f.edit, &commit);
        QCOMPARE(f.edit->text(), QStringLiteral("ab"));
        // Inserted text (as a drop or the edit's own paste would insert it).
        f.edit->insert(QStringLiteral("c d!"));
        QCOMPARE(f.edit->text(), QStringLiteral("abcd"));
        QCOMPARE(f.edit->cursorPosition(), 4);
    }
};

QTEST_MAIN(TestPasswordEdit)
#include "test_password_edit.moc"
