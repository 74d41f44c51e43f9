#include "settings/ruleeditors.h"

#include "rules/rulelist.h"
#include "rules/ruletexts.h"
#include "rules/textmatch.h"
#include "settings/generalsettings.h"

namespace ruleeditors {

namespace {

QString cell(const RowCells &cells, int column)
{
    return column < cells.size() ? cells.at(column) : QString();
}

QString yesNo(bool on)
{
    return on ? QString(RuleText::Yes) : QString(RuleText::No);
}

// The position among the first `count` choices whose stored text equals
// `stored` exactly, or -1.
int choicePosition(const QList<OperatorChoice> &choices, const QString &stored, int count)
{
    for (int i = 0; i < count && i < choices.size(); ++i) {
        if (choices.at(i).stored == stored)
            return i;
    }
    return -1;
}

// The stored text at a list position; empty for "nothing chosen" (-1).
QString storedChoice(const QList<OperatorChoice> &choices, int position)
{
    if (position < 0 || position >= choices.size())
        return {};
    return choices.at(position).stored;
}

// Writes What when an operator is chosen; with none chosen the stored text stays.
void writeOperator(RowCells &cells, int column, int position)
{
    if (position >= 0)
        cells[column] = storedOperator(position);
}

} // namespace

const QList<OperatorChoice> &operatorChoices()
{
    static const QList<OperatorChoice> choices = {
        {QStringLiteral("Contains"), RuleText::Contains},
        {QStringLiteral("Contains (whole word)"), RuleText::ContainsWholeWord},
        {QStringLiteral("Equals (exact match)"), RuleText::Equals},
        {QStringLiteral("Starts with"), RuleText::StartsWith},
        {QStringLiteral("Ends with"), RuleText::EndsWith},
        {QStringLiteral("Is blank or empty"), RuleText::IsBlank},
        {QStringLiteral("Is all UPPERCASE"), RuleText::IsUppercase},
        {QStringLiteral("Is ALL numeric"), RuleText::AllNumeric},
        {QStringLiteral("Is at least 1/2 numeric"), RuleText::HalfNumeric},
        {QStringLiteral("Starts with a number"), RuleText::FirstCharNumeric},
    };
    return choices;
}

QStringList shownOperators(int count)
{
    QStringList shown;
    for (int i = 0; i < count && i < operatorChoices().size(); ++i)
        shown << operatorChoices().at(i).shown;
    return shown;
}

QString storedOperator(int position)
{
    return storedChoice(operatorChoices(), position);
}

int operatorPosition(const QString &stored, int count)
{
    return choicePosition(operatorChoices(), stored, count);
}

bool operatorTakesPattern(int position)
{
    return position < textOperatorCount;
}

const QList<OperatorChoice> &serverFindingChoices()
{
    static const QList<OperatorChoice> choices = {
        {QStringLiteral("The sender's domain fails DMARC"), RuleText::FailsDmarc},
        {QStringLiteral("The sender's domain fails DKIM"), RuleText::FailsDkim},
        {QStringLiteral("The sender fails SPF"), RuleText::FailsSpf},
        {QStringLiteral("The sender's domain passes DMARC"), RuleText::PassesDmarc},
        {QStringLiteral("The server judged it spam"), RuleText::HasSpamVerdict},
        {QStringLiteral("The bulk level is at least"), RuleText::BulkLevelAtLeast},
    };
    return choices;
}

int serverFindingPosition(const QString &stored)
{
    return choicePosition(serverFindingChoices(), stored, int(serverFindingChoices().size()));
}

bool findingTakesLevel(int position)
{
    return storedChoice(serverFindingChoices(), position) == RuleText::BulkLevelAtLeast;
}

bool isBulkLevel(const QString &text)
{
    const QString level = trimmedText(text);
    return level.size() == 1 && level.at(0) >= u'0' && level.at(0) <= u'9';
}

QString trimmedText(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrControl(text.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrControl(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString textBefore(const QString &text, const QString &marker)
{
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? text : text.left(at);
}

const QStringList &subjectSuggestions()
{
    static const QStringList list = {"!!",          "$$",          "==",           "adult site", "adults only",
                                     "advertise",   "advertising", "bulk",         "buy",        "call 800",
                                     "dollar",      "exciting",    "extra income", "for only",   "free",
                                     "guaranteed",  "help wanted", "huge",         "income",     "incredible deal",
                                     "lottery",     "make money",  "market",       "million",    "MLM",
                                     "mlm",         "naked",       "nude",         "offer",      "opportunity",
                                     "please read", "profit",      "read this",    "rich",       "save $",
                                     "secret",      "sex",         "spam",         "specials",   "weight",
                                     "win $",       "women",       "work at home", "XXX"};
    return list;
}

const QStringList &headerSuggestions()
{
    static const QStringList list = {"X-1",
                                     "X-Advertisement",
                                     "X-Authentication-Warning",
                                     "X-BulkEmail",
                                     "X-Distribution: Bulk",
                                     "X-Distribution: Mass",
                                     "X-Distribution: Moderate",
                                     "X-Mailer: Emailer Platinum",
                                     "X-Mailer: Extractor",
                                     "X-Mailer: eMarksman",
                                     "X-Mailer: Floodgate",
                                     "X-Mailer: Group Mail",
                                     "X-Mailer: Millennium Mailer",
                                     "X-Removal",
                                     "X-Sender: News Breaker"};
    return list;
}

const QStringList &senderSuggestions()
{
    static const QStringList list = {"bigbucks",    "bulkemail", "business",   "cableguys", "canceranswer",
                                     "careers",     "cash",      "casino",     "clubmail",  "credaid",
                                     "credaide",    "credit",    "directmail", "dontreply", "energy",
                                     "erotic",      "floodgate", "fortune",    "freedom",   "freesoftware",
                                     "friend",      "friends",   "global",     "golf",      "gorgeousgirls",
                                     "health",      "help",      "helpcrdt",   "homebiz",   "hotbabe69",
                                     "important",   "info",      "internet",   "market",    "nobody",
                                     "opportunity", "platinum",  "politics",   "profit",    "promotion",
                                     "psychic",     "remove",    "sales",      "scoop",     "selective.marketing",
                                     "sender",      "sexy",      "stop",       "stopnow",   "success",
                                     "video",       "virtual",   "wealth",     "xxx"};
    return list;
}

RowCells rowCells(const RuleList &table, int row)
{
    RowCells cells;
    for (int column = 0; column < table.columnCount(); ++column)
        cells << table.cell(column, row);
    return cells;
}

void setRowCells(RuleList &table, int row, const RowCells &cells)
{
    for (int column = 0; column < table.columnCount() && column < cells.size(); ++column)
        table.setCell(column, row, cells.at(column));
}

void ensureWidth(RowCells &cells, int columns)
{
    while (cells.size() < columns)
        cells.append(QString());
}

void fillEmptyHits(RowCells &cells, int hitsColumn)
{
    ensureWidth(cells, hitsColumn + 1);
    if (cells.at(hitsColumn).isEmpty())
        cells[hitsColumn] = QStringLiteral("0");
}

// ---- Subject -----------------------------------------------------------------

SubjectRule SubjectRule::fromRow(const RowCells &cells)
{
    SubjectRule rule;
    rule.operatorPos = operatorPosition(cell(cells, SubjectCol::What), subjectOperatorCount);
    rule.pattern = cell(cells, SubjectCol::Matches);
    rule.caseSensitive = cell(cells, SubjectCol::Case) == RuleText::Yes;
    rule.checkMark = cell(cells, SubjectCol::Del) == RuleText::Yes;
    return rule;
}

std::optional<QString> SubjectRule::problem() const
{
    if (operatorTakesPattern(operatorPos) && isEmptyPattern(pattern))
        return subjectPatternMissing;
    return std::nullopt;
}

void SubjectRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, SubjectCol::Count);
    writeOperator(cells, SubjectCol::What, operatorPos);
    if (operatorTakesPattern(operatorPos)) {
        cells[SubjectCol::Matches] = trimmedText(pattern);
        cells[SubjectCol::Case] = yesNo(caseSensitive);
    } else {
        cells[SubjectCol::Matches].clear();
        cells[SubjectCol::Case].clear();
    }
    cells[SubjectCol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, SubjectCol::Hits);
}

// ---- Header ------------------------------------------------------------------

HeaderRule HeaderRule::fromRow(const RowCells &cells)
{
    HeaderRule rule;
    const QString what = cell(cells, HeaderCol::What);
    const QString matches = cell(cells, HeaderCol::Matches);
    rule.operatorPos = operatorPosition(what, textOperatorCount);
    rule.headerText = matches;
    rule.caseSensitive = cell(cells, HeaderCol::Case) == RuleText::Yes;
    rule.checkMark = cell(cells, HeaderCol::Del) == RuleText::Yes;
    const int finding = serverFindingPosition(what);
    if (finding >= 0) {
        rule.choice = HeaderChoice::ServerFinding;
        rule.findingPos = finding;
        rule.bulkLevel = findingTakesLevel(finding) ? matches : QString();
        rule.headerText.clear();
    } else if (matches == RuleText::DoesNotMatchReplyTo) {
        rule.choice = HeaderChoice::ReplyToMismatch;
        rule.headerText.clear();
    } else if (matches == RuleText::EqualsToField) {
        rule.choice = HeaderChoice::SenderEqualsTo;
        rule.headerText.clear();
    } else if (what.contains(RuleText::ToDoesNotContain)) {
        rule.choice = HeaderChoice::ToDoesNotContain;
        rule.toText = textBefore(matches, RuleText::MailBoxMarker);
        const qsizetype at = matches.indexOf(RuleText::MailBoxMarker);
        if (at >= 0) {
            bool ok = false;
            const int number = matches.mid(at + RuleText::MailBoxMarker.size()).trimmed().toInt(&ok);
            rule.mailbox = ok && number > 0 ? number : 0;
        }
    }
    return rule;
}

std::optional<HeaderRule::Problem> HeaderRule::problem() const
{
    if (choice == HeaderChoice::MessageHeader && isEmptyPattern(headerText))
        return Problem{QStringLiteral("The header text cannot be blank"), Field::HeaderText};
    // Only the address before " - MailBox #" is looked for in the To field.
    if (choice == HeaderChoice::ToDoesNotContain && isEmptyPattern(textBefore(toText, RuleText::MailBoxMarker)))
        return Problem{QStringLiteral("The TO field cannot be blank"), Field::ToText};
    if (choice == HeaderChoice::ServerFinding && findingTakesLevel(findingPos) && !isBulkLevel(bulkLevel))
        return Problem{QStringLiteral("The bulk level must be a number from 0 to 9"), Field::BulkLevel};
    return std::nullopt;
}

void HeaderRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, HeaderCol::Count);
    writeOperator(cells, HeaderCol::What, operatorPos);
    cells[HeaderCol::Matches] = headerText;
    cells[HeaderCol::Case] = yesNo(caseSensitive);
    cells[HeaderCol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, HeaderCol::Hits);

    switch (choice) {
    case HeaderChoice::MessageHeader:
        return;
    case HeaderChoice::ReplyToMismatch:
        cells[HeaderCol::What] = RuleText::Sender;
        cells[HeaderCol::Matches] = RuleText::DoesNotMatchReplyTo;
        break;
    case HeaderChoice::SenderEqualsTo:
        cells[HeaderCol::What] = RuleText::Sender;
        cells[HeaderCol::Matches] = RuleText::EqualsToField;
        break;
    case HeaderChoice::ToDoesNotContain:
        cells[HeaderCol::What] = RuleText::ToDoesNotContain;
        cells[HeaderCol::Matches] = textBefore(toText, RuleText::MailBoxMarker) + RuleText::MailBoxMarker
                                    + (mailbox > 0 ? QString::number(mailbox) : QString());
        break;
    case HeaderChoice::ServerFinding:
        cells[HeaderCol::What] = storedChoice(serverFindingChoices(), findingPos);
        cells[HeaderCol::Matches] = findingTakesLevel(findingPos) ? trimmedText(bulkLevel) : QString();
        break;
    }
    cells[HeaderCol::Case] = RuleText::No;
}

// ---- Sender ------------------------------------------------------------------

SenderRule SenderRule::fromRow(const RowCells &cells)
{
    SenderRule rule;
    rule.emailAddress = cell(cells, SenderCol::What) == RuleText::EmailAddress;
    rule.operatorPos = operatorPosition(cell(cells, SenderCol::Condition), senderOperatorCount);
    rule.pattern = operatorTakesPattern(rule.operatorPos) ? cell(cells, SenderCol::Matches) : QString();
    rule.checkMark = cell(cells, SenderCol::Del) == RuleText::Yes;
    return rule;
}

std::optional<QString> SenderRule::problem() const
{
    if (operatorTakesPattern(operatorPos) && isEmptyPattern(pattern))
        return QStringLiteral("The Sender field cannot be left blank.");
    return std::nullopt;
}

void SenderRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, SenderCol::Count);
    cells[SenderCol::What] = emailAddress ? RuleText::EmailAddress : RuleText::DomainName;
    writeOperator(cells, SenderCol::Condition, operatorPos);
    cells[SenderCol::Matches] = operatorTakesPattern(operatorPos) ? trimmedText(pattern) : QString();
    cells[SenderCol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, SenderCol::Hits);
}

// ---- Exception ---------------------------------------------------------------

ExceptionRule ExceptionRule::fromRow(const RowCells &cells)
{
    ExceptionRule rule;
    const QString what = cell(cells, ExceptCol::What);
    const QString matches = cell(cells, ExceptCol::Matches);
    if (what == RuleText::DomainName) {
        rule.kind = ExceptionKind::Domain;
        rule.domain = matches;
    } else if (what == RuleText::EmailAddress) {
        rule.kind = ExceptionKind::Address;
        rule.address = matches;
    } else {
        rule.kind = ExceptionKind::Subject;
        rule.subject = matches;
    }
    const int position = operatorPosition(cell(cells, ExceptCol::Condition), textOperatorCount);
    if (position >= 0)
        rule.operatorPos = position;
    rule.caseSensitive = cell(cells, ExceptCol::Case) == RuleText::Yes;
    rule.dmarcOnly = cell(cells, ExceptCol::DmarcOnly) == RuleText::Yes;
    return rule;
}

bool kindTakesDmarc(ExceptionKind kind)
{
    return kind != ExceptionKind::Subject;
}

const QString &ExceptionRule::chosenText() const
{
    switch (kind) {
    case ExceptionKind::Address:
        return address;
    case ExceptionKind::Domain:
        return domain;
    case ExceptionKind::Subject:
        break;
    }
    return subject;
}

std::optional<QString> ExceptionRule::problem() const
{
    // Only an empty field is refused: an exception can only keep mail, so a
    // field of blanks can never cause a deletion.
    if (!chosenText().isEmpty())
        return std::nullopt;
    switch (kind) {
    case ExceptionKind::Address:
        return QStringLiteral("The email line cannot be blank");
    case ExceptionKind::Domain:
        return QStringLiteral("The domain line cannot be blank");
    case ExceptionKind::Subject:
        break;
    }
    return QStringLiteral("The subject line cannot be blank");
}

void ExceptionRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, ExceptCol::Count);
    switch (kind) {
    case ExceptionKind::Address:
        cells[ExceptCol::What] = RuleText::EmailAddress;
        cells[ExceptCol::Condition] = RuleText::Equals;
        break;
    case ExceptionKind::Domain:
        cells[ExceptCol::What] = RuleText::DomainName;
        cells[ExceptCol::Condition] = RuleText::Equals;
        break;
    case ExceptionKind::Subject:
        cells[ExceptCol::What] = RuleText::Subject;
        writeOperator(cells, ExceptCol::Condition, operatorPos);
        break;
    }
    cells[ExceptCol::Matches] = chosenText();
    cells[ExceptCol::Case] = yesNo(caseSensitive);
    fillEmptyHits(cells, ExceptCol::Hits);
    // Empty rather than "No", so a table without such rules saves without the column.
    cells[ExceptCol::DmarcOnly] = dmarcOnly && kindTakesDmarc(kind) ? QString(RuleText::Yes) : QString();
}

// ---- Import --------------------------------------------------------------------

QStringList importedLines(const QString &typed)
{
    if (typed.isEmpty())
        return {};
    QString text = typed;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QStringList kept;
    QString previous;
    for (const QString &line : text.split(u'\n')) {
        if (line != previous)
            kept << line;
        previous = line;
    }
    return kept;
}

void writeImportedKeyword(const QString &line, RowCells &cells)
{
    ensureWidth(cells, SubjectCol::Count);
    cells[SubjectCol::What] = RuleText::ContainsWholeWord;
    cells[SubjectCol::Matches] = trimmedText(line);
    cells[SubjectCol::Case] = RuleText::No;
    cells[SubjectCol::Del] = RuleText::Yes;
}

void writeImportedAddress(const QString &line, RowCells &cells)
{
    ensureWidth(cells, ExceptCol::Count);
    cells[ExceptCol::What] = RuleText::EmailAddress;
    cells[ExceptCol::Condition] = RuleText::Equals;
    cells[ExceptCol::Matches] = trimmedText(line);
    cells[ExceptCol::Case] = RuleText::No;
}

// ---- Table commands --------------------------------------------------------------

bool holdsOnlyEmptyRule(const RuleList &table)
{
    return table.rowCount() == 2 && table.cell(1, 1).isEmpty();
}

int makeInsertTarget(RuleList &table, int selectedRow)
{
    if (holdsOnlyEmptyRule(table))
        return 1;
    const int row = selectedRow >= 1 && selectedRow < table.rowCount() ? selectedRow : table.rowCount();
    table.insertRow(row);
    return row;
}

int makeAppendTarget(RuleList &table)
{
    if (holdsOnlyEmptyRule(table))
        return 1;
    const int row = table.rowCount();
    table.insertRow(row);
    return row;
}

void deleteRule(RuleList &table, int selectedRow)
{
    if (table.rowCount() < 3) {
        for (int column = 0; column < table.columnCount(); ++column)
            table.setCell(column, 1, QString());
        table.setPicture(1, MarkState::None);
        return;
    }
    if (selectedRow >= 1 && selectedRow < table.rowCount())
        table.removeRow(selectedRow);
}

int moveRuleUp(RuleList &table, int selectedRow)
{
    if (selectedRow < 2 || selectedRow >= table.rowCount())
        return selectedRow;
    table.swapRows(selectedRow, selectedRow - 1);
    return selectedRow - 1;
}

int moveRuleDown(RuleList &table, int selectedRow)
{
    if (selectedRow < 1 || selectedRow >= table.rowCount() - 1)
        return selectedRow;
    table.swapRows(selectedRow, selectedRow + 1);
    return selectedRow + 1;
}

void DeleteDupsFromGrid(RuleList &table)
{
    for (int r = table.rowCount() - 1; r >= 2; --r) {
        if (rowCells(table, r) == rowCells(table, r - 1))
            table.removeRow(r);
    }
}

int importRules(RuleList &table, const QStringList &lines, ImportKind kind)
{
    int written = 0;
    for (const QString &line : lines) {
        if (isEmptyPattern(line))
            continue;
        const int row = makeAppendTarget(table);
        RowCells cells = rowCells(table, row);
        if (kind == ImportKind::SubjectKeywords) {
            writeImportedKeyword(line, cells);
            setRowCells(table, row, cells);
            CheckGridAdv(table, row, true);
        } else {
            writeImportedAddress(line, cells);
            setRowCells(table, row, cells);
        }
        ++written;
    }
    return written;
}

// ---- Mailboxes -----------------------------------------------------------------

QList<MailboxChoice> mailboxesWithServer(const std::array<MailboxConfig, 12> &mailboxes)
{
    QList<MailboxChoice> choices;
    for (const MailboxConfig &box : mailboxes) {
        if (!box.server.isEmpty())
            choices.append({box.number, box.mailbox, box.server});
    }
    return choices;
}

QString headerMailboxEntry(const MailboxChoice &mailbox)
{
    return QStringLiteral("%1) %2 - server %3").arg(mailbox.number).arg(mailbox.user, mailbox.server);
}

QString chooserMailboxEntry(const MailboxChoice &mailbox)
{
    return QStringLiteral("%1) Mailbox %2 - Server %3").arg(mailbox.number).arg(mailbox.user, mailbox.server);
}

int leadingMailboxNumber(const QString &entry)
{
    const qsizetype at = entry.indexOf(u')');
    if (at < 0)
        return 0;
    bool ok = false;
    const int number = entry.left(at).toInt(&ok);
    return ok && number > 0 ? number : 0;
}

} // namespace ruleeditors
