// kolvex: plays the game in its folder.
#include "core/startup.h"

int main(int argc, char** argv)
{
    InstallEngineParts();
    return KolvexMain(argc, argv);
}
