#include "apps/walk/walk.h"

int main(int argc, char** argv) {
    return tavo::apps::walk::WalkMain(argc, argv);
}
