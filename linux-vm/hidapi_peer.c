/* The peer the tool is measured against in the virtual machine tests: the
 * same work as `ob310_cli -i` done through Debian's hidapi 0.13.1, on Linux
 * with its hidraw backend (-lhidapi-hidraw), for Windows with its Windows
 * backend, windows/hid.c, compiled in (the source tree's root and its hidapi/
 * folder on the include path), run under Wine.
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

#ifdef _WIN32
#include <windows.h>

/* hidapi 0.13 takes three functions from cfgmgr32.dll that Wine 8.0 does not
 * have or answers with CR_FAILURE: it could neither start (hid_init) nor
 * list a device. hidapi resolves them with GetProcAddress, so the peer hands
 * it its own for those three, defined below hidapi's code. */
static FARPROC peer_get_proc_address(HMODULE module, LPCSTR name);
#define GetProcAddress peer_get_proc_address
#include <windows/hid.c>
#undef GetProcAddress

#include <setupapi.h>

/* The present interfaces of class `guid` as a list of paths, each ending in
 * NUL, and a NUL after the last, as cfgmgr32 gives them on Windows: written
 * to `out` when `capacity` (WCHARs) is enough. Returns the WCHARs needed. */
static ULONG list_interfaces(const GUID* guid, WCHAR* out, ULONG capacity) {
    ULONG used = 0;
    const HDEVINFO set =
        SetupDiGetClassDevsW(guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVICE_INTERFACE_DATA data = {.cbSize = sizeof data};
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, guid, i, &data); ++i) {
            union {
                SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
                char room[2048];
            } block;
            block.detail.cbSize = sizeof block.detail;
            if (!SetupDiGetDeviceInterfaceDetailW(set, &data, &block.detail, sizeof block, NULL,
                                                  NULL))
                continue;
            const ULONG length = (ULONG)wcslen(block.detail.DevicePath) + 1;
            if (used + length < capacity)
                memcpy(out + used, block.detail.DevicePath, length * sizeof(WCHAR));
            used += length;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (used < capacity)
        out[used] = L'\0';
    return used + 1;
}
static CONFIGRET __stdcall list_size(PULONG length, LPGUID guid, DEVINSTID_W device, ULONG flags) {
    (void)device, (void)flags;
    *length = list_interfaces(guid, NULL, 0);
    return CR_SUCCESS;
}
static CONFIGRET __stdcall list(LPGUID guid, DEVINSTID_W device, PZZWSTR out, ULONG capacity,
                                ULONG flags) {
    (void)device, (void)flags;
    return list_interfaces(guid, out, capacity) <= capacity ? CR_SUCCESS : CR_BUFFER_SMALL;
}
/* Its only use is to find an interface's device node, for the interface
 * number and the bus type: none is found, and the peer reads the number
 * from the path's "&mi_NN", as hidapi before 0.13 did. */
static CONFIGRET __stdcall no_property(LPCWSTR path, CONST DEVPROPKEY* key, DEVPROPTYPE* type,
                                       PBYTE buffer, PULONG size, ULONG flags) {
    (void)path, (void)key, (void)type, (void)buffer, (void)size, (void)flags;
    return 0x25; /* CR_NO_SUCH_VALUE */
}
static FARPROC peer_get_proc_address(HMODULE module, LPCSTR name) {
    if (strcmp(name, "CM_Get_Device_Interface_List_SizeW") == 0)
        return (FARPROC)(void*)list_size;
    if (strcmp(name, "CM_Get_Device_Interface_ListW") == 0)
        return (FARPROC)(void*)list;
    if (strcmp(name, "CM_Get_Device_Interface_PropertyW") == 0)
        return (FARPROC)(void*)no_property;
    return GetProcAddress(module, name);
}

static int interface_of(const struct hid_device_info* d) {
    const char* mi = d->path;
    while (*mi != '\0' && _strnicmp(mi, "&mi_", 4) != 0)
        ++mi;
    return *mi != '\0' ? (int)strtol(mi + 4, NULL, 16) : -1;
}
#else
static int interface_of(const struct hid_device_info* d) { return d->interface_number; }
#endif

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? atoi(argv[1]) : 5;
    const int exchanges = argc > 2 ? atoi(argv[2]) : 1;
    if (hid_init() != 0)
        return 1;
    struct hid_device_info* devices = hid_enumerate(0x1209, 0xb310);
    char* path = NULL;
    for (struct hid_device_info* d = devices; d != NULL; d = d->next)
        if (interface_of(d) == wanted && path == NULL)
            path = strdup(d->path);
    hid_free_enumeration(devices);
    if (path == NULL) {
        printf("hidapi_peer: no interface %d of 1209:b310\n", wanted);
        return 1;
    }
    hid_device* device = hid_open_path(path);
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
    if (exchanges > 1)
        printf("hidapi_peer: %d replies\n", done);
    return 0;
}
