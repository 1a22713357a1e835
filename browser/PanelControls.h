#pragma once

// The controls of the browser's slide-up menu panels, typed and gathered once when the panels are
// built, so that the browser and its tool commands reach them without looking anything up by name.
// Each control's objectName is still its design name (tests and accessibility find them by it).

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace browser {

struct PanelControls {
    // MenuPanel(0) "Select Records"
    QComboBox* RangeCombo = nullptr;
    QLineEdit* FromTxT = nullptr;
    QLineEdit* ToTxT = nullptr;
    QPushButton* ShowRecords = nullptr;
    // MenuPanel(1) "Reports"
    QPushButton* ReportsBtn = nullptr;
    // MenuPanel(2) "Records"
    QPushButton* EraseRecords = nullptr;
    QPushButton* AbrirBtn = nullptr;
    QPushButton* EditBtn = nullptr;
    QPushButton* AddRecordBtn = nullptr;
    // MenuPanel(3) "Table": each opens a tool panel
    QPushButton* FixBtn = nullptr;
    QPushButton* RemplaceBtn = nullptr;
    QPushButton* TotalsBtn = nullptr;
    QPushButton* SSCommand1 = nullptr;
    QPushButton* CopyBtn = nullptr;
    QPushButton* CopyTableBtn = nullptr;  // the whole table into another database (runs at once)
    // MenuPanel(4) "Replace Data"
    QComboBox* RemplaceCombo = nullptr;
    QLineEdit* Remplace_FindTxT = nullptr;
    QLineEdit* Remplace_ChangeForTxT = nullptr;
    QPushButton* DoRemplaceBtn = nullptr;
    // MenuPanel(5) "Veriy"
    QComboBox* VerifyFields = nullptr;
    QCheckBox* VerifyChk = nullptr;
    QPushButton* VerifyBtn = nullptr;
    // MenuPanel(6) "Summary"
    QComboBox* SummaryFields = nullptr;
    QLineEdit* SummaryTxT = nullptr;
    QPushButton* GetTotalBtn = nullptr;
    QLabel* SummaryNullsLbl = nullptr;  // beside the total: how many Null values were skipped
    // MenuPanel(7) "Operaciones de campos"
    QComboBox* OpFieldsCombo = nullptr;
    std::array<QRadioButton*, 4> OperatorOpt{};
    QLineEdit* OperatorValue = nullptr;
    QPushButton* ProcessOperationBtn = nullptr;
    // MenuPanel(8) "Copy Columns"
    QComboBox* CopyCombo1 = nullptr;
    QComboBox* CopyCombo2 = nullptr;
    QLineEdit* ExcludeTxT = nullptr;
    QCheckBox* NotOverwrite = nullptr;
    QCheckBox* CopyEraseSource = nullptr;
    QPushButton* Startcopy = nullptr;

    // Not on a panel: the search panel's "Export" and "Import", filled in by the browser.
    QPushButton* SaveBtn = nullptr;
    QPushButton* ImportBtn = nullptr;
};

}  // namespace browser
