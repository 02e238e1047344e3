// Program entry for the example host linked with lld-link. Debian has no Microsoft C runtime
// to supply one, so this gets the arguments from msvcrt.dll as a runtime's entry would.
typedef struct {
    int newMode;
} StartupInfo;

int __cdecl __getmainargs(int* argc, char*** argv, char*** env, int expandWildcards,
                          StartupInfo* info);
void __cdecl exit(int status);
int main(int argc, char** argv);

void mainCRTStartup(void)
{
    int argc = 0;
    char **argv = 0, **env = 0;
    StartupInfo info = {0};

    if (__getmainargs(&argc, &argv, &env, 0, &info) < 0) exit(255);
    exit(main(argc, argv));
}
