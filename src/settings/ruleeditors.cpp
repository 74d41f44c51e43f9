#include "settings/ruleeditors.h"

#include "rules/ruletexts.h"

namespace ruleeditors {

namespace {

// Column numbers of the rule tables.
namespace subjectcol { enum { What = 1, Matches = 2, Case = 3, Del = 4, Hits = 5, Count = 6 }; }
namespace sendercol { enum { What = 1, Condition = 2, Matches = 3, Del = 4, Hits = 5, Count = 6 }; }
namespace exceptcol { enum { What = 0, Condition = 1, Matches = 2, Case = 3, Hits = 4, Count = 5 }; }


QString cell(const RowCells &cells, int column)
{
    return column < cells.size() ? cells.at(column) : QString();
}

QString yesNo(bool on)
{
    return on ? QString(RuleText::Yes) : QString(RuleText::No);
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
    if (position < 0 || position >= operatorChoices().size())
        return {};
    return operatorChoices().at(position).stored;
}

int operatorPosition(const QString &stored, int count)
{
    for (int i = 0; i < count && i < operatorChoices().size(); ++i) {
        if (operatorChoices().at(i).stored == stored)
            return i;
    }
    return -1;
}

bool operatorTakesPattern(int position)
{
    return position < textOperatorCount;
}

QString trimmedText(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto isTrimmed = [](QChar c) { return c.unicode() <= 0x20 || c.category() == QChar::Other_Control; };
    while (begin < end && isTrimmed(text.at(begin)))
        ++begin;
    while (end > begin && isTrimmed(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool isBlankText(const QString &text)
{
    for (QChar c : text) {
        if (c != u' ' && c != u'\r' && c != u'\n' && c != u'\b')
            return false;
    }
    return true;
}

QString textBefore(const QString &text, const QString &marker)
{
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? text : text.left(at);
}

const QStringList &subjectSuggestions()
{
    static const QStringList list = {
        "!!", "$$", "==", "adult site", "adults only", "advertise", "advertising", "bulk", "buy",
        "call 800", "dollar", "exciting", "extra income", "for only", "free", "guaranteed",
        "help wanted", "huge", "income", "incredible deal", "lottery", "make money", "market",
        "million", "MLM", "mlm", "naked", "nude", "offer", "opportunity", "please read", "profit",
        "read this", "rich", "save $", "secret", "sex", "spam", "specials", "weight", "win $",
        "women", "work at home", "XXX"};
    return list;
}

const QStringList &headerSuggestions()
{
    static const QStringList list = {
        "X-1", "X-Advertisement", "X-Authentication-Warning", "X-BulkEmail", "X-Distribution: Bulk",
        "X-Distribution: Mass", "X-Distribution: Moderate", "X-Mailer: Emailer Platinum",
        "X-Mailer: Extractor", "X-Mailer: eMarksman", "X-Mailer: Floodgate", "X-Mailer: Group Mail",
        "X-Mailer: Millennium Mailer", "X-Removal", "X-Sender: News Breaker"};
    return list;
}

const QStringList &senderSuggestions()
{
    static const QStringList list = {
        "bigbucks", "bulkemail", "business", "cableguys", "canceranswer", "careers", "cash",
        "casino", "clubmail", "credaid", "credaide", "credit", "directmail", "dontreply", "energy",
        "erotic", "floodgate", "fortune", "freedom", "freesoftware", "friend", "friends", "global",
        "golf", "gorgeousgirls", "health", "help", "helpcrdt", "homebiz", "hotbabe69", "important",
        "info", "internet", "market", "nobody", "opportunity", "platinum", "politics", "profit",
        "promotion", "psychic", "remove", "sales", "scoop", "selective.marketing", "sender",
        "sexy", "stop", "stopnow", "success", "video", "virtual", "wealth", "xxx"};
    return list;
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
    rule.operatorPos = operatorPosition(cell(cells, subjectcol::What), subjectOperatorCount);
    rule.pattern = cell(cells, subjectcol::Matches);
    rule.caseSensitive = cell(cells, subjectcol::Case) == RuleText::Yes;
    rule.checkMark = cell(cells, subjectcol::Del) == RuleText::Yes;
    return rule;
}

std::optional<QString> SubjectRule::problem() const
{
    // Checked on the trimmed text: a pattern of only TABs would otherwise be stored empty.
    if (operatorTakesPattern(operatorPos) && trimmedText(pattern).isEmpty())
        return subjectPatternMissing;
    return std::nullopt;
}

void SubjectRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, subjectcol::Count);
    writeOperator(cells, subjectcol::What, operatorPos);
    if (operatorTakesPattern(operatorPos)) {
        cells[subjectcol::Matches] = trimmedText(pattern);
        cells[subjectcol::Case] = yesNo(caseSensitive);
    } else {
        cells[subjectcol::Matches].clear();
        cells[subjectcol::Case].clear();
    }
    cells[subjectcol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, subjectcol::Hits);
}

// ---- Header ------------------------------------------------------------------

HeaderRule HeaderRule::fromRow(const RowCells &cells)
{
    HeaderRule rule;
    const QString what = cell(cells, subjectcol::What);
    const QString matches = cell(cells, subjectcol::Matches);
    rule.operatorPos = operatorPosition(what, textOperatorCount);
    rule.headerText = matches;
    rule.caseSensitive = cell(cells, subjectcol::Case) == RuleText::Yes;
    rule.checkMark = cell(cells, subjectcol::Del) == RuleText::Yes;
    if (matches == RuleText::DoesNotMatchReplyTo) {
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
    if (choice == HeaderChoice::MessageHeader && headerText.isEmpty())
        return Problem{QStringLiteral("The header text cannot be blank"), Field::HeaderText};
    if (choice == HeaderChoice::ToDoesNotContain && toText.isEmpty())
        return Problem{QStringLiteral("The TO field cannot be blank"), Field::ToText};
    return std::nullopt;
}

void HeaderRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, subjectcol::Count);
    writeOperator(cells, subjectcol::What, operatorPos);
    cells[subjectcol::Matches] = headerText;
    cells[subjectcol::Case] = yesNo(caseSensitive);
    cells[subjectcol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, subjectcol::Hits);

    switch (choice) {
    case HeaderChoice::MessageHeader:
        return;
    case HeaderChoice::ReplyToMismatch:
        cells[subjectcol::What] = RuleText::Sender;
        cells[subjectcol::Matches] = RuleText::DoesNotMatchReplyTo;
        break;
    case HeaderChoice::SenderEqualsTo:
        cells[subjectcol::What] = RuleText::Sender;
        cells[subjectcol::Matches] = RuleText::EqualsToField;
        break;
    case HeaderChoice::ToDoesNotContain:
        cells[subjectcol::What] = RuleText::ToDoesNotContain;
        cells[subjectcol::Matches] = textBefore(toText, RuleText::MailBoxMarker) + RuleText::MailBoxMarker
                                     + (mailbox > 0 ? QString::number(mailbox) : QString());
        break;
    }
    cells[subjectcol::Case] = RuleText::No;
}

// ---- Sender ------------------------------------------------------------------

SenderRule SenderRule::fromRow(const RowCells &cells)
{
    SenderRule rule;
    rule.emailAddress = cell(cells, sendercol::What) == RuleText::EmailAddress;
    rule.operatorPos = operatorPosition(cell(cells, sendercol::Condition), senderOperatorCount);
    rule.pattern = operatorTakesPattern(rule.operatorPos) ? cell(cells, sendercol::Matches) : QString();
    rule.checkMark = cell(cells, sendercol::Del) == RuleText::Yes;
    return rule;
}

std::optional<QString> SenderRule::problem() const
{
    if (operatorTakesPattern(operatorPos) && trimmedText(pattern).isEmpty())
        return QStringLiteral("The Sender field cannot be left blank.");
    return std::nullopt;
}

void SenderRule::writeTo(RowCells &cells) const
{
    ensureWidth(cells, sendercol::Count);
    cells[sendercol::What] = emailAddress ? RuleText::EmailAddress : RuleText::DomainName;
    writeOperator(cells, sendercol::Condition, operatorPos);
    cells[sendercol::Matches] = operatorTakesPattern(operatorPos) ? trimmedText(pattern) : QString();
    cells[sendercol::Del] = yesNo(checkMark);
    fillEmptyHits(cells, sendercol::Hits);
}

// ---- Exception ---------------------------------------------------------------

ExceptionRule ExceptionRule::fromRow(const RowCells &cells)
{
    ExceptionRule rule;
    const QString what = cell(cells, exceptcol::What);
    const QString matches = cell(cells, exceptcol::Matches);
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
    const int position = operatorPosition(cell(cells, exceptcol::Condition), textOperatorCount);
    if (position >= 0)
        rule.operatorPos = position;
    rule.caseSensitive = cell(cells, exceptcol::Case) == RuleText::Yes;
    return rule;
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
    ensureWidth(cells, exceptcol::Count);
    switch (kind) {
    case ExceptionKind::Address:
        cells[exceptcol::What] = RuleText::EmailAddress;
        cells[exceptcol::Condition] = RuleText::Equals;
        break;
    case ExceptionKind::Domain:
        cells[exceptcol::What] = RuleText::DomainName;
        cells[exceptcol::Condition] = RuleText::Equals;
        break;
    case ExceptionKind::Subject:
        cells[exceptcol::What] = RuleText::Subject;
        writeOperator(cells, exceptcol::Condition, operatorPos);
        break;
    }
    cells[exceptcol::Matches] = chosenText();
    cells[exceptcol::Case] = yesNo(caseSensitive);
    fillEmptyHits(cells, exceptcol::Hits);
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
    ensureWidth(cells, subjectcol::Count);
    cells[subjectcol::What] = RuleText::ContainsWholeWord;
    cells[subjectcol::Matches] = trimmedText(line);
    cells[subjectcol::Case] = RuleText::No;
    cells[subjectcol::Del] = RuleText::Yes;
}

void writeImportedAddress(const QString &line, RowCells &cells)
{
    ensureWidth(cells, exceptcol::Count);
    cells[exceptcol::What] = RuleText::EmailAddress;
    cells[exceptcol::Condition] = RuleText::Equals;
    cells[exceptcol::Matches] = trimmedText(line);
    cells[exceptcol::Case] = RuleText::No;
}

// ---- Mailboxes -----------------------------------------------------------------

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
