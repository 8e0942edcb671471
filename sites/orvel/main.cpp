#include "runner/ModuleIvr.h"
#include "sites/orvel/OrvelV3.h"

int main(int argc, char** argv) {
    tarvik::OrvelV3 module;
    tarvik::ModuleIvr runner;
    return runner.execute(argc, argv, module);
}
