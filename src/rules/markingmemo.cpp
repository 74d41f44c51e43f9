#include "rules/markingmemo.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>

namespace {

// The first byte of a record. A program whose decision differs from this
// one's in any way must use another number: records of the old decision
// then count for nothing.
constexpr quint8 RecordFormat = 1;
constexpr int FingerprintBytes = 16;

quint8 markByte(MarkState mark)
{
    return quint8(int(mark) + 1);
}

std::optional<MarkState> markFromByte(quint8 byte)
{
    const int value = int(byte) - 1;
    if (value < int(MarkState::None) || value > int(MarkState::KnownSpammer))
        return std::nullopt;
    return MarkState(value);
}

} // namespace

MarkingRecord MarkingRecord::fromBytes(const QByteArray &bytes)
{
    QDataStream in(bytes);
    quint8 format = 0;
    quint8 count = 0;
    MarkingRecord record;
    record.m_fingerprint.resize(FingerprintBytes);
    in >> format;
    if (format != RecordFormat || in.readRawData(record.m_fingerprint.data(), FingerprintBytes) != FingerprintBytes)
        return {};
    in >> count;
    for (int i = 0; i < count; ++i) {
        quint8 from = 0;
        quint8 mark = 0;
        quint8 hits = 0;
        in >> from >> mark >> hits;
        const std::optional<MarkState> fromMark = markFromByte(from);
        const std::optional<MarkState> toMark = markFromByte(mark);
        if (!fromMark || !toMark)
            return {};
        MarkOutcome outcome{*toMark, {}};
        for (int h = 0; h < hits; ++h) {
            quint8 table = 0;
            quint32 row = 0;
            in >> table >> row;
            if (table > quint8(RuleTable::Exception) || row < 1 || row > quint32(INT_MAX))
                return {};
            outcome.hits.append({RuleTable(table), int(row)});
        }
        record.m_outcomes.append({*fromMark, outcome});
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return {};
    return record;
}

QByteArray MarkingRecord::toBytes() const
{
    if (m_outcomes.isEmpty())
        return {};
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << RecordFormat;
    out.writeRawData(m_fingerprint.constData(), FingerprintBytes);
    out << quint8(m_outcomes.size());
    for (const auto &[from, outcome] : m_outcomes) {
        out << markByte(from) << markByte(outcome.mark) << quint8(outcome.hits.size());
        for (const RuleHit &hit : outcome.hits)
            out << quint8(hit.table) << quint32(hit.row);
    }
    return bytes;
}

std::optional<MarkOutcome> MarkingRecord::outcome(const QByteArray &fingerprint, MarkState from) const
{
    if (fingerprint != m_fingerprint)
        return std::nullopt;
    for (const auto &[start, outcome] : m_outcomes) {
        if (start == from)
            return outcome;
    }
    return std::nullopt;
}

void MarkingRecord::keep(const QByteArray &fingerprint, MarkState from, const MarkOutcome &outcome)
{
    if (outcome.hits.size() > MaxHits || fingerprint.size() != FingerprintBytes)
        return;
    if (fingerprint != m_fingerprint) {
        m_fingerprint = fingerprint;
        m_outcomes.clear();
    }
    for (auto &[start, kept] : m_outcomes) {
        if (start == from) {
            kept = outcome;
            return;
        }
    }
    m_outcomes.append({from, outcome});
}

const QByteArray &RuleSetFingerprint::of(const RuleSet &rules, const MailboxContext &mailbox, const QByteArray &learner)
{
    const Inputs inputs = inputsOf(rules, mailbox, learner);
    if (m_inputs != inputs) {
        m_fingerprint = compute(rules, inputs);
        m_inputs = inputs;
    }
    return m_fingerprint;
}

RuleSetFingerprint::Inputs RuleSetFingerprint::inputsOf(const RuleSet &rules, const MailboxContext &mailbox,
                                                        const QByteArray &learner)
{
    Inputs inputs;
    for (RuleTable table : AllRuleTables)
        inputs.tables[int(table)] = rules.table(table).revision();
    inputs.knownList = rules.knownList.revision();
    inputs.sizeRules = rules.sizeRules;
    inputs.knownListEnabled = rules.knownListEnabled;
    inputs.mailbox = mailbox;
    if (!learner.isEmpty()) {
        inputs.learning = rules.learning;
        inputs.learner = learner;
    }
    return inputs;
}

QByteArray RuleSetFingerprint::compute(const RuleSet &rules, const Inputs &inputs)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << RecordFormat << qint32(inputs.mailbox.serverToIndex) << inputs.mailbox.trustedServer;
    for (RuleTable which : AllRuleTables) {
        const RuleList &table = rules.table(which);
        const RuleTableLayout &layout = table.layout();
        out << qint32(table.rowCount()) << qint32(table.columnCount());
        for (int row = 1; row < table.rowCount(); ++row) {
            for (int column = layout.hasPicture ? 1 : 0; column < table.columnCount(); ++column) {
                if (column != layout.hitsColumn)
                    out << table.cell(column, row);
            }
        }
    }
    const SizeRules &size = rules.sizeRules;
    out << size.smallerEnabled << qint64(size.smallerLimit) << size.smallerCheck << size.largerEnabled
        << qint64(size.largerLimit) << size.largerCheck << rules.knownListEnabled;
    const LearningOptions &learning = inputs.learning;
    out << inputs.learner << learning.enabled << learning.hamCutoff << learning.spamCutoff << learning.markForDeletion
        << learning.deletionScore;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(bytes);
    if (rules.knownListEnabled) {
        bytes.clear();
        QDataStream list(&bytes, QIODevice::WriteOnly);
        list << rules.knownList.locale().name() << qint32(rules.knownList.count());
        for (int i = 0; i < rules.knownList.count(); ++i)
            list << rules.knownList.entry(i);
        hash.addData(bytes);
    }
    return hash.result().left(FingerprintBytes);
}
