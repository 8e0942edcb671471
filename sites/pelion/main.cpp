#include "runner/ModuleIvr.h"
#include "sites/pelion/Pelion.h"

int main(int argc, char** argv) {
    tarvik::Pelion module;
    tarvik::ModuleIvr runner;
    return runner.execute(argc, argv, module);
}
