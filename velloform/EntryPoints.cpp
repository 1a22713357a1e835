// The four entry points of the library, with C linkage, and its class factory.

#include <dlfcn.h>

#include <QApplication>
#include <QFileInfo>
#include <QWidget>
#include <atomic>
#include <cstring>

#include "ClassRegistry.h"
#include "dataentry/DataEntryForm.h"
#include "velloform.h"

#define VELLOFORM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<int> liveControls{0};

QString libraryPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath();
}

void* createInstance(void* parentWidget) {
    auto* parent = static_cast<QWidget*>(parentWidget);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !parent) return nullptr;
    auto* control = new dataentry::DataEntryForm(parent);
    ++liveControls;
    QObject::connect(control, &QObject::destroyed, [] { --liveControls; });
    return control;
}

}  // namespace

VELLOFORM_EXPORT int DllRegisterServer(void) {
    const QString path = libraryPath();
    if (path.isEmpty()) return VELLOFORM_E_FAIL;
    return velloform::ClassRegistry::add(QStringLiteral(VELLOFORM_CLASS_NAME), path) ? VELLOFORM_OK : VELLOFORM_E_FAIL;
}

VELLOFORM_EXPORT int DllUnregisterServer(void) {
    return velloform::ClassRegistry::remove(QStringLiteral(VELLOFORM_CLASS_NAME)) ? VELLOFORM_OK : VELLOFORM_E_FAIL;
}

VELLOFORM_EXPORT int DllGetClassObject(const char* className, VelloformClassFactory* factory) {
    if (!factory) return VELLOFORM_E_FAIL;
    factory->CreateInstance = nullptr;
    if (!className || std::strcmp(className, VELLOFORM_CLASS_NAME) != 0) return VELLOFORM_E_CLASSNOTAVAILABLE;
    factory->CreateInstance = &createInstance;
    return VELLOFORM_OK;
}

VELLOFORM_EXPORT int DllCanUnloadNow(void) {
    return liveControls.load() == 0 ? VELLOFORM_OK : VELLOFORM_S_FALSE;
}
