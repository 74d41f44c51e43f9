#pragma once

// What the rule editor dialogs read from and write into one rule row, kept
// apart from the widgets so it runs headless. A row is handled as its list of
// cells, column 0 first; the caller copies it out of and back into its table.

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class RuleList;
struct MailboxConfig;

namespace ruleeditors {

using RowCells = QStringList;

// ---- Operator lists --------------------------------------------------------

// The operator choices of the editors: the text the user sees and the text the
// table stores. Each editor offers the first few of them.
struct OperatorChoice
{
    QString shown;
    QString stored;
};

const QList<OperatorChoice> &operatorChoices();

inline constexpr int textOperatorCount = 5; // Contains .. Ends with
inline constexpr int subjectOperatorCount = 7; // .. Is all UPPERCASE
inline constexpr int senderOperatorCount = 10; // .. Starts with a number

QStringList shownOperators(int count);
// The stored text at a list position; empty for "nothing chosen" (-1).
QString storedOperator(int position);
// The list position whose stored text equals `stored` exactly, or -1.
int operatorPosition(const QString &stored, int count);
// The pattern field is shown for the text operators and when nothing is chosen.
bool operatorTakesPattern(int position);

// What the user's receiving server found, offered by the header rule editor;
// the stored text goes into What. They read only the fields the mailbox's
// trusted server wrote.
const QList<OperatorChoice> &serverFindingChoices();
// The list position whose stored text equals `stored` exactly, or -1.
int serverFindingPosition(const QString &stored);
// "bulk level at least" takes its level in Matches.
bool findingTakesLevel(int position);
// One decimal digit 0..9, blanks around it aside.
bool isBulkLevel(const QString &text);

// ---- Texts -----------------------------------------------------------------

// Without leading and trailing blanks and control characters.
QString trimmedText(const QString &text);
// The text up to `marker`, or all of it when it does not hold the marker.
QString textBefore(const QString &text, const QString &marker);

const QStringList &subjectSuggestions();
const QStringList &headerSuggestions();
const QStringList &senderSuggestions();

// ---- Common cells ----------------------------------------------------------

// A rule row of a table as cells, and back (the picture of column 0 aside).
RowCells rowCells(const RuleList &table, int row);
void setRowCells(RuleList &table, int row, const RowCells &cells);

// Makes the row at least `columns` cells wide.
void ensureWidth(RowCells &cells, int columns);
// A fresh rule starts counting at 0; an existing count stays.
void fillEmptyHits(RowCells &cells, int hitsColumn);

// ---- Subject rules (columns: picture, What, Matches, Case, Del?, Hits) -------

struct SubjectRule
{
    int operatorPos = 0;
    QString pattern;
    bool caseSensitive = false;
    bool checkMark = true;

    static SubjectRule fromRow(const RowCells &cells);
    // The message for a rule that cannot be stored, or nothing.
    std::optional<QString> problem() const;
    void writeTo(RowCells &cells) const;
};

inline const QString subjectPatternMissing = QStringLiteral("Please enter the text to look for in the subject line.");

// ---- Header rules (columns: picture, What, Matches, Case, Del?, Hits) --------

enum class HeaderChoice { ReplyToMismatch, SenderEqualsTo, ToDoesNotContain, MessageHeader, ServerFinding };

struct HeaderRule
{
    HeaderChoice choice = HeaderChoice::MessageHeader;
    int operatorPos = 0;
    QString headerText = QStringLiteral("X-1");
    bool caseSensitive = false;
    QString toText;
    int mailbox = 0; // 0: no mailbox known
    int findingPos = 0; // in serverFindingChoices()
    QString bulkLevel;
    bool checkMark = true;

    static HeaderRule fromRow(const RowCells &cells);
    enum class Field { HeaderText, ToText, BulkLevel };
    struct Problem
    {
        QString message;
        Field field;
    };
    std::optional<Problem> problem() const;
    void writeTo(RowCells &cells) const;
};

// ---- Sender rules (columns: picture, What, Condition, Matches, Del?, Hits) ---

struct SenderRule
{
    bool emailAddress = false; // else the domain name
    int operatorPos = 2; // "Equals (exact match)"
    QString pattern;
    bool checkMark = true;

    static SenderRule fromRow(const RowCells &cells);
    std::optional<QString> problem() const;
    void writeTo(RowCells &cells) const;
};

// ---- Exception rules (columns: What, Condition, Matches, Case?, Hits, DMARC?) --

enum class ExceptionKind { Address, Domain, Subject };

// DMARC speaks of the From domain, so only address and domain rows can ask
// that it passed.
bool kindTakesDmarc(ExceptionKind kind);

struct ExceptionRule
{
    ExceptionKind kind = ExceptionKind::Address;
    QString address;
    QString domain;
    QString subject;
    int operatorPos = 0;
    bool caseSensitive = false;
    bool dmarcOnly = false; // "Only when DMARC passes"

    static ExceptionRule fromRow(const RowCells &cells);
    std::optional<QString> problem() const;
    void writeTo(RowCells &cells) const;
    const QString &chosenText() const;
};

// ---- Import dialog and imported rows -----------------------------------------

// The typed lines, each kept only when it differs (with regard to case) from
// the typed line before it; the line before the first counts as empty.
QStringList importedLines(const QString &typed);

// Cells of a row made from one imported line; the Hits cell stays empty.
void writeImportedKeyword(const QString &line, RowCells &cells);
void writeImportedAddress(const QString &line, RowCells &cells);

// ---- Table commands of the Spam settings window --------------------------------
// Rows are table rows: 1 is the first rule row; 0 or less means none selected.

// Only the one empty rule row a fresh table has.
bool holdsOnlyEmptyRule(const RuleList &table);
// Where Insert writes: the one empty rule row, else a new row put in at the
// selected row (which moves down) or, with none selected, at the end.
int makeInsertTarget(RuleList &table, int selectedRow);
// Where an import writes: the one empty rule row, else a new last row.
int makeAppendTarget(RuleList &table);
// With one rule row its cells are emptied, else the selected row goes.
void deleteRule(RuleList &table, int selectedRow);
// The row selected afterwards; the first and last rows stay where they are.
int moveRuleUp(RuleList &table, int selectedRow);
int moveRuleDown(RuleList &table, int selectedRow);
// Removes each rule row that equals the row above it in every cell.
void DeleteDupsFromGrid(RuleList &table);

enum class ImportKind { SubjectKeywords, ExceptionAddresses };
// Adds one rule row per line that holds a visible character; gives the
// number of rows written.
int importRules(RuleList &table, const QStringList &lines, ImportKind kind);

// ---- Mailbox lists -----------------------------------------------------------

struct MailboxChoice
{
    int number = 0;
    QString user;
    QString server;
};

// The mailboxes whose server is set, in number order.
QList<MailboxChoice> mailboxesWithServer(const std::array<MailboxConfig, 12> &mailboxes);

QString headerMailboxEntry(const MailboxChoice &mailbox); // "%d) %s - server %s"
QString chooserMailboxEntry(const MailboxChoice &mailbox); // "%d) Mailbox %s - Server %s"
// The number an entry starts with, up to its first ")"; 0 when there is none.
int leadingMailboxNumber(const QString &entry);

} // namespace ruleeditors
