#include "settings/ruletableprinter.h"

#include "rules/rulelist.h"

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPrinter>

#include <numeric>

PrintedTable printedTableOf(const RuleList &table, const QString &title, const QList<int> &columnWidths)
{
    PrintedTable printed;
    printed.title = title;
    const int first = table.layout().hasPicture ? 1 : 0;
    for (int column = first; column < table.columnCount(); ++column) {
        printed.headings << table.cell(column, 0);
        printed.columnWidths << columnWidths.value(column, 60);
    }
    for (int row = 1; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int column = first; column < table.columnCount(); ++column)
            cells << table.cell(column, row);
        printed.rows << cells;
    }
    return printed;
}

namespace {

// Page geometry in device units, worked out once per print.
struct PageLayout
{
    QRect page;
    int lineHeight;
    int headerHeight;
    int footerHeight;
    int spacing;
    QList<int> widths;
    int tableLeft;

    int rowsPerPage() const { return std::max(1, (page.height() - headerHeight - footerHeight) / lineHeight - 1); }
};

PageLayout layOut(const QPrinter &printer, const PrintedTable &table, const QFontMetrics &metrics)
{
    PageLayout layout;
    layout.page = printer.pageLayout().paintRectPixels(printer.resolution());
    layout.page.moveTo(0, 0);
    const double inch = printer.resolution();
    layout.lineHeight = metrics.height() * 5 / 4;
    layout.headerHeight = int(inch * 0.8) + layout.lineHeight;
    layout.footerHeight = int(inch * 0.5);
    layout.spacing = int(inch * 0.1);

    // Scale the columns to the page, keeping their proportions.
    const int total = std::accumulate(table.columnWidths.begin(), table.columnWidths.end(), 0);
    const int gaps = layout.spacing * std::max<int>(0, int(table.columnWidths.size()) - 1);
    const double available = layout.page.width() - gaps;
    const double scale = total > 0 ? std::min(available / total, inch / 60.0) : 1.0;
    int tableWidth = gaps;
    for (int width : table.columnWidths) {
        layout.widths << int(width * scale);
        tableWidth += layout.widths.last();
    }
    layout.tableLeft = (layout.page.width() - tableWidth) / 2;
    return layout;
}

void drawRow(QPainter &painter, const PageLayout &layout, const QStringList &cells, int y)
{
    int x = layout.tableLeft;
    for (int column = 0; column < layout.widths.size(); ++column) {
        const QRect cell(x, y, layout.widths[column], layout.lineHeight);
        const QString text = painter.fontMetrics().elidedText(cells.value(column), Qt::ElideRight, cell.width());
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, text);
        x += layout.widths[column] + layout.spacing;
    }
}

void drawPageFrame(QPainter &painter, const PageLayout &layout, const PrintedTable &table, const QDateTime &printedAt,
                   int pageNumber, const QFont &body)
{
    const QRect top(0, 0, layout.page.width(), layout.headerHeight - layout.lineHeight);
    const QLocale locale;
    painter.setFont(body);
    painter.drawText(top, Qt::AlignLeft | Qt::AlignTop, locale.toString(printedAt.date(), QLocale::ShortFormat));
    painter.drawText(top, Qt::AlignRight | Qt::AlignTop, locale.toString(printedAt.time(), QLocale::ShortFormat));
    QFont titleFont = body;
    titleFont.setBold(true);
    titleFont.setPointSizeF(body.pointSizeF() * 1.4);
    painter.setFont(titleFont);
    painter.drawText(top, Qt::AlignHCenter | Qt::AlignVCenter, table.title);

    painter.setFont(body);
    const QRect bottom(0, layout.page.height() - layout.footerHeight, layout.page.width(), layout.footerHeight);
    painter.drawText(bottom, Qt::AlignRight | Qt::AlignBottom, QStringLiteral("Page %1").arg(pageNumber));

    QFont headingFont = body;
    headingFont.setBold(true);
    painter.setFont(headingFont);
    drawRow(painter, layout, table.headings, layout.headerHeight - layout.lineHeight);
    painter.setFont(body);
}

} // namespace

int printRuleTable(QPrinter &printer, const PrintedTable &table, const QDateTime &printedAt)
{
    printer.setPageOrientation(QPageLayout::Portrait);
    if (printer.docName().isEmpty())
        printer.setDocName(table.title);
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;

    QFont body(QStringLiteral("Sans Serif"), 10);
    painter.setFont(body);
    const PageLayout layout = layOut(printer, table, QFontMetrics(body, &printer));

    const int perPage = layout.rowsPerPage();
    const int rowCount = int(table.rows.size());
    const int pages = std::max(1, (rowCount + perPage - 1) / perPage);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            printer.newPage();
        drawPageFrame(painter, layout, table, printedAt, page + 1, body);
        int y = layout.headerHeight;
        for (int row = page * perPage; row < rowCount && row < (page + 1) * perPage; ++row) {
            drawRow(painter, layout, table.rows[row], y);
            y += layout.lineHeight;
        }
    }
    painter.end();
    return pages;
}
