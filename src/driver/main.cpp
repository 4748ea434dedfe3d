#include "driver/startup.h"

int main(int argc, char** argv) {
    return tarnel::run(argc, argv);
}
