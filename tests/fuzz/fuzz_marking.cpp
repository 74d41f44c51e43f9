// Feeds the marking decision. Input layout:
//   byte 0      size rules (bits 0-3), known-list switch (bit 4), the
//               message's starting mark (bits 5-7)
//   a header block, LF-separated lines, up to the first empty line
//   one rule a line after it: byte 0 the table (subject, header, sender,
//   exception, or a known-list entry), byte 1 the What cell, byte 2 the
//   operator, byte 3 Case? (bit 0) and Del? (bit 1), the rest the pattern.
// The cell texts are picked from the ones the rule editors write, so the
// fuzzer reaches every rule kind instead of guessing their spelling. The
// message is marked as a check marks it, then again in ExplainMode.

#include "fuzzsupport.h"

#include "mail/charset.h"
#include "rules/marking.h"
#include "rules/ruletexts.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::array Operators = {RuleText::Contains,        RuleText::ContainsWholeWord, RuleText::Equals,
                                  RuleText::StartsWith,      RuleText::EndsWith,          RuleText::IsBlank,
                                  RuleText::IsUppercase,     RuleText::AllNumeric,        RuleText::HalfNumeric,
                                  RuleText::FirstCharNumeric};
constexpr std::array Whats = {RuleText::EmailAddress, RuleText::DomainName, RuleText::Subject, RuleText::Sender,
                              RuleText::ToDoesNotContain};
constexpr int MaxRules = 64;

// One listed message: the fields a check takes from its header block.
class OneMessage : public MarkingSource
{
public:
    OneMessage(TmsHeaders headers, qint64 size, MarkState mark)
        : headers_(std::move(headers)), size_(QString::number(size)), mark_(mark)
    {
    }

    int rowCount() const override { return 1; }
    QString subject(int) const override { return GetHeaderValue(headers_, QStringLiteral("Subject")); }
    QString sender(int) const override
    {
        return SplitAddress(GetHeaderValue(headers_, QStringLiteral("From"))).Address;
    }
    QString size(int) const override { return size_; }
    MarkState mark(int) const override { return mark_; }
    void setMark(int, MarkState mark) override { mark_ = mark; }
    TmsHeaders headerLines(int) const override { return headers_; }
    int serverToIndex() const override { return 1; }

private:
    TmsHeaders headers_;
    QString size_;
    MarkState mark_;
};

// The next LF-terminated line of rest, without its CR; rest moves past it.
QByteArrayView takeLine(QByteArrayView &rest)
{
    const qsizetype end = rest.indexOf('\n');
    QByteArrayView line = end < 0 ? rest : rest.first(end);
    rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

void configureSizeRules(SizeRules &rules, uint8_t bits)
{
    rules.smallerEnabled = bits & 1;
    rules.smallerCheck = bits & 2;
    rules.largerEnabled = bits & 4;
    rules.largerCheck = bits & 8;
    rules.smallerLimit = 40;
    rules.largerLimit = 400;
}

void addRule(RuleSet &rules, QByteArrayView line)
{
    if (line.size() < 4)
        return;
    const auto byte = [&](int i) { return static_cast<uint8_t>(line[i]); };
    const QString pattern = decodeUtf8OrLatin1(line.sliced(4));
    const int tableChoice = byte(0) % (std::size(AllRuleTables) + 1);
    if (tableChoice == int(std::size(AllRuleTables))) {
        rules.knownList.add(pattern);
        return;
    }
    RuleList &table = rules.table(AllRuleTables[tableChoice]);
    // A header rule may name any header field; the other What cells are fixed words.
    const int what = byte(1) % (Whats.size() + 1);
    const QString whatText = what < int(Whats.size()) ? QString(Whats[what]) : pattern.section(u' ', 0, 0);
    const QString op = Operators[byte(2) % Operators.size()];
    const QString yesNo[] = {RuleText::No, RuleText::Yes};

    const int row = table.rowCount();
    table.setRowCount(row + 1);
    switch (table.table()) {
    case RuleTable::Subject:
        table.setCell(SubjectCol::What, row, op);
        table.setCell(SubjectCol::Matches, row, pattern);
        table.setCell(SubjectCol::Case, row, yesNo[byte(3) & 1]);
        table.setCell(SubjectCol::Del, row, yesNo[(byte(3) >> 1) & 1]);
        break;
    case RuleTable::Header:
        table.setCell(HeaderCol::What, row, whatText);
        table.setCell(HeaderCol::Matches, row, pattern);
        table.setCell(HeaderCol::Case, row, yesNo[byte(3) & 1]);
        table.setCell(HeaderCol::Del, row, yesNo[(byte(3) >> 1) & 1]);
        break;
    case RuleTable::Sender:
        table.setCell(SenderCol::What, row, whatText);
        table.setCell(SenderCol::Condition, row, op);
        table.setCell(SenderCol::Matches, row, pattern);
        table.setCell(SenderCol::Del, row, yesNo[(byte(3) >> 1) & 1]);
        break;
    case RuleTable::Exception:
        table.setCell(ExceptCol::What, row, whatText);
        table.setCell(ExceptCol::Condition, row, op);
        table.setCell(ExceptCol::Matches, row, pattern);
        table.setCell(ExceptCol::Case, row, yesNo[byte(3) & 1]);
        break;
    }
}

bool isKnownMark(MarkState mark)
{
    return mark >= MarkState::None && mark <= MarkState::KnownSpammer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    QByteArrayView rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    TmsHeaders headers;
    while (!rest.isEmpty()) {
        const QByteArrayView line = takeLine(rest);
        if (line.isEmpty())
            break;
        headers.append(decodeHeaderLine(line));
    }

    RuleSet rules;
    for (const RuleTable table : AllRuleTables)
        rules.table(table).setRowCount(1);
    configureSizeRules(rules.sizeRules, data[0] & 0x0f);
    rules.knownListEnabled = data[0] & 0x10;
    for (int n = 0; n < MaxRules && !rest.isEmpty(); ++n)
        addRule(rules, takeLine(rest));
    for (const RuleTable table : AllRuleTables) {
        if (rules.table(table).layout().hasPicture)
            setPicturesFromDel(rules.table(table));
    }

    const auto startMark = static_cast<MarkState>(int(data[0] >> 5) % 5 - 1);
    OneMessage message(headers, qint64(size), startMark);
    MarkingEngine engine(rules, message);
    engine.MarkForDeletion(0);
    requirePromise(isKnownMark(message.mark(0)), "a check gives one of the known marks");

    message.setMark(0, startMark);
    engine.setExplainMode(true);
    engine.MarkForDeletion(-1);
    requirePromise(isKnownMark(message.mark(0)), "an explained check gives one of the known marks");
    return 0;
}
