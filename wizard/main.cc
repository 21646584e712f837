// Program entry: OLE for the folder browser, then the wizard.
#include <ole2.h>

#include "wizard/wizard.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  OleInitialize(nullptr);
  RunWizard(instance);
  OleUninitialize();
  return 0;
}
