#include "PanelContents.h"

#include "PanelControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace browser {

namespace {

constexpr int kWidths[MenuPanelCount] = {7680, 7680, 7680, 8670, 7680, 7680, 7680, 7065, 7680};
constexpr int kHeights[MenuPanelCount] = {1590, 1575, 1575, 1575, 1545, 1545, 1575, 2010, 2760};

// The "Veriy" spelling is the panel's established caption.
const char* const kCaptions[MenuPanelCount] = {
    "Select Records",        "Reports",     "Records", "Table", "Replace Data", "Veriy", "Summary",
    "Operaciones de campos", "Copy Columns"};

template <class W>
W* named(QWidget* parent, const QString& name) {
    auto* w = new W(parent);
    w->setObjectName(name);
    return w;
}

QComboBox* fieldCombo(QWidget* parent, const QString& name) {
    auto* c = named<QComboBox>(parent, name);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(10);
    return c;
}

QLineEdit* textBox(QWidget* parent, const QString& name) {
    return named<QLineEdit>(parent, name);
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, const QString& tip = {}) {
    auto* b = named<QPushButton>(parent, name);
    b->setText(caption);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

// A command button of the menu panels proper (panels 1 to 3): large, like a tool bar entry.
QPushButton* menuButton(QWidget* parent, const QString& name, const QString& caption,
                        const QString& tip = {}) {
    auto* b = button(parent, name, caption, tip);
    b->setMinimumSize(96, 44);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    return b;
}

QLabel* labelFor(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

QVBoxLayout* frameLayout(QFrame* panel, int index) {
    auto* v = new QVBoxLayout(panel);
    v->setContentsMargins(8, 4, 8, 6);
    v->setSpacing(3);
    auto* caption = new QLabel(menuPanelCaption(index), panel);
    QFont f = caption->font();
    f.setBold(true);
    caption->setFont(f);
    v->addWidget(caption);
    return v;
}

QGridLayout* grid(QVBoxLayout* v) {
    auto* g = new QGridLayout;
    g->setHorizontalSpacing(8);
    g->setVerticalSpacing(2);
    v->addLayout(g);
    return g;
}

void buildSelect(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    v->addWidget(new QLabel(QStringLiteral("Select the field to use and the range."), p));
    auto* range = c.RangeCombo = fieldCombo(p, "RangeCombo");
    range->setAccessibleName(QStringLiteral("Field of the range"));  // the inputs beside it have their labels
    auto* from = c.FromTxT = textBox(p, "FromTxT");
    auto* to = c.ToTxT = textBox(p, "ToTxT");
    auto* h = new QHBoxLayout;
    h->setSpacing(6);
    h->addWidget(range, 3);
    h->addSpacing(6);
    h->addWidget(labelFor(p, "From", from));
    h->addWidget(from, 2);
    h->addWidget(labelFor(p, "To", to));
    h->addWidget(to, 2);
    h->addSpacing(6);
    h->addWidget(c.ShowRecords = button(p, "ShowRecords", "Show Range"));
    v->addLayout(h);
    v->addStretch();
}

void buildReports(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* h = new QHBoxLayout;
    h->addWidget(c.ReportsBtn = menuButton(p, "ReportsBtn", "&Listing"));
    h->addStretch();
    v->addLayout(h);
}

void buildRecords(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* h = new QHBoxLayout;
    h->addWidget(c.EraseRecords = menuButton(p, "EraseRecords", "Erase", QString::fromUtf8("Borrar records en pantalla")));
    h->addWidget(c.AbrirBtn = menuButton(p, "AbrirBtn", "Open", "Abrir el record seleccionado"));
    h->addWidget(c.EditBtn = menuButton(p, "EditBtn", "Edit", "Editar el record seleccionado"));
    h->addWidget(
        c.AddRecordBtn = menuButton(p, "AddRecordBtn", "Add", QString::fromUtf8("Añadir mas records a la base de datos")));
    h->addStretch();
    v->addLayout(h);
}

void buildTable(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* h = new QHBoxLayout;
    h->addWidget(c.FixBtn = menuButton(p, "FixBtn", "Verify", "Verify database"));
    h->addWidget(c.RemplaceBtn = menuButton(p, "RemplaceBtn", "Replace", "Replace records in the database"));
    h->addWidget(c.TotalsBtn = menuButton(p, "TotalsBtn", "Totals", "View total of fields"));
    h->addWidget(c.SSCommand1 = menuButton(p, "SSCommand1", "Operations", "Perform different operations on the table"));
    h->addWidget(c.CopyBtn = menuButton(p, "CopyBtn", "Copy Columns"));
    h->addWidget(c.CopyTableBtn = menuButton(p, "CopyTableBtn", "Copy Table",
                                             "Copy the table into a PostgreSQL database or an SQLite file"));
    v->addLayout(h);
}

void buildReplace(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* g = grid(v);
    auto* field = c.RemplaceCombo = fieldCombo(p, "RemplaceCombo");
    auto* find = c.Remplace_FindTxT = textBox(p, "Remplace_FindTxT");
    auto* change = c.Remplace_ChangeForTxT = textBox(p, "Remplace_ChangeForTxT");
    g->addWidget(labelFor(p, "Select the field to use:", field), 0, 0);
    g->addWidget(labelFor(p, "Search for", find), 0, 1);
    g->addWidget(labelFor(p, "Change by", change), 0, 2);
    g->addWidget(field, 1, 0);
    g->addWidget(find, 1, 1);
    g->addWidget(change, 1, 2);
    g->addWidget(c.DoRemplaceBtn = button(p, "DoRemplaceBtn", "Remplazar"), 1, 3);
    g->setColumnStretch(0, 3);
    g->setColumnStretch(1, 2);
    g->setColumnStretch(2, 2);
    v->addStretch();
}

void buildVerify(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* g = grid(v);
    auto* field = c.VerifyFields = fieldCombo(p, "VerifyFields");
    g->addWidget(labelFor(p, "Select the field you want to use.", field), 0, 0, 1, 2);
    g->addWidget(field, 1, 0);
    auto* chk = c.VerifyChk = named<QCheckBox>(p, "VerifyChk");
    chk->setText("Make Numeric ID unique");
    g->addWidget(chk, 1, 1);
    g->addWidget(c.VerifyBtn = button(p, "VerifyBtn", "Verify"), 1, 2);
    g->setColumnStretch(0, 3);
    g->setColumnStretch(1, 2);
    v->addStretch();
}

void buildSummary(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* g = grid(v);
    auto* field = c.SummaryFields = fieldCombo(p, "SummaryFields");
    auto* total = c.SummaryTxT = textBox(p, "SummaryTxT");
    total->setReadOnly(true);
    total->setAlignment(Qt::AlignRight);
    g->addWidget(labelFor(p, "Choose a field to view it's total", field), 0, 0);
    g->addWidget(labelFor(p, "Total", total), 0, 1);
    g->addWidget(field, 1, 0);
    g->addWidget(total, 1, 1);
    g->addWidget(c.GetTotalBtn = button(p, "GetTotalBtn", "Get Total"), 1, 2);
    c.SummaryNullsLbl = named<QLabel>(p, "SummaryNullsLbl");
    g->addWidget(c.SummaryNullsLbl, 2, 1, 1, 2);
    g->setColumnStretch(0, 3);
    g->setColumnStretch(1, 2);
    v->addStretch();
}

void buildOperations(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* g = grid(v);
    auto* field = c.OpFieldsCombo = fieldCombo(p, "OpFieldsCombo");
    auto* value = c.OperatorValue = textBox(p, "OperatorValue");
    g->addWidget(labelFor(p, "Seleccione el campo a usar:", field), 0, 0, 1, 2);
    g->addWidget(field, 1, 0, 1, 2);
    g->addWidget(labelFor(p, "Valor", value), 2, 0);
    g->addWidget(value, 2, 1);

    auto* group = new QGroupBox(QString::fromUtf8("Operación"), p);
    auto* radios = new QHBoxLayout(group);
    radios->setContentsMargins(8, 2, 8, 4);
    const char* const signs[] = {"+", "-", "*", "/"};
    for (int i = 0; i < 4; ++i) {
        auto* r = c.OperatorOpt[i] = named<QRadioButton>(group, QStringLiteral("OperatorOpt(%1)").arg(i));
        r->setText(signs[i]);
        r->setChecked(i == 0);
        radios->addWidget(r);
    }
    g->addWidget(group, 0, 2, 2, 1);
    g->addWidget(c.ProcessOperationBtn = button(p, "ProcessOperationBtn", "Procesar"), 2, 2, Qt::AlignRight);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(2, 1);
    v->addStretch();
}

void buildCopy(QFrame* p, QVBoxLayout* v, PanelControls& c) {
    auto* g = grid(v);
    auto* from = c.CopyCombo1 = fieldCombo(p, "CopyCombo1");
    auto* to = c.CopyCombo2 = fieldCombo(p, "CopyCombo2");
    g->addWidget(labelFor(p, "From Column:", from), 0, 0);
    g->addWidget(labelFor(p, "To Column:", to), 0, 1);
    g->addWidget(from, 1, 0);
    g->addWidget(to, 1, 1);

    auto* group = new QGroupBox("Exclude:", p);
    auto* gv = new QVBoxLayout(group);
    gv->setContentsMargins(8, 2, 8, 4);
    gv->setSpacing(2);
    auto* exclude = c.ExcludeTxT = textBox(group, "ExcludeTxT");
    auto* hint =
        labelFor(group, "Exclude all copy-move operation when the value is equal to this value.", exclude);
    hint->setWordWrap(true);
    gv->addWidget(hint);
    gv->addWidget(exclude);
    g->addWidget(group, 2, 0, 3, 1);

    auto* keep = c.NotOverwrite = named<QCheckBox>(p, "NotOverwrite");
    keep->setText("Do not overwrite existing data");
    auto* erase = c.CopyEraseSource = named<QCheckBox>(p, "CopyEraseSource");
    erase->setText("Erase Source Data");
    g->addWidget(keep, 2, 1);
    g->addWidget(erase, 3, 1);
    g->addWidget(c.Startcopy = button(p, "Startcopy", "Start"), 4, 1, Qt::AlignRight | Qt::AlignBottom);
    g->setColumnStretch(0, 1);
    g->setColumnStretch(1, 1);
    // The group's tab position: after the two combos, before the check boxes.
    QWidget::setTabOrder(to, exclude);
    QWidget::setTabOrder(exclude, keep);
}

}  // namespace

int menuPanelWidthTwips(int index) {
    return index >= 0 && index < MenuPanelCount ? kWidths[index] : 0;
}

int menuPanelHeightTwips(int index) {
    return index >= 0 && index < MenuPanelCount ? kHeights[index] : 0;
}

QString menuPanelCaption(int index) {
    return index >= 0 && index < MenuPanelCount ? QString::fromUtf8(kCaptions[index]) : QString();
}

void buildPanelContents(int index, QFrame* panel, PanelControls& c) {
    QVBoxLayout* v = frameLayout(panel, index);
    switch (index) {
        case 0:
            buildSelect(panel, v, c);
            break;
        case 1:
            buildReports(panel, v, c);
            break;
        case 2:
            buildRecords(panel, v, c);
            break;
        case 3:
            buildTable(panel, v, c);
            break;
        case 4:
            buildReplace(panel, v, c);
            break;
        case 5:
            buildVerify(panel, v, c);
            break;
        case 6:
            buildSummary(panel, v, c);
            break;
        case 7:
            buildOperations(panel, v, c);
            break;
        case 8:
            buildCopy(panel, v, c);
            break;
        default:
            break;
    }
}

}  // namespace browser
