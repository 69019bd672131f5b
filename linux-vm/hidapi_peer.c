/* The peer the tool is measured against in the virtual machine tests: the
 * same work as `ob310_cli -i` done through Debian's hidapi 0.13.1, on Linux
 * with its hidraw backend, for the Windows build with its Windows backend
 * (windows/hid.c, compiled in) under Wine.
 * Enumerates 1209:b310, opens the configuration interface (USB interface
 * INTERFACE, 5 by default: hidapi 0.13 does not give interface strings),
 * sends the all-zero information query and reads one reply, EXCHANGES times
 * in a row (1 by default) on the one open device. With more than one, a line
 * goes out (flushed) after the first reply and after the last, so that one
 * exchange can be timed apart from the process's start and the enumeration.
 * Exit status 0 when every reply was 64 bytes and came within 5 s.
 *   hidapi_peer [INTERFACE [EXCHANGES]]
 */
#include <hidapi/hidapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
    const int wanted = argc > 1 ? atoi(argv[1]) : 5;
    const int exchanges = argc > 2 ? atoi(argv[2]) : 1;
    if (hid_init() != 0) return 1;
    struct hid_device_info *devices = hid_enumerate(0x1209, 0xb310);
    char *path = NULL;
    for (struct hid_device_info *d = devices; d != NULL; d = d->next)
        if (d->interface_number == wanted && path == NULL) path = strdup(d->path);
    hid_free_enumeration(devices);
    if (path == NULL) {
        printf("hidapi_peer: no interface %d of 1209:b310\n", wanted);
        return 1;
    }
    hid_device *device = hid_open_path(path);
    free(path);
    if (device == NULL) {
        printf("hidapi_peer: cannot open the interface\n");
        return 1;
    }
    unsigned char request[65] = {0};
    unsigned char reply[65];
    int got = 64;
    int done = 0;
    while (done < exchanges && got == 64) {
        got = -1;
        if (hid_write(device, request, sizeof request) == (int)sizeof request)
            got = hid_read_timeout(device, reply, sizeof reply, 5000);
        if (got == 64 && ++done == 1 && exchanges > 1) {
            printf("hidapi_peer: first reply\n");
            fflush(stdout);
        }
    }
    hid_close(device);
    hid_exit();
    if (got != 64) {
        printf("hidapi_peer: reply %d of %d bytes\n", done + 1, got);
        return 1;
    }
    if (exchanges > 1) printf("hidapi_peer: %d replies\n", done);
    return 0;
}
