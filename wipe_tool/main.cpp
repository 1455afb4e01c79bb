#include "DocuvaneDropboxUninstall.h"

// Removes the installed client: no arguments, no input, and status 0 whatever happened.
int main() {
    DocuvaneDropboxUninstall::sharedInstance()->uninstall();
    return 0;
}
