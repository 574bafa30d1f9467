/* A C host of the installed libvornic: both halves, the size query first. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vornic/vornic.h>

int main(void) {
    unsigned char x[32], y[32], r[32], s[32];
    memset(x, 0x11, 32);
    memset(y, 0x22, 32);
    memset(r, 0x9F, 32);
    memset(s, 0x01, 32);
    unsigned char* info = NULL;
    int32_t infoLength = 0;
    uint32_t size = 0;
    if (SM2ConstructP10Info("CN=host,C=CN,O=org", x, y, &info, &infoLength) != 0) return 1;
    if (SM2ConstructP10(&info, infoLength, 0x20400, r, s, NULL, &size) != 0 || info == NULL) return 2;
    unsigned char* request = malloc(size);
    if (SM2ConstructP10(&info, infoLength, 0x20400, r, s, request, &size) != 0 || info != NULL) return 3;
    int ok = request[0] == 0x30;
    free(request);
    return ok ? 0 : 4;
}
