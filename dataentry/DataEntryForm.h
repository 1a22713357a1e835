#pragma once

// The data-entry control: given a database file and a table, it builds one labelled input per field
// of the table (a masked text input, or a check box for yes/no fields, with optional look-up hints
// and "Browse" buttons), checks what is typed against the field types and adds one record per
// confirmation. It never edits existing records.
//
// Hosts that know only the class name drive it late-bound: every property is a Q_PROPERTY (set with
// setProperty), every public member is Q_INVOKABLE (called with QMetaObject::invokeMethod), and
// FinishedLoading is a signal. Every property setter ends with PropertyChanged(name), the container's
// cue to save its property bag. Property descriptions are class infos named "Description:" + property.
//
// Child controls keep their design names as object names: TxTFields(i), FieldNames(i), QuickTips(i),
// Button(i), CheckField(i), cmdUpdate, cmdClose, ErrorBox, Label4, Image1, Label1, Box. Positions and
// sizes are twips (see TwipsGeometry.h). The rows and Box stand on the canvas "Rows", which scrolls in
// the area "RowsArea" above the buttons: the window that holds the control is kept within the
// screen, and a form with more rows than fit scrolls them (the focused row comes into view).
// Enter on a focused button presses it.

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "FieldSettings.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace dao {
class Error;
}
namespace platform {
class DataControl;
class MaskedEdit;
}  // namespace platform

namespace dataentry {

class PropertyBag;

class DataEntryForm : public QWidget {
    Q_OBJECT
    Q_CLASSINFO("Description:DatabaseName", "Returns/sets the name and location of the source of data for a Data control.")
    Q_CLASSINFO("Description:OK_PICTURE", "Returns/sets a graphic to be displayed in a CommandButton, OptionButton or CheckBox control, if Style is set to 1.")
    Q_CLASSINFO("Description:CLOSE_PICTURE", "Returns/sets a graphic to be displayed in a CommandButton, OptionButton or CheckBox control, if Style is set to 1.")
    Q_CLASSINFO("Description:OK_CAPTION", "Returns/sets the text displayed in an object's title bar or below an object's icon.")
    Q_CLASSINFO("Description:CLOSE_CAPTION", "Returns/sets the text displayed in an object's title bar or below an object's icon.")
    Q_PROPERTY(QString SelectedQuery READ SelectedQuery WRITE setSelectedQuery)
    Q_PROPERTY(QString DatabaseName READ DatabaseName WRITE setDatabaseName)
    Q_PROPERTY(QString SelectedTable READ SelectedTable WRITE setSelectedTable)
    Q_PROPERTY(bool UnloadParent READ UnloadParent WRITE setUnloadParent)
    Q_PROPERTY(bool EnableQuickTips READ EnableQuickTips WRITE setEnableQuickTips)
    Q_PROPERTY(QPixmap OK_PICTURE READ OK_PICTURE WRITE setOK_PICTURE)
    Q_PROPERTY(QPixmap CLOSE_PICTURE READ CLOSE_PICTURE WRITE setCLOSE_PICTURE)
    Q_PROPERTY(QString OK_CAPTION READ OK_CAPTION WRITE setOK_CAPTION)
    Q_PROPERTY(QString CLOSE_CAPTION READ CLOSE_CAPTION WRITE setCLOSE_CAPTION)
    Q_PROPERTY(bool CloseOnOK READ CloseOnOK WRITE setCloseOnOK)
    Q_PROPERTY(bool ShowPrevData READ ShowPrevData WRITE setShowPrevData)
    Q_PROPERTY(bool AutoResize READ AutoResize WRITE setAutoResize)
    // The host's ambient user mode: True in a running program, False in a design environment, where
    // showing the control builds nothing and its design-time title stays visible.
    Q_PROPERTY(bool UserMode READ UserMode WRITE setUserMode)

public:
    // The defaults of a freshly placed control, and the write default of "DatabaseName".
    static const QString DefaultDatabaseName;       // "C:\vorn.mdb"
    static const QString DatabaseNameWriteDefault;  // "C:\Dalmo\PROJECTS\Velloset\SmallDB.mdb"
    static constexpr double DesignWidth = 5595, DesignHeight = 3705;

    // A new instance: InitProperties has run (the host may read a bag afterwards).
    explicit DataEntryForm(QWidget* parent = nullptr);
    ~DataEntryForm() override;

    // ---- public members, in interface order ----
    QString SelectedQuery() const { return selectedQuery_; }
    void setSelectedQuery(const QString& query) { selectedQuery_ = query; }

    // -1 when every input passes the field-type checks, otherwise the index of the first that fails
    // (ErrorBox is then shown).
    Q_INVOKABLE int ValidateFixFields();
    // Raises dao::Error 9 (a std::exception) outside 0..1000.
    Q_INVOKABLE void ShowBrowseButton(int lControlIndex);
    // Outside 0..1000: a warning box, nothing changed.
    Q_INVOKABLE void SetInvisible(bool sxInVisible, int CtrlIndex);
    Q_INVOKABLE void SetDefault(const QString& sText, int controlx);
    Q_INVOKABLE void SetIncrement(int lIncrement, int ControlIndex);
    Q_INVOKABLE void SetDisabled(int controlx);
    // Resets the settings table; TxTFields(0) is visible and enabled again.
    Q_INVOKABLE void Clear();
    // Builds the form (rows rebuilt from scratch on every call).
    Q_INVOKABLE void LoadFields();
    Q_INVOKABLE void SetMask(const QString& sMask, int controlx);
    // Writes the text straight into an input of the built form.
    Q_INVOKABLE void SetText(const QString& sText, int controlx);

    QString DatabaseName() const;
    void setDatabaseName(const QString& name);
    QString SelectedTable() const { return selectedTable_; }
    void setSelectedTable(const QString& table);
    bool UnloadParent() const { return unloadParent_; }
    void setUnloadParent(bool on);
    bool EnableQuickTips() const { return enableQuickTips_; }
    void setEnableQuickTips(bool on);
    QPixmap OK_PICTURE() const { return okPicture_; }
    void setOK_PICTURE(const QPixmap& picture);
    QPixmap CLOSE_PICTURE() const { return closePicture_; }
    void setCLOSE_PICTURE(const QPixmap& picture);
    QString OK_CAPTION() const;
    void setOK_CAPTION(const QString& caption);
    QString CLOSE_CAPTION() const;
    void setCLOSE_CAPTION(const QString& caption);
    bool CloseOnOK() const { return closeOnOK_; }
    void setCloseOnOK(bool on);
    bool ShowPrevData() const { return showPrevData_; }
    void setShowPrevData(bool on);
    bool AutoResize() const { return autoResize_; }
    void setAutoResize(bool on);

    bool UserMode() const { return userMode_; }
    void setUserMode(bool on) { userMode_ = on; }

    // ---- persistence in the host's property bag ----
    Q_INVOKABLE void InitProperties();
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;
    // The same through a bag file (PropertyBag.h describes its format), for hosts that keep the
    // bag as a file and know the control only by name. The error is handed back to the host as its
    // text (description + " - " + number; empty when all went well), so that a late-bound caller
    // gets it without catching C++ exceptions. A file that cannot be read changes nothing.
    Q_INVOKABLE QString ReadPropertiesFile(const QString& path);
    Q_INVOKABLE QString WritePropertiesFile(const QString& path) const;

    // ---- for the host window and tests ----
    const FieldSettings& settings() const { return settings_; }
    platform::DataControl* dataControl() const { return datPrimaryRS; }
    // The progress marker of the last LoadFields (1 .. 14).
    float LoadSection() const { return loadSection_; }
    int rowCount() const { return int(TxTFields.size()); }
    // The field type codes of the built rows.
    const std::vector<int>& fieldTypes() const { return fieldTypes_; }

    // The button press handlers (the buttons call them; hosts and tests may too).
    Q_INVOKABLE void pressUpdate();
    Q_INVOKABLE void pressClose();

signals:
    // Raised once the form has been built and shown.
    void FinishedLoading();
    // The container's property-changed notification.
    void PropertyChanged(const QString& propertyName);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Flow { Next, End };

    void buildDesign();
    void showStep();
    void layoutButtons();
    void destroyRows();
    void createRow(int i);
    bool isYesNo(int i) const;
    void setTabIndex(QWidget* w, int position);
    void applyTabOrder();
    void resizeToRow(int i);
    void fitRows();
    void scrollIntoView(QWidget* w, int row);
    void parkBox();
    void markRow(int i);
    void FocusFirstField();

    // LoadFields' error handling around one step.
    Flow loadStep(const std::function<void()>& step);
    void loadFieldsBody();

    // Editing.
    int rowOf(QObject* o, const char* arrayName) const;
    void inputGotFocus(int i);
    void inputKeyUp(int i, int key);
    void advance(int i, bool fromTextInput);
    bool hintMatches(int i) const;
    void checkClicked(int i);
    void askMask(int i);
    void browse(int i);
    void inputChanged(int i);

    // Saving.
    QString enteredText(int i) const;
    void saveRecord();
    void setFailedColour(int i);
    void resetColour(int i);

    QWidget* container() const;
    void notify(const char* name) { emit PropertyChanged(QString::fromLatin1(name)); }
    void refreshButtonLook();

    // Child controls (arrays grow at run time; element 0 exists at design time).
    std::vector<platform::MaskedEdit*> TxTFields;
    std::vector<QLabel*> FieldNames;
    std::vector<QLabel*> QuickTips;
    std::vector<QPushButton*> Button;
    std::vector<QCheckBox*> CheckField;  // null where the row has none
    QToolButton* cmdUpdate;
    QToolButton* cmdClose;
    platform::DataControl* datPrimaryRS;
    QFrame* ErrorBox;
    QLabel* Label4;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* notice1_;
    QLabel* notice2_;
    QFrame* Box;
    QScrollArea* rowsArea_;
    QWidget* rows_;

    FieldSettings settings_;
    QString selectedTable_;
    QString selectedQuery_;
    bool unloadParent_ = false;
    bool enableQuickTips_ = true;
    bool closeOnOK_ = false;
    bool showPrevData_ = true;
    bool autoResize_ = true;
    bool userMode_ = true;
    QPixmap okPicture_, closePicture_;

    float loadSection_ = 0;
    bool handlingOn_ = true;
    std::vector<int> fieldTypes_;
    std::vector<QWidget*> tabOrder_;
    bool saving_ = false;
    bool tooManyFields_ = false;  // the last LoadFields refused the record source
};

}  // namespace dataentry
