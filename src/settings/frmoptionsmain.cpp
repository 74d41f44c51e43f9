#include "settings/frmoptionsmain.h"

#include "rules/knownlist.h"
#include "rules/listfiles.h"
#include "rules/ruletablemodel.h"
#include "rules/ruletexts.h"
#include "rules/textfile.h"
#include "settings/frmalwaysaccept.h"
#include "settings/frmheaders.h"
#include "settings/frmimportspam.h"
#include "settings/frmoptionsfrom.h"
#include "settings/frmoptionssubject.h"
#include "settings/generalsettings.h"
#include "settings/learningpage.h"
#include "settings/prompts.h"
#include "settings/ruleeditorwidgets.h"
#include "settings/ruletableprinter.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace ruleeditors;

namespace {

int indexOf(RuleTable table)
{
    return static_cast<int>(table);
}

// What differs between the four table pages on screen.
struct PageLook
{
    QList<int> columnWidths; // at 96 dots per inch
    QString printTitle;
    QString importTitle; // empty: the page has no import
};

const PageLook &lookOf(RuleTable table)
{
    static const PageLook subject{{20, 112, 231, 29, 39, 38},
                                  QStringLiteral("Mailsieve - Subject Line Settings"),
                                  QStringLiteral("Import spam keywords")};
    static const PageLook header{{20, 112, 221, 38, 36, 43}, QStringLiteral("Mailsieve - Email Header Settings"), {}};
    static const PageLook sender{{20, 77, 105, 188, 39, 39}, QStringLiteral("Mailsieve - Sender Settings"), {}};
    static const PageLook exception{{79, 114, 144, 44, 44, 50},
                                    QStringLiteral("Mailsieve - List of Exceptions "),
                                    QStringLiteral("Import e-mail addresses")};
    switch (table) {
    case RuleTable::Subject:
        return subject;
    case RuleTable::Header:
        return header;
    case RuleTable::Sender:
        return sender;
    case RuleTable::Exception:
        break;
    }
    return exception;
}

// A rule grid: Enter moves on to the next cell to the right, while editing
// (after the cell is taken) as well as while moving about.
class RuleGrid : public QTableView
{
public:
    using QTableView::QTableView;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentIndex().isValid()) {
            // While a cell is edited the delegate takes it and closeEditor() moves on;
            // either way Enter must not reach the window's default button.
            if (state() != EditingState)
                moveRight();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        QTableView::closeEditor(editor, hint);
        if (hint == QAbstractItemDelegate::SubmitModelCache)
            moveRight();
    }

private:
    void moveRight()
    {
        const QModelIndex current = currentIndex();
        if (current.column() + 1 < model()->columnCount())
            setCurrentIndex(current.siblingAtColumn(current.column() + 1));
    }
};

QLabel *pictureLabel(MarkState mark, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(ruleMarkPicture(mark));
    return label;
}

QPushButton *arrowButton(Qt::ArrowType arrow, const QString &hint, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setIcon(parent->style()->standardIcon(arrow == Qt::UpArrow ? QStyle::SP_ArrowUp : QStyle::SP_ArrowDown));
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    return button;
}

} // namespace

TfrmOptionsMain::TfrmOptionsMain(RuleSet &rules, const QString &folder, const GeneralSettings &general,
                                 Prompts &prompts, QWidget *parent)
    : QDialog(parent), rules_(rules), folder_(folder), general_(general), prompts_(prompts)
{
    runDialog = [](QDialog &dialog) { return dialog.exec(); };
    choosePrinter = [this](QPrinter &printer) {
        QPrintDialog dialog(&printer, this);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
        return dialog.exec() == QDialog::Accepted;
    };

    setObjectName(QStringLiteral("frmOptionsMain"));
    setWindowTitle(tr("Spam Settings"));
    auto *outer = new QVBoxLayout(this);
    auto *heading = new QLabel(tr("Spam Settings"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    heading->setFont(bold);
    outer->addWidget(heading);

    pages = new QTabWidget(this);
    pages->addTab(makeRulePage(RuleTable::Subject,
                               tr("If a subject line matches the criteria below the email will be "
                                  "considered a SPAM"),
                               tr("Conditions")),
                  tr("Subject"));
    pages->addTab(makeRulePage(RuleTable::Header,
                               tr("If an e-mail header matches a criteria below it will be considered a SPAM."),
                               tr("Conditions")),
                  tr("Headers"));
    pages->addTab(makeRulePage(RuleTable::Sender,
                               tr("If a message is from someone matching a pattern below it will be "
                                  "considered a SPAM"),
                               tr("Conditions")),
                  tr("Sender"));
    pages->addTab(makeSizePage(), tr("Size"));
    pages->addTab(makeRulePage(RuleTable::Exception,
                               tr("Always accept e-mail under the following conditions. Message will "
                                  "be marked with a :"),
                               tr("Exceptions")),
                  tr("Exceptions"));
    pages->addTab(makeKnownPage(), tr("BlackList"));
    learningPage = new LearningPage(rules_.learning, this);
    pages->addTab(learningPage, tr("Learning"));
    outer->addWidget(pages, 1);

    auto *buttons = new QDialogButtonBox(this);
    btOK = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    btCancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    btHelp = buttons->addButton(tr("&Help"), QDialogButtonBox::HelpRole);
    btOK->setDefault(true);
    connect(btOK, &QPushButton::clicked, this, &TfrmOptionsMain::btOKClick);
    connect(btCancel, &QPushButton::clicked, this, &TfrmOptionsMain::btCancelClick);
    connect(btHelp, &QPushButton::clicked, this, &TfrmOptionsMain::btHelpClick);
    outer->addWidget(buttons);

    readSettings();
    pages->setCurrentIndex(0);
}

TfrmOptionsMain::~TfrmOptionsMain() = default;

TfrmOptionsMain::RulePage &TfrmOptionsMain::page(RuleTable table)
{
    return pages_[indexOf(table)];
}

QWidget *TfrmOptionsMain::makeRulePage(RuleTable table, const QString &text, const QString &countCaption)
{
    auto *widget = new QWidget(this);
    RulePage &p = pages_[indexOf(table)];
    p.table = table;
    RuleList &list = rules_.table(table);

    auto *intro = new QLabel(text, widget);
    intro->setWordWrap(true);
    auto *introLine = new QHBoxLayout;
    if (table == RuleTable::Exception) {
        // The picture follows the text directly, so this line does not wrap.
        intro->setWordWrap(false);
        introLine->addWidget(intro);
        introLine->addWidget(pictureLabel(MarkState::Exception, widget));
        introLine->addStretch(1);
    } else {
        introLine->addWidget(intro, 1);
    }

    p.model = new RuleTableModel(list, this);
    p.model->setMarkPictures(QIcon(ruleMarkPicture(MarkState::Check)), QIcon(ruleMarkPicture(MarkState::Question)));
    p.grid = new RuleGrid(widget);
    p.grid->setObjectName(QStringList{"gridSubject", "gridHeader", "gridFrom", "gridExcept"}[indexOf(table)]);
    p.grid->setModel(p.model);
    p.grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    p.grid->setSelectionMode(QAbstractItemView::SingleSelection);
    p.grid->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
                            | QAbstractItemView::AnyKeyPressed);
    p.grid->setTabKeyNavigation(false);
    p.grid->verticalHeader()->hide();
    p.grid->setWordWrap(false);
    p.grid->setAlternatingRowColors(true);
    const double scale = logicalDpiX() / 96.0;
    const QList<int> &widths = lookOf(table).columnWidths;
    for (int column = 0; column < widths.size(); ++column)
        p.grid->setColumnWidth(column, int(widths[column] * scale));
    const int rowHeight = std::max(int(19 * scale), fontMetrics().height() + 4);
    p.grid->verticalHeader()->setDefaultSectionSize(rowHeight);
    // Room for every column and a dozen rules without scrolling sideways.
    int tableWidth = 2 * p.grid->frameWidth() + p.grid->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < widths.size(); ++column)
        tableWidth += p.grid->columnWidth(column);
    p.grid->setMinimumSize(tableWidth, rowHeight * 12);
    p.grid->horizontalHeader()->setSectionsClickable(true);
    p.grid->horizontalHeader()->setHighlightSections(false);
    p.grid->horizontalHeader()->setStretchLastSection(false);
    connect(p.grid->horizontalHeader(), &QHeaderView::sectionClicked, this, [this, table](int column) {
        RulePage &pg = page(table);
        if (!rules_.table(table).layout().sortableColumns.contains(column))
            return;
        pg.model->sort(column);
    });
    connect(p.grid, &QAbstractItemView::doubleClicked, this, [this, table] { editClick(table); });
    // The grid's own delete-row key (Ctrl+Delete) removes the row like the Delete button.
    auto *deleteKey = new QAction(p.grid);
    deleteKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    deleteKey->setShortcutContext(Qt::WidgetShortcut);
    connect(deleteKey, &QAction::triggered, this, [this, table] { deleteClick(table); });
    p.grid->addAction(deleteKey);

    p.btInsert = new QPushButton(tr("&Insert"), widget);
    p.btEdit = new QPushButton(tr("&Edit"), widget);
    p.btDelete = new QPushButton(tr("&Delete"), widget);
    p.btPrint = new QPushButton(tr("&Print"), widget);
    p.btUp = arrowButton(Qt::UpArrow, tr("Move item up one row"), widget);
    p.btDown = arrowButton(Qt::DownArrow, tr("Move item down one row"), widget);
    connect(p.btInsert, &QPushButton::clicked, this, [this, table] { insertClick(table); });
    connect(p.btEdit, &QPushButton::clicked, this, [this, table] { editClick(table); });
    connect(p.btDelete, &QPushButton::clicked, this, [this, table] { deleteClick(table); });
    connect(p.btPrint, &QPushButton::clicked, this, [this, table] { printClick(table); });
    connect(p.btUp, &QPushButton::clicked, this, [this, table] { moveUpClick(table); });
    connect(p.btDown, &QPushButton::clicked, this, [this, table] { moveDownClick(table); });

    auto *side = new QVBoxLayout;
    for (QPushButton *button : {p.btInsert, p.btEdit, p.btDelete, p.btPrint})
        side->addWidget(button);
    if (!lookOf(table).importTitle.isEmpty()) {
        p.btImport = new QPushButton(tr("I&mport"), widget);
        connect(p.btImport, &QPushButton::clicked, this, [this, table] { importClick(table); });
        side->addWidget(p.btImport);
    }
    side->addSpacing(12);
    auto *arrows = new QHBoxLayout;
    arrows->addWidget(p.btUp);
    arrows->addWidget(p.btDown);
    side->addLayout(arrows);
    side->addStretch(1);
    p.lblCount = new QLabel(widget);
    QFont countFont = p.lblCount->font();
    countFont.setBold(true);
    countFont.setPointSizeF(countFont.pointSizeF() * 1.5);
    p.lblCount->setFont(countFont);
    p.lblCount->setAlignment(Qt::AlignHCenter);
    auto *caption = new QLabel(countCaption, widget);
    caption->setAlignment(Qt::AlignHCenter);
    side->addWidget(p.lblCount);
    side->addWidget(caption);

    auto *row = new QHBoxLayout;
    row->addWidget(p.grid, 1);
    row->addLayout(side);
    auto *layout = new QVBoxLayout(widget);
    layout->addLayout(introLine);
    layout->addLayout(row, 1);
    return widget;
}

QWidget *TfrmOptionsMain::makeSizePage()
{
    auto *widget = new QWidget(this);
    auto makePanel = [this, widget](const QString &caption, int maximum, int step, QCheckBox *&check, QSpinBox *&field,
                                    QRadioButton *&checkMark, QRadioButton *&question, const QString &checkCaption,
                                    const QString &questionCaption) {
        auto *box = new QGroupBox(widget);
        check = new QCheckBox(caption, box);
        field = new QSpinBox(box);
        field->setRange(0, maximum);
        field->setSingleStep(step);
        field->setGroupSeparatorShown(false);
        field->setMinimumWidth(fontMetrics().averageCharWidth() * 12);
        checkMark = new QRadioButton(checkCaption, box);
        question = new QRadioButton(questionCaption, box);
        checkMark->setIcon(ruleMarkPicture(MarkState::Check));
        question->setIcon(ruleMarkPicture(MarkState::Question));
        auto *firstLine = new QHBoxLayout;
        firstLine->addWidget(check);
        firstLine->addWidget(field);
        firstLine->addWidget(new QLabel(tr("bytes, "), box));
        firstLine->addStretch(1);
        auto *secondLine = new QHBoxLayout;
        secondLine->addSpacing(24);
        secondLine->addWidget(new QLabel(tr("then mark the message with a"), box));
        secondLine->addWidget(checkMark);
        secondLine->addWidget(question);
        secondLine->addStretch(1);
        auto *layout = new QVBoxLayout(box);
        layout->addLayout(firstLine);
        layout->addLayout(secondLine);
        connect(check, &QCheckBox::toggled, this, [this] {
            rules_.sizeRules.smallerEnabled = cbSmaller->isChecked();
            rules_.sizeRules.largerEnabled = cbLarger->isChecked();
            enableSizeControls();
        });
        return box;
    };
    QGroupBox *smaller = makePanel(tr("If the message size is &smaller than"), 100000, 1, cbSmaller, edSmaller,
                                   rbSmallerCheck, rbSmallerQuestion, tr("&check mark"), tr("&question"));
    QGroupBox *larger = makePanel(tr("If the message size is &larger than"), 99999999, 100, cbLarger, edLarger,
                                  rbLargerCheck, rbLargerQuestion, tr("check m&ark"), tr("q&uestion"));
    connect(edSmaller, &QSpinBox::valueChanged, this, [this](int value) { rules_.sizeRules.smallerLimit = value; });
    connect(edLarger, &QSpinBox::valueChanged, this, [this](int value) { rules_.sizeRules.largerLimit = value; });
    connect(rbSmallerCheck, &QRadioButton::toggled, this, [this](bool on) { rules_.sizeRules.smallerCheck = on; });
    connect(rbLargerCheck, &QRadioButton::toggled, this, [this](bool on) { rules_.sizeRules.largerCheck = on; });

    auto *note = new QLabel(tr("Note: Only messages with a check mark will be deleted.  The question mark is to "
                               "notify you of a potential spam message to delete."),
                            widget);
    note->setWordWrap(true);
    auto *layout = new QVBoxLayout(widget);
    layout->addWidget(smaller);
    layout->addWidget(larger);
    layout->addWidget(note);
    layout->addStretch(1);
    return widget;
}

QWidget *TfrmOptionsMain::makeKnownPage()
{
    auto *widget = new QWidget(this);
    cbKnown = new QCheckBox(tr("&Compare e-mail with this list of known spammers. Will be marked with :"), widget);
    connect(cbKnown, &QCheckBox::toggled, this, [this](bool on) { rules_.knownListEnabled = on; });
    auto *top = new QHBoxLayout;
    top->addWidget(cbKnown);
    top->addWidget(pictureLabel(MarkState::KnownSpammer, widget));
    top->addStretch(1);

    memoKnown = new QPlainTextEdit(widget);
    memoKnown->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memoKnown->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memoKnown->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoKnown->setTabChangesFocus(true);
    pnlRebuild = new QLabel(tr("Re-building list ... stand by"), widget);
    pnlRebuild->setAlignment(Qt::AlignCenter);
    pnlRebuild->setWordWrap(true);
    pnlRebuild->setAutoFillBackground(true);
    pnlRebuild->setStyleSheet(QStringLiteral("QLabel { background: lime; color: black; font-weight: bold; }"));
    knownStack = new QStackedWidget(widget);
    knownStack->addWidget(memoKnown);
    knownStack->addWidget(pnlRebuild);

    btKnownEdit = new QPushButton(tr("&Edit"), widget);
    btKnownSave = new QPushButton(tr("&Save"), widget);
    btKnownCancel = new QPushButton(tr("Cancel"), widget);
    connect(btKnownEdit, &QPushButton::clicked, this, &TfrmOptionsMain::btKnownEditClick);
    connect(btKnownSave, &QPushButton::clicked, this, &TfrmOptionsMain::btKnownSaveClick);
    connect(btKnownCancel, &QPushButton::clicked, this, &TfrmOptionsMain::btKnownCancelClick);
    auto *text = new QLabel(tr("This is an editable list of the e-mail addresses and domain names of known "
                               "spammers collected from various public sources on the internet.   You may add "
                               "or delete from this list."),
                            widget);
    text->setWordWrap(true);
    lblKnownCount = new QLabel(widget);
    QFont countFont = lblKnownCount->font();
    countFont.setBold(true);
    countFont.setPointSizeF(countFont.pointSizeF() * 1.5);
    lblKnownCount->setFont(countFont);
    lblKnownCount->setAlignment(Qt::AlignHCenter);
    auto *caption = new QLabel(tr("Spammers"), widget);
    caption->setAlignment(Qt::AlignHCenter);

    auto *side = new QVBoxLayout;
    side->addWidget(btKnownEdit);
    side->addWidget(btKnownSave);
    side->addWidget(btKnownCancel);
    side->addSpacing(8);
    side->addWidget(text);
    side->addStretch(1);
    side->addWidget(lblKnownCount);
    side->addWidget(caption);
    auto *sideBox = new QWidget(widget);
    sideBox->setLayout(side);
    sideBox->setFixedWidth(fontMetrics().averageCharWidth() * 26);

    auto *row = new QHBoxLayout;
    row->addWidget(knownStack, 1);
    row->addWidget(sideBox);
    auto *layout = new QVBoxLayout(widget);
    layout->addLayout(top);
    layout->addLayout(row, 1);
    setKnownEditing(false);
    return widget;
}

// ---- Loading, saving, counts -------------------------------------------------------

void TfrmOptionsMain::readSettings()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const RuleFilesResult result = ::readSettings(rules_, folder_);
    for (const RulePage &p : pages_)
        p.model->refresh();
    showSizeRules();
    QApplication::restoreOverrideCursor();
    reportErrors(result.errors);
}

bool TfrmOptionsMain::Savesettings()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const RuleFilesResult result = ::Savesettings(rules_, folder_);
    QApplication::restoreOverrideCursor();
    reportErrors(result.errors);
    return result.ok();
}

void TfrmOptionsMain::reportErrors(const QStringList &errors)
{
    if (!errors.isEmpty())
        prompts_.error(errors.join(u'\n'));
}

void TfrmOptionsMain::updateCounts()
{
    for (const RulePage &p : pages_)
        p.lblCount->setText(QString::number(rules_.table(p.table).rowCount() - 1));
    const bool listShown = knownStack->currentWidget() == memoKnown;
    lblKnownCount->setText(QString::number(listShown ? splitLines(memoKnown->toPlainText()).size() : 0));
}

void TfrmOptionsMain::SetGridHeadings()
{
    rules_.SetGridHeadings();
    for (const RulePage &p : pages_)
        p.model->refresh();
}

void TfrmOptionsMain::showSizeRules()
{
    const SizeRules sizes = rules_.sizeRules; // the controls write back as they change
    cbSmaller->setChecked(sizes.smallerEnabled);
    edSmaller->setValue(int(std::clamp<qint64>(sizes.smallerLimit, 0, edSmaller->maximum())));
    (sizes.smallerCheck ? rbSmallerCheck : rbSmallerQuestion)->setChecked(true);
    cbLarger->setChecked(sizes.largerEnabled);
    edLarger->setValue(int(std::clamp<qint64>(sizes.largerLimit, 0, edLarger->maximum())));
    (sizes.largerCheck ? rbLargerCheck : rbLargerQuestion)->setChecked(true);
    rules_.sizeRules = sizes;
    cbKnown->setChecked(rules_.knownListEnabled);
    enableSizeControls();
    learningPage->showOptions();
}

void TfrmOptionsMain::enableSizeControls()
{
    for (QWidget *w : std::initializer_list<QWidget *>{edSmaller, rbSmallerCheck, rbSmallerQuestion})
        w->setEnabled(cbSmaller->isChecked());
    for (QWidget *w : std::initializer_list<QWidget *>{edLarger, rbLargerCheck, rbLargerQuestion})
        w->setEnabled(cbLarger->isChecked());
}

void TfrmOptionsMain::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    LoadMemoofKnownSpammers();
    readSettings();
    enableSizeControls();
    updateCounts();
    SetGridHeadings();
}

// ---- OK, Cancel, Help ------------------------------------------------------------------

void TfrmOptionsMain::btOKClick()
{
    for (RuleTable table : AllRuleTables)
        DeleteDupsFromGrid(rules_.table(table));
    for (const RulePage &p : pages_)
        p.model->refresh();
    Savesettings();
    if (btKnownSave->isEnabled())
        btKnownSaveClick();
    accept();
}

void TfrmOptionsMain::btCancelClick()
{
    readSettings();
    if (btKnownCancel->isEnabled())
        btKnownCancelClick();
    QDialog::reject();
}

void TfrmOptionsMain::reject()
{
    btCancelClick();
}

void TfrmOptionsMain::closeEvent(QCloseEvent *event)
{
    // Closing by the title bar leaves the edits in memory, neither saved nor dropped.
    done(QDialog::Rejected);
    event->accept();
}

void TfrmOptionsMain::btHelpClick()
{
    if (showHelp)
        showHelp(helpTopic);
}

// ---- Table commands ---------------------------------------------------------------------

int TfrmOptionsMain::selectedRow(RuleTable table) const
{
    const QModelIndex current = pages_[indexOf(table)].grid->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

void TfrmOptionsMain::selectRow(RuleTable table, int row)
{
    const RulePage &p = pages_[indexOf(table)];
    if (row < 1 || row >= rules_.table(table).rowCount())
        return;
    const int column = std::max(p.grid->currentIndex().column(), 0);
    p.grid->setCurrentIndex(p.model->index(row - 1, column));
    p.grid->selectRow(row - 1);
}

void TfrmOptionsMain::refreshGrid(RuleTable table)
{
    const int row = selectedRow(table);
    page(table).model->refresh();
    selectRow(table, std::min(row, rules_.table(table).rowCount() - 1));
}

template <typename Rule, typename Dialog>
std::optional<RowCells> TfrmOptionsMain::runEditor(Dialog &dialog, const RowCells &start, bool fillFromRow)
{
    dialog.setRule(fillFromRow ? Rule::fromRow(start) : Rule{});
    if (runDialog(dialog) != QDialog::Accepted)
        return std::nullopt;
    RowCells cells = start;
    dialog.rule().writeTo(cells);
    return cells;
}

std::optional<RowCells> TfrmOptionsMain::runRuleEditor(RuleTable table, const RowCells &start, bool fillFromRow)
{
    switch (table) {
    case RuleTable::Subject: {
        TfrmOptionsSubject dialog(prompts_, this);
        return runEditor<SubjectRule>(dialog, start, fillFromRow);
    }
    case RuleTable::Header: {
        TfrmHeaders dialog(mailboxesWithServer(general_.mailboxes), prompts_, this);
        return runEditor<HeaderRule>(dialog, start, fillFromRow);
    }
    case RuleTable::Sender: {
        TfrmOptionsFROM dialog(prompts_, this);
        return runEditor<SenderRule>(dialog, start, fillFromRow);
    }
    case RuleTable::Exception:
        break;
    }
    TfrmAlwaysAccept dialog(prompts_, this);
    return runEditor<ExceptionRule>(dialog, start, fillFromRow);
}

void TfrmOptionsMain::writeRow(RuleTable table, int row, const RowCells &cells)
{
    RuleList &list = rules_.table(table);
    setRowCells(list, row, cells);
    const RuleTableLayout &layout = list.layout();
    if (layout.hasPicture)
        CheckGridAdv(list, row, list.cell(layout.delColumn, row) == RuleText::Yes);
}

void TfrmOptionsMain::insertClick(RuleTable table)
{
    RuleList &list = rules_.table(table);
    const std::optional<RowCells> cells = runRuleEditor(table, RowCells(list.columnCount()), false);
    if (cells) {
        const int row = makeInsertTarget(list, selectedRow(table));
        writeRow(table, row, *cells);
        page(table).model->refresh();
        selectRow(table, row);
    }
    updateCounts();
}

void TfrmOptionsMain::editClick(RuleTable table)
{
    RuleList &list = rules_.table(table);
    const int row = selectedRow(table);
    if (row < 1 || list.cell(1, row).isEmpty()) {
        const QString message = tr("Error: nothing selected to edit");
        if (table == RuleTable::Sender)
            prompts_.information(message);
        else
            prompts_.error(message);
        return;
    }
    if (const std::optional<RowCells> cells = runRuleEditor(table, rowCells(list, row), true)) {
        writeRow(table, row, *cells);
        refreshGrid(table);
    }
}

void TfrmOptionsMain::deleteClick(RuleTable table)
{
    deleteRule(rules_.table(table), selectedRow(table));
    refreshGrid(table);
    updateCounts();
}

void TfrmOptionsMain::moveUpClick(RuleTable table)
{
    const int row = moveRuleUp(rules_.table(table), selectedRow(table));
    page(table).model->refresh();
    selectRow(table, row);
}

void TfrmOptionsMain::moveDownClick(RuleTable table)
{
    const int row = moveRuleDown(rules_.table(table), selectedRow(table));
    page(table).model->refresh();
    selectRow(table, row);
}

void TfrmOptionsMain::printClick(RuleTable table)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    if (!choosePrinter(printer))
        return;
    const RuleList &list = rules_.table(table);
    if (printRuleTable(printer, printedTableOf(list, lookOf(table).printTitle, lookOf(table).columnWidths)) == 0)
        prompts_.error(tr("The table could not be printed."));
}

void TfrmOptionsMain::importClick(RuleTable table)
{
    const QString title = lookOf(table).importTitle;
    if (title.isEmpty())
        return;
    TfrmImportSpam dialog(title, this);
    if (runDialog(dialog) == QDialog::Accepted) {
        importRules(rules_.table(table), dialog.lines(),
                    table == RuleTable::Subject ? ImportKind::SubjectKeywords : ImportKind::ExceptionAddresses);
    }
    Savesettings();
    refreshGrid(table);
    updateCounts();
}

// ---- Known spammer list ----------------------------------------------------------------

static QString knownListPath(const QString &folder)
{
    return QDir(folder).filePath(KnownSpammerList::fileName());
}

void TfrmOptionsMain::reloadKnownMemo()
{
    QByteArray bytes;
    QString error;
    if (!readWholeFile(knownListPath(folder_), bytes, error)) {
        prompts_.error(error);
        return;
    }
    memoKnown->setPlainText(decodeFileText(bytes));
}

void TfrmOptionsMain::LoadMemoofKnownSpammers()
{
    const bool exists = QFileInfo::exists(knownListPath(folder_));
    for (QPushButton *button : {btKnownEdit, btKnownSave, btKnownCancel})
        button->setVisible(exists);
    if (!exists) {
        memoKnown->clear();
        pnlRebuild->setText(tr("Could not locate the known spammer blacklist!"));
        knownStack->setCurrentWidget(pnlRebuild);
        return;
    }
    knownStack->setCurrentWidget(memoKnown);
    reloadKnownMemo();
}

void TfrmOptionsMain::setKnownEditing(bool editing)
{
    memoKnown->setReadOnly(!editing);
    QPalette palette = memoKnown->palette();
    palette.setColor(QPalette::Base, QApplication::palette().color(editing ? QPalette::Base : QPalette::Button));
    memoKnown->setPalette(palette);
    btKnownEdit->setEnabled(!editing);
    btKnownSave->setEnabled(editing);
    btKnownCancel->setEnabled(editing);
}

void TfrmOptionsMain::btKnownEditClick()
{
    setKnownEditing(true);
    memoKnown->setFocus();
}

void TfrmOptionsMain::btKnownSaveClick()
{
    const int topLine = memoKnown->verticalScrollBar()->value();
    pnlRebuild->setText(tr("Re-building list ... stand by"));
    knownStack->setCurrentWidget(pnlRebuild);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    pnlRebuild->repaint();
    const KnownListResult result = rules_.knownList.saveFromEditorText(memoKnown->toPlainText(), folder_);
    setKnownEditing(false);
    reloadKnownMemo();
    knownStack->setCurrentWidget(memoKnown);
    memoKnown->verticalScrollBar()->setValue(topLine);
    QApplication::restoreOverrideCursor();
    updateCounts();
    if (!result.ok)
        prompts_.error(result.error);
}

void TfrmOptionsMain::btKnownCancelClick()
{
    setKnownEditing(false);
    reloadKnownMemo();
    updateCounts();
}
