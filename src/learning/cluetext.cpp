#include "learning/cluetext.h"

namespace {

// "from-domain" reads "From domain"; short names of things keep their capitals.
QString fieldWords(QStringView field)
{
    QStringList words;
    for (QStringView word : field.split(u'-', Qt::SkipEmptyParts)) {
        if (word == u"ip" || word == u"id")
            words << word.toString().toUpper();
        else
            words << word.toString();
    }
    QString text = words.join(u' ');
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

QString clueText(const Clue &clue)
{
    const qsizetype colon = clue.token.indexOf(u':');
    const QString what =
        colon < 0 ? clue.token
                  : fieldWords(QStringView(clue.token).left(colon)) + QStringLiteral(": ") + clue.token.mid(colon + 1);
    return QStringLiteral("%1 (seen in %2 spam, %3 ham)").arg(what).arg(clue.counts.spam).arg(clue.counts.ham);
}
