#include "app/KestuSoftPhoneApp.h"

int main(int argc, char** argv) {
    return CKestuSoftPhoneApp::run(argc, argv);
}
