/* A plain C host of the control library: no QApplication. It may register the library and get its
 * class factory; creating a control gives NULL; and DllCanUnloadNow says (S_OK, 0) that the library
 * may be unloaded, which it then does. Prints one line per step for the test to read. */
#include <dlfcn.h>
#include <stdio.h>

#include "velloform.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    int (*reg)(void) = (int (*)(void))dlsym(lib, "DllRegisterServer");
    int (*get)(const char*, VelloformClassFactory*) =
        (int (*)(const char*, VelloformClassFactory*))dlsym(lib, "DllGetClassObject");
    int (*canUnload)(void) = (int (*)(void))dlsym(lib, "DllCanUnloadNow");
    if (!reg || !get || !canUnload) return 1;
    VelloformClassFactory factory = {0};
    int parent = 0; /* not a widget: there is no QApplication to make one */
    printf("register %d\n", reg());
    printf("class %d\n", get(VELLOFORM_CLASS_NAME, &factory));
    printf("create %s\n", factory.CreateInstance && factory.CreateInstance(&parent) == NULL ? "NULL" : "?");
    const int unload = canUnload();
    printf("DllCanUnloadNow %d\n", unload);
    if (unload == VELLOFORM_OK) printf("unloaded %d\n", dlclose(lib));
    return 0;
}
