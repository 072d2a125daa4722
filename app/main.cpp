// kolvex: plays the game in its folder.
int main(int argc, char** argv)
{
    (void)argc; (void)argv;
    return 0;
}
