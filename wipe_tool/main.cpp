#include "DocuvaneDropboxUninstall.h"
#include "DocuvaneFetchIdentity.h"

// Removes the installed client: no arguments, no input, and status 0 whatever happened.
int main() {
    DocuvaneFetchIdentity::install();
    DocuvaneDropboxUninstall::sharedInstance()->uninstall();
    return 0;
}
