#pragma once
// Text tests shared by the rule engine and the windows. Case folding is the
// plain ASCII one: only a-z become A-Z, every other character (accented
// letters included) compares as it is, whatever the locale.

#include <QString>
#include <QStringView>

QString pluralS(int n);
QString yesNoLetter(bool value);

// Blank characters are space, CR, LF and backspace; TAB is not blank.
bool isBlankChar(QChar c);
bool isBlank(QStringView text);
bool isDigitChar(QChar c);
// Digits and underscores.
int countNumeric(QStringView text);
bool isWordSeparator(QChar c);

QChar foldChar(QChar c);
QString foldCase(QStringView text);
// True when no letter of the text is lower case or belongs to a script
// without letter case (Chinese, Arabic, ...); a text without letters is upper case.
bool isUpperCaseText(QStringView text);

// Spaces and control characters (TAB, CR, LF, backspace, DEL, C1 ...): what
// trimming removes.
bool isSpaceOrControl(QChar c);
// A pattern without a visible character. A subject, header or sender row
// holding one would match nearly every text (every header line holds a
// space), so it matches nothing, and the editors refuse it as they refuse an
// empty one. Exception rows take their pattern as written.
bool isEmptyPattern(QStringView pattern);

// An empty pattern never occurs.
bool textContains(QStringView text, QStringView pattern, bool caseSensitive);
bool textEquals(QStringView text, QStringView pattern, bool caseSensitive);
// An empty pattern is true for any text.
bool textStartsWith(QStringView text, QStringView pattern, bool caseSensitive);
// An empty pattern is true for any text; one over 255 characters never matches.
bool textEndsWith(QStringView text, QStringView pattern, bool caseSensitive);
// True when the word stands in the text between separators (or the ends).
bool WholeWordCheck(QStringView text, QStringView word, bool caseSensitive);

// Parts of a sender address: the text after the first "@" (at most 255
// characters), or the whole address without "@"; the text before the first
// "@", or the whole address without "@".
QStringView senderDomain(QStringView address);
QStringView senderUserPart(QStringView address);

// One rule row's test. An operator text that names no operator matches
// nothing, and neither does a text operator with an empty pattern, except
// in an exception row.
bool matchSubject(QStringView subject, QStringView op, QStringView pattern, bool caseSensitive);
bool matchSender(QStringView sender, QStringView what, QStringView op, QStringView pattern);
bool matchHeaderLine(QStringView line, QStringView op, QStringView pattern, bool caseSensitive);
bool matchExceptSubject(QStringView subject, QStringView op, QStringView pattern, bool caseSensitive);

// Whether an operator's explanation line shows the row's pattern.
bool operatorShowsPattern(QStringView op);
