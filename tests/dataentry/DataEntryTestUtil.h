#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "TestUtil.h"
#include "dataentry/DataEntryForm.h"
#include "dataentry/TwipsGeometry.h"
#include "platform/MaskedEdit.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace detest {

// A window holding one data-entry control, as a host places it.
struct Host {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    dataentry::DataEntryForm* form = new dataentry::DataEntryForm(window.get());

    Host() { window->resize(400, 300); }
    // Shows the window, which builds the form (the control's show step).
    void show() {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        (void)QTest::qWaitForWindowActive(window.get(), 2000);
    }

    template <class T = QWidget>
    T* get(const QString& name) const {
        return form->findChild<T*>(name);
    }
    platform::MaskedEdit* input(int i) const { return get<platform::MaskedEdit>(QString("TxTFields(%1)").arg(i)); }
    QLabel* label(int i) const { return get<QLabel>(QString("FieldNames(%1)").arg(i)); }
    QLabel* hint(int i) const { return get<QLabel>(QString("QuickTips(%1)").arg(i)); }
    QCheckBox* check(int i) const { return get<QCheckBox>(QString("CheckField(%1)").arg(i)); }
    QPushButton* browse(int i) const { return get<QPushButton>(QString("Button(%1)").arg(i)); }
    QToolButton* ok() const { return get<QToolButton>("cmdUpdate"); }
    QToolButton* close() const { return get<QToolButton>("cmdClose"); }
    QWidget* errorBox() const { return get<QWidget>("ErrorBox"); }
    double top(QWidget* w) const { return dataentry::twipsTop(w); }
};

// Types text into an input the way a user does: key presses and releases.
inline void type(QWidget* w, const QString& text) {
    QTest::keyClicks(w, text);
}

inline long long count(const QString& db, const QString& table) {
    auto d = dao::OpenDatabase(db);
    return d->OpenRecordset("select * from " + table)->RecordCount();
}

inline QString valueText(const QString& db, const QString& sql) {
    auto d = dao::OpenDatabase(db);
    auto rs = d->OpenRecordset(sql);
    if (rs->RecordCount() < 1) return "<none>";
    rs->MoveFirst();
    const dao::Variant v = rs->Fields().Item(0).Value();
    return v.isNull() ? "<null>" : dao::valueToText(v);
}

}  // namespace detest
