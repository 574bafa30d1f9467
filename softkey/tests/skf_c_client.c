#include "skf_c_client.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

int g_failures = 0;

static char g_dir[4096];
static char g_store[4200];
static void* g_library = NULL;

static void Die(const char* what) {
    fprintf(stderr, "conformance setup: %s\n", what);
    exit(1);
}

static void Run(const char* cli, const char* args) {
    char command[8192];
    snprintf(command, sizeof command, "'%s' %s >/dev/null", cli, args);
    if (system(command) != 0) Die(command);
}

void ClientMakeStore(const char* cli) {
    const char* tmp = getenv("TMPDIR");
    snprintf(g_dir, sizeof g_dir, "%s/skf-conformance-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!mkdtemp(g_dir)) Die("cannot make a temporary directory");
    snprintf(g_store, sizeof g_store, "%s/store", g_dir);
    setenv("SOFTKEY_STORE", g_store, 1);
    Run(cli, "store init");
}

const char* ClientStore(void) { return g_store; }

void ClientLoad(const char* library) {
    g_library = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!g_library) Die(dlerror());
}

void ClientStart(const char* cli, const char* library, const char* serial) {
    ClientMakeStore(cli);
    char args[256];
    snprintf(args, sizeof args, "create --serial %s --vid 096E --pid 0309", serial);
    Run(cli, args);
    snprintf(args, sizeof args, "plug %s", serial);
    Run(cli, args);
    ClientLoad(library);
}

void ClientFinish(void) {
    if (g_library) dlclose(g_library);
    g_library = NULL;
    char command[4200];
    snprintf(command, sizeof command, "rm -rf '%s'", g_dir);
    if (system(command) != 0) fprintf(stderr, "conformance: cannot remove %s\n", g_dir);
}

void* ClientSymbol(const char* name) {
    void* symbol = dlsym(g_library, name);
    if (!symbol) Die(name);
    return symbol;
}

void ClientOpenLoggedIn(const char* serial, DEVHANDLE* dev, HAPPLICATION* app) {
    ULONG retries = 0;
    if (SKF_FN(SKF_ConnectDev)((LPSTR)serial, dev) != SAR_OK) Die("SKF_ConnectDev");
    if (SKF_FN(SKF_OpenApplication)(*dev, (LPSTR) "DEFAULT_APP", app) != SAR_OK)
        Die("SKF_OpenApplication");
    if (SKF_FN(SKF_VerifyPIN)(*app, USER_TYPE, (LPSTR) "12345678", &retries) != SAR_OK)
        Die("SKF_VerifyPIN");
}

ULONG ClientOpenHandles(void) {
    ULONG (*count)(ULONG) = (ULONG(*)(ULONG))ClientSymbol("SOFTKEY_CountOpenHandles");
    ULONG total = 0;
    for (ULONG kind = 1; kind <= 6; ++kind) total += count(kind);
    return total;
}
