/* A plain C host loads the library, unloads it, and loads it again. Unloading must really
   unmap it (nothing else may pin it: spdlog once bound to symbols it exported), so that the
   second load runs the load hook again and starts a fresh log file with one banner. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cCheck.h"

static char* ReadAll(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) {
        return NULL;
    }
    size_t size = 0;
    size_t capacity = 4096;
    char* text = malloc(capacity);
    size_t n = 0;
    while (text != NULL && (n = fread(text + size, 1, capacity - size - 1, file)) > 0) {
        size += n;
        if (capacity - size <= 1) {
            capacity *= 2;
            text = realloc(text, capacity);
        }
    }
    fclose(file);
    if (text != NULL) {
        text[size] = '\0';
    }
    return text;
}

static int CopyFile(const char* from, const char* to) {
    FILE* in = fopen(from, "rb");
    FILE* out = fopen(to, "wb");
    int ok = in != NULL && out != NULL;
    char buffer[65536];
    size_t n = 0;
    while (ok && (n = fread(buffer, 1, sizeof buffer, in)) > 0) {
        ok = fwrite(buffer, 1, n, out) == n;
    }
    if (in != NULL) {
        fclose(in);
    }
    if (out != NULL) {
        ok = fclose(out) == 0 && ok;
    }
    return ok;
}

static int CountOccurrences(const char* text, const char* needle) {
    int count = 0;
    for (const char* at = text; (at = strstr(at, needle)) != NULL; at += strlen(needle)) {
        ++count;
    }
    return count;
}

int main(void) {
    const char* built = getenv("TAVO_TEST_LIBRARY");
    if (built == NULL) {
        fprintf(stderr, "TAVO_TEST_LIBRARY not set\n");
        return 1;
    }
    /* A copy in a folder of its own, so that its log file is this test's alone. */
    char directory[] = "/tmp/tavoReloadXXXXXX";
    if (mkdtemp(directory) == NULL) {
        return 1;
    }
    char library[512];
    char logFile[512];
    snprintf(library, sizeof library, "%s/libtavoSDK-faceTrackingInApp.so", directory);
    snprintf(logFile, sizeof logFile, "%s/ORBIXLogs/TavoSDK.txt", directory);
    if (!CopyFile(built, library)) {
        fprintf(stderr, "cannot copy %s\n", built);
        return 1;
    }

    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    CHECK(handle != NULL);
    if (handle == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    typedef const char* (*VersionFunction)(void);
    VersionFunction version = (VersionFunction)dlsym(handle, "tavoHeadTrackingGetVersion");
    CHECK(version != NULL && strcmp(version(), "0.6.74") == 0);
    CHECK(dlclose(handle) == 0);

    void* still = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    CHECK(still == NULL);
    if (still != NULL) {
        dlclose(still);
    }
    char* first = ReadAll(logFile);
    CHECK(first != NULL && CountOccurrences(first, "version: 0.6.74 (") == 1);
    free(first);

    /* Something the second load must wipe out. */
    FILE* log = fopen(logFile, "ab");
    CHECK(log != NULL);
    if (log != NULL) {
        fputs("left from the first load\n", log);
        fclose(log);
    }

    handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    CHECK(handle != NULL);
    if (handle != NULL) {
        /* Unloading flushes the log file. */
        CHECK(dlclose(handle) == 0);
    }
    char* second = ReadAll(logFile);
    CHECK(second != NULL && CountOccurrences(second, "version: 0.6.74 (") == 1);
    CHECK(second != NULL && strstr(second, "left from the first load") == NULL);
    free(second);

    unlink(logFile);
    snprintf(logFile, sizeof logFile, "%s/ORBIXLogs", directory);
    rmdir(logFile);
    unlink(library);
    rmdir(directory);
    printf("%s\n", failures == 0 ? "library reload: passed" : "library reload: FAILED");
    return failures == 0 ? 0 : 1;
}
