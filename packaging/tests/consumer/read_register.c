/* A plain C99 program on the installed library: writes a register of the
 * controller at the given IPv4 address over UDP, reads it back and prints it. */
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>

#include <orvcomm.h>

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: read_register ADDRESS VALUE\n");
        return 2;
    }
    int32_t id = ZqOpenConnection(ZQ_TYPE_UDP, 0, (int32_t)inet_addr(argv[1]));
    ZQ_ERROR_INFO error;
    if (!id) {
        ZqGetErrorInfo(0, &error);
        fprintf(stderr, "open: %s\n", error.text);
        return 1;
    }
    int32_t value = 0;
    if (!ZqSetConnectionTimeout(id, 2000) || !ZqPutRegister(id, 100, atoi(argv[2])) || !ZqGetRegister(id, 100, &value)) {
        ZqGetErrorInfo(id, &error);
        fprintf(stderr, "register 100: %s\n", error.text);
        ZqCloseConnection(id);
        return 1;
    }
    printf("%d\n", (int)value);
    ZqCloseConnection(id);
    return 0;
}
