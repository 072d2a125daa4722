// kolvex: plays the game in its folder.
#include "core/engine_globals.h"
#include "root/startup.h"

int main(int argc, char** argv)
{
    InstallEngineParts();
    return KolvexMain(argc, argv);
}
