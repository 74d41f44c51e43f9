#pragma once
// The Spam settings window: the four rule tables, the size rules and the
// known spammer list of the RuleSet, edited in place. Lives for the whole run.

#include "rules/rulelist.h"
#include "settings/ruleeditors.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class GeneralSettings;
class Prompts;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class LearningPage;
class QTableView;
class RuleTableModel;

class TfrmOptionsMain : public QDialog
{
    Q_OBJECT

public:
    // rules and general live for the whole run; folder holds the list files.
    TfrmOptionsMain(RuleSet &rules, const QString &folder, const GeneralSettings &general, Prompts &prompts,
                    QWidget *parent = nullptr);
    ~TfrmOptionsMain() override;

    // Seams to the world outside the window; tests replace them.
    // Runs a modal dialog (an editor, the import dialog) and gives its result.
    std::function<int(QDialog &)> runDialog;
    // Sets up the printer for a print (the print dialog); false when cancelled.
    std::function<bool(QPrinter &)> choosePrinter;
    // Shows a topic of the program's help file.
    std::function<void(int topic)> showHelp;

    static constexpr int helpTopic = 100;

    // Operations the rest of the program calls.
    void readSettings();
    bool Savesettings();
    void updateCounts();
    void SetGridHeadings();
    void LoadMemoofKnownSpammers();

    // One rule table page: its grid, buttons and count.
    struct RulePage
    {
        RuleTable table;
        QTableView *grid = nullptr;
        RuleTableModel *model = nullptr;
        QPushButton *btInsert = nullptr;
        QPushButton *btEdit = nullptr;
        QPushButton *btDelete = nullptr;
        QPushButton *btPrint = nullptr;
        QPushButton *btImport = nullptr; // subject and exception pages only
        QPushButton *btUp = nullptr;
        QPushButton *btDown = nullptr;
        QLabel *lblCount = nullptr;
    };
    RulePage &page(RuleTable table);

    // The table commands; the buttons call them.
    void insertClick(RuleTable table);
    void editClick(RuleTable table);
    void deleteClick(RuleTable table);
    void moveUpClick(RuleTable table);
    void moveDownClick(RuleTable table);
    void printClick(RuleTable table);
    void importClick(RuleTable table);
    // The selected rule row (1 = first rule), 0 when none.
    int selectedRow(RuleTable table) const;
    void selectRow(RuleTable table, int row);

    void btOKClick();
    void btCancelClick();
    void btHelpClick();
    void btKnownEditClick();
    void btKnownSaveClick();
    void btKnownCancelClick();

    QTabWidget *pages = nullptr;
    QCheckBox *cbSmaller = nullptr;
    QSpinBox *edSmaller = nullptr;
    QRadioButton *rbSmallerCheck = nullptr;
    QRadioButton *rbSmallerQuestion = nullptr;
    QCheckBox *cbLarger = nullptr;
    QSpinBox *edLarger = nullptr;
    QRadioButton *rbLargerCheck = nullptr;
    QRadioButton *rbLargerQuestion = nullptr;
    QCheckBox *cbKnown = nullptr;
    QStackedWidget *knownStack = nullptr;
    QPlainTextEdit *memoKnown = nullptr;
    QLabel *pnlRebuild = nullptr;
    QPushButton *btKnownEdit = nullptr;
    QPushButton *btKnownSave = nullptr;
    QPushButton *btKnownCancel = nullptr;
    QLabel *lblKnownCount = nullptr;
    LearningPage *learningPage = nullptr;
    QPushButton *btOK = nullptr;
    QPushButton *btCancel = nullptr;
    QPushButton *btHelp = nullptr;

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *makeRulePage(RuleTable table, const QString &text, const QString &countCaption);
    QWidget *makeSizePage();
    QWidget *makeKnownPage();
    void showSizeRules();
    void enableSizeControls();
    void setKnownEditing(bool editing);
    void reloadKnownMemo();
    void reportErrors(const QStringList &errors);
    void refreshGrid(RuleTable table);
    std::optional<ruleeditors::RowCells> runRuleEditor(RuleTable table, const ruleeditors::RowCells &start,
                                                       bool fillFromRow);
    template <typename Rule, typename Dialog>
    std::optional<ruleeditors::RowCells> runEditor(Dialog &dialog, const ruleeditors::RowCells &start,
                                                   bool fillFromRow);
    void writeRow(RuleTable table, int row, const ruleeditors::RowCells &cells);

    RuleSet &rules_;
    QString folder_;
    const GeneralSettings &general_;
    Prompts &prompts_;
    std::array<RulePage, 4> pages_;
};
