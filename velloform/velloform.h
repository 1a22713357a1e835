/* Velloform: the data-entry control as a library that any Qt Widgets program can load.
 *
 * A host does not link against the library. It looks the class name "Velloform.DataEntryForm" up
 * in the per-user class registry, loads the library named there with dlopen, asks it for the class
 * factory and creates the control on one of its windows. From then on it drives the control by
 * name through Qt's meta-object system: properties with QObject::setProperty, methods with
 * QMetaObject::invokeMethod, the event FinishedLoading as a signal.
 *
 * The class registry is the text file $XDG_CONFIG_HOME/velloform/classes (~/.config/velloform/classes
 * when XDG_CONFIG_HOME is not set), one class a line:
 *
 *     Velloform.DataEntryForm=/usr/local/lib/libvelloform.so
 *
 * Lines starting with '#' are comments. DllRegisterServer writes the line of this library's class
 * (its absolute path), DllUnregisterServer removes it; the lines of other classes and the comments
 * are kept.
 *
 * The control is a Qt Widgets widget: creating one needs a QApplication in the host process and a
 * parent widget. A plain C host (no QApplication) can register, unregister and get the class
 * factory, but CreateInstance gives it NULL.
 *
 * Access files (.mdb/.accdb) are read by the helper program tabulon-jet-reader, which the library
 * looks for beside itself and in ../libexec/tabulon (as installed); it runs while a file is opened.
 */
#ifndef VELLOFORM_H
#define VELLOFORM_H

#ifdef __cplusplus
extern "C" {
#endif

#define VELLOFORM_CLASS_NAME "Velloform.DataEntryForm"

/* Results of DllRegisterServer, DllUnregisterServer and DllGetClassObject, and DllCanUnloadNow's
 * two answers (the COM convention: 0 = S_OK, 1 = S_FALSE). */
#define VELLOFORM_OK 0
#define VELLOFORM_S_FALSE 1
#define VELLOFORM_E_FAIL (-1)              /* the registry file could not be written */
#define VELLOFORM_E_CLASSNOTAVAILABLE (-2) /* the library has no class of that name */

/* The class factory. CreateInstance takes the parent widget (a QWidget*) and returns the new
 * control (a QWidget*, parented to it), or NULL when there is no QApplication or no parent.
 * The control lives until its parent deletes it (or the host deletes it). */
typedef struct VelloformClassFactory {
    void* (*CreateInstance)(void* parentWidget);
} VelloformClassFactory;

int DllRegisterServer(void);
int DllUnregisterServer(void);
int DllGetClassObject(const char* className, VelloformClassFactory* factory);
/* VELLOFORM_OK (0) when no control created by this library is alive, so that the host may unload the
 * library; VELLOFORM_S_FALSE (1) while one lives (unloading it then would pull its code from under
 * the control). */
int DllCanUnloadNow(void);

#ifdef __cplusplus
}
#endif

#endif /* VELLOFORM_H */
