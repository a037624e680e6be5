#pragma once

class CKestuSoftPhoneApp {
public:
    static int run(int argc, char** argv);
};
