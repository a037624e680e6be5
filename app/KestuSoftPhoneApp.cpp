#include "app/KestuSoftPhoneApp.h"

int CKestuSoftPhoneApp::run(int, char**) { return 0; }
