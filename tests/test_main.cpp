#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tabulon");
    // Tests pin the locale; single tests may pin another and restore it.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // Working copies of Access files (and anything else cached) stay inside the run's own folder,
    // for this process and the programs it starts.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
