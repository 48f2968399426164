#pragma once

#include <QString>

class QKeyEvent;
class QLineEdit;

namespace lianbu::operators {

// The characters a password may hold: digits and ASCII letters.
bool isPasswordCharacter(QChar c);

// Whether a key typed into a password edit reaches it: backspace, Enter, a digit or an ASCII
// letter. Keys that carry no printable character (arrows, delete, Tab, Escape, editing
// shortcuts such as Ctrl+Z) are not characters and pass too; every other character is dropped.
bool passwordKeyPasses(const QKeyEvent &event);

// Text as it may enter a password edit: every character that is not a password character is
// dropped.
QString passwordCharactersOf(const QString &text);

// Makes `edit` a password edit of the program: at most 10 characters, "*" for each, and only
// password characters by any route — typed (see passwordKeyPasses), pasted (shortcut, context
// menu, middle button or drop: the other characters are dropped, then the 10-character limit
// applies) or committed by an input method (input methods are switched off for the edit, and a
// validator drops whatever still arrives). The edit keeps every other behaviour of a QLineEdit.
void configurePasswordEdit(QLineEdit *edit);

} // namespace lianbu::operators
