/* A test-only cfgmgr32.dll for running the Windows programs under Wine against the emulated
 * board. It is a fake, and the stage says so wherever it is used.
 *
 * hidapi's Windows backend finds devices through six configuration-manager calls. Wine 10 has
 * the device data behind them (its setupapi lists the HID interfaces, their devices and their ids)
 * but not the calls: the interface list and its size, the interface property and locating a
 * device node are stubs, and a device's parent is never known. This file answers those six calls
 * from setupapi, as Windows would answer them for a USB HID device, and nothing else:
 *
 *  - the interface list, its size and an interface's instance id: what setupapi lists;
 *  - a device node is the one setupapi numbers for that instance id;
 *  - a HID device's parent is the Wine bus device its HID device was made for (Wine names the HID
 *    device after it: HID\<id>\<instance> for WINEBUS\<id>\<instance>), since Wine records no
 *    parent at all;
 *  - that bus device's hardware and compatible ids are given as Windows gives them for a USB HID
 *    interface (USB\VID_..&PID_.., USB\Class_03...), since Wine's bus device names no bus. This is
 *    the fake that makes the tool's "board on the USB bus" rule hold under Wine.
 *
 * It is copied beside a copy of the program under test and loaded with
 * WINEDLLOVERRIDES=cfgmgr32=n; the program itself is the one built for Windows, unchanged. */

/* windows.h first; initguid.h before the headers whose GUIDs and keys it defines. */
/* clang-format off */
#include <windows.h>
#include <initguid.h>
#include <devpropdef.h>
#include <setupapi.h>
/* clang-format on */

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

typedef DWORD CONFIGRET;
typedef DWORD DEVINST;

#define CR_SUCCESS 0x00
#define CR_OUT_OF_MEMORY 0x02
#define CR_INVALID_POINTER 0x03
#define CR_INVALID_FLAG 0x04
#define CR_INVALID_DEVNODE 0x05
#define CR_NO_SUCH_DEVNODE 0x0D
#define CR_BUFFER_SMALL 0x1A
#define CR_NO_SUCH_VALUE 0x25
#define CR_NO_SUCH_DEVICE_INTERFACE 0x37
#define CR_INVALID_DATA 0x1F

#define CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES 0x01
#define MAX_DEVICE_ID_LEN 200

DEFINE_DEVPROPKEY(standin_InstanceId, 0x78c34fc8, 0x104a, 0x4aca, 0x9e, 0xa4, 0x52, 0x4d, 0x52,
                  0x99, 0x6e, 0x57, 256);
DEFINE_DEVPROPKEY(standin_HardwareIds, 0xa45c254e, 0xdf1c, 0x4efd, 0x80, 0x20, 0x67, 0xd1, 0x46,
                  0xa8, 0x50, 0xe0, 3);
DEFINE_DEVPROPKEY(standin_CompatibleIds, 0xa45c254e, 0xdf1c, 0x4efd, 0x80, 0x20, 0x67, 0xd1, 0x46,
                  0xa8, 0x50, 0xe0, 4);
DEFINE_DEVPROPKEY(standin_Manufacturer, 0xa45c254e, 0xdf1c, 0x4efd, 0x80, 0x20, 0x67, 0xd1, 0x46,
                  0xa8, 0x50, 0xe0, 13);

static const WCHAR wineBus[] = L"WINEBUS\\";
static const WCHAR hidBus[] = L"HID\\";

static BOOL sameKey(const DEVPROPKEY* a, const DEVPROPKEY* b) {
    return IsEqualGUID(&a->fmtid, &b->fmtid) && a->pid == b->pid;
}

static BOOL startsWith(const WCHAR* text, const WCHAR* prefix) {
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

/* Copies a value into the caller's buffer the way every CM_Get_*_Property call does: the size is
 * always told, and CR_BUFFER_SMALL says the buffer (possibly none) was too small for it. */
static CONFIGRET hand(const void* value, ULONG bytes, DEVPROPTYPE type, DEVPROPTYPE* typeOut,
                      PBYTE buffer, PULONG bufferSize) {
    if (!typeOut || !bufferSize || (!buffer && *bufferSize))
        return CR_INVALID_POINTER;
    *typeOut = type;
    if (*bufferSize < bytes) {
        *bufferSize = bytes;
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, value, bytes);
    *bufferSize = bytes;
    return CR_SUCCESS;
}

/* Present interfaces of a class, one callback per interface path with its device's data. */
typedef BOOL (*InterfaceVisitor)(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* path,
                                 void* context);

static void visitInterfaces(const GUID* cls, InterfaceVisitor visit, void* context) {
    HDEVINFO set = SetupDiGetClassDevsW(cls, NULL, NULL, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVICE_INTERFACE_DATA iface;
    memset(&iface, 0, sizeof iface);
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, cls, i, &iface); ++i) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, NULL, 0, &needed, NULL);
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = needed ? malloc(needed) : NULL;
        if (!detail)
            continue;
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device;
        memset(&device, 0, sizeof device);
        device.cbSize = sizeof device;
        BOOL goOn = TRUE;
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, needed, NULL, &device))
            goOn = visit(set, &device, detail->DevicePath, context);
        free(detail);
        if (!goOn)
            break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

struct ListBuild {
    const WCHAR* deviceId; /* only this device's interfaces, or NULL */
    WCHAR* out;            /* NULL while measuring */
    ULONG capacity;        /* in characters */
    ULONG used;            /* characters, without the closing NUL */
};

static BOOL addToList(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* path, void* context) {
    struct ListBuild* list = context;
    if (list->deviceId) {
        WCHAR id[MAX_DEVICE_ID_LEN];
        if (!SetupDiGetDeviceInstanceIdW(set, device, id, MAX_DEVICE_ID_LEN, NULL) ||
            _wcsicmp(id, list->deviceId) != 0)
            return TRUE;
    }
    const ULONG length = (ULONG)wcslen(path) + 1;
    if (list->out && list->used + length < list->capacity)
        memcpy(list->out + list->used, path, length * sizeof(WCHAR));
    list->used += length;
    return TRUE;
}

static CONFIGRET buildList(const GUID* cls, const WCHAR* deviceId, ULONG flags, WCHAR* out,
                           ULONG capacity, ULONG* length) {
    if (!cls)
        return CR_INVALID_POINTER;
    if (flags & ~CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES)
        return CR_INVALID_FLAG;
    /* Only present devices are listed either way: a Wine prefix keeps no others worth naming. */
    struct ListBuild list = {deviceId && *deviceId ? deviceId : NULL, out, capacity, 0};
    visitInterfaces(cls, addToList, &list);
    *length = list.used + 1; /* the list ends with an empty string */
    if (out) {
        if (*length > capacity)
            return CR_BUFFER_SMALL;
        out[list.used] = 0;
    }
    return CR_SUCCESS;
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID cls, WCHAR* deviceId, ULONG flags) {
    if (!length)
        return CR_INVALID_POINTER;
    return buildList(cls, deviceId, flags, NULL, 0, length);
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_Device_Interface_ListW(LPGUID cls, WCHAR* deviceId, WCHAR* buffer, ULONG capacity,
                                  ULONG flags) {
    ULONG length = 0;
    if (!buffer || !capacity)
        return CR_INVALID_POINTER;
    return buildList(cls, deviceId, flags, buffer, capacity, &length);
}

struct InterfaceLookup {
    const WCHAR* path;
    WCHAR id[MAX_DEVICE_ID_LEN];
    BOOL found;
};

static BOOL matchInterface(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* path,
                           void* context) {
    struct InterfaceLookup* lookup = context;
    if (_wcsicmp(path, lookup->path) != 0)
        return TRUE;
    lookup->found = SetupDiGetDeviceInstanceIdW(set, device, lookup->id, MAX_DEVICE_ID_LEN, NULL);
    return FALSE;
}

/* An interface path ends in its class: \\?\<device>#{class}. */
static BOOL interfaceClass(const WCHAR* path, GUID* cls) {
    const WCHAR* open = wcsrchr(path, L'{');
    WCHAR text[40];
    if (!open || wcslen(open) != 38)
        return FALSE;
    wcscpy(text, open);
    return SUCCEEDED(CLSIDFromString(text, cls));
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_Device_Interface_PropertyW(LPCWSTR path, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                      PBYTE buffer, PULONG bufferSize, ULONG flags) {
    if (!path || !key || !type || !bufferSize)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    GUID cls;
    struct InterfaceLookup lookup = {path, {0}, FALSE};
    if (interfaceClass(path, &cls))
        visitInterfaces(&cls, matchInterface, &lookup);
    if (!lookup.found)
        return CR_NO_SUCH_DEVICE_INTERFACE;
    if (!sameKey(key, &standin_InstanceId))
        return CR_NO_SUCH_VALUE;
    return hand(lookup.id, (ULONG)(wcslen(lookup.id) + 1) * sizeof(WCHAR), DEVPROP_TYPE_STRING,
                type, buffer, bufferSize);
}

/* Every present device once, with its instance id; the visitor returns FALSE to stop. */
typedef BOOL (*DeviceVisitor)(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* id,
                              void* context);

static void visitDevices(DeviceVisitor visit, void* context) {
    HDEVINFO set = SetupDiGetClassDevsW(NULL, NULL, NULL, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device;
    memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    WCHAR id[MAX_DEVICE_ID_LEN];
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i)
        if (SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, NULL) &&
            !visit(set, &device, id, context))
            break;
    SetupDiDestroyDeviceInfoList(set);
}

struct NodeLookup {
    const WCHAR* id; /* by id, or */
    DEVINST node;    /* by node */
    BOOL found;
    DEVINST foundNode;
    WCHAR foundId[MAX_DEVICE_ID_LEN];
    /* What the property calls need from the device's own record. */
    const DEVPROPKEY* key;
    BYTE value[4096];
    DWORD valueBytes;
    BOOL hasValue;
};

static BOOL matchNode(HDEVINFO set, SP_DEVINFO_DATA* device, const WCHAR* id, void* context) {
    struct NodeLookup* lookup = context;
    if (lookup->id ? _wcsicmp(id, lookup->id) != 0 : device->DevInst != lookup->node)
        return TRUE;
    lookup->found = TRUE;
    lookup->foundNode = device->DevInst;
    wcscpy(lookup->foundId, id);
    DWORD property = 0;
    if (lookup->key && sameKey(lookup->key, &standin_HardwareIds))
        property = SPDRP_HARDWAREID;
    else if (lookup->key && sameKey(lookup->key, &standin_CompatibleIds))
        property = SPDRP_COMPATIBLEIDS;
    else if (lookup->key && sameKey(lookup->key, &standin_Manufacturer))
        property = SPDRP_MFG;
    if (property)
        lookup->hasValue = SetupDiGetDeviceRegistryPropertyW(
                               set, device, property, NULL, lookup->value,
                               sizeof lookup->value - 2 * sizeof(WCHAR), &lookup->valueBytes) &&
                           lookup->valueBytes > sizeof(WCHAR);
    return FALSE;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Locate_DevNodeW(DEVINST* node, WCHAR* id, ULONG flags) {
    if (!node)
        return CR_INVALID_POINTER;
    if (flags & ~0x7u)
        return CR_INVALID_FLAG;
    if (!id || !*id)
        return CR_NO_SUCH_DEVNODE; /* the root is nobody's business here */
    struct NodeLookup lookup = {0};
    lookup.id = id;
    visitDevices(matchNode, &lookup);
    if (!lookup.found)
        return CR_NO_SUCH_DEVNODE;
    *node = lookup.foundNode;
    return CR_SUCCESS;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Parent(DEVINST* parent, DEVINST node, ULONG flags) {
    if (!parent)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    struct NodeLookup child = {0};
    child.node = node;
    visitDevices(matchNode, &child);
    if (!child.found)
        return CR_INVALID_DEVNODE;
    if (!startsWith(child.foundId, hidBus))
        return CR_NO_SUCH_DEVNODE;
    WCHAR busId[MAX_DEVICE_ID_LEN];
    const WCHAR* rest = child.foundId + wcslen(hidBus);
    if (wcslen(wineBus) + wcslen(rest) >= MAX_DEVICE_ID_LEN)
        return CR_NO_SUCH_DEVNODE;
    wcscpy(busId, wineBus);
    wcscat(busId, rest);
    return CM_Locate_DevNodeW(parent, busId, 0);
}

/* USB\VID_1234&PID_0001[&MI_00] from WINEBUS\VID_1234&PID_0001[&MI_00]: the hardware ids of the
 * USB HID interface that the Wine bus device plays. */
static ULONG usbHardwareIds(const WCHAR* wine, WCHAR* out, ULONG capacity) {
    ULONG used = 0;
    for (const WCHAR* id = wine; *id; id += wcslen(id) + 1) {
        const WCHAR* rest = startsWith(id, wineBus) ? id + wcslen(wineBus) : NULL;
        if (!rest || !startsWith(rest, L"VID_"))
            continue;
        const ULONG length = 4 + (ULONG)wcslen(rest) + 1;
        if (used + length + 1 > capacity)
            break;
        wcscpy(out + used, L"USB\\");
        wcscat(out + used, rest);
        used += length;
    }
    out[used++] = 0;
    return used;
}

__declspec(dllexport) CONFIGRET WINAPI
    CM_Get_DevNode_PropertyW(DEVINST node, const DEVPROPKEY* key, DEVPROPTYPE* type, PBYTE buffer,
                             PULONG bufferSize, ULONG flags) {
    if (!key || !type || !bufferSize)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    struct NodeLookup lookup = {0};
    lookup.node = node;
    lookup.key = key;
    visitDevices(matchNode, &lookup);
    if (!lookup.found)
        return CR_NO_SUCH_DEVNODE;
    if (sameKey(key, &standin_InstanceId))
        return hand(lookup.foundId, (ULONG)(wcslen(lookup.foundId) + 1) * sizeof(WCHAR),
                    DEVPROP_TYPE_STRING, type, buffer, bufferSize);
    if (!lookup.hasValue)
        return CR_NO_SUCH_VALUE;
    WCHAR* value = (WCHAR*)lookup.value;
    value[lookup.valueBytes / sizeof(WCHAR)] = 0;
    value[lookup.valueBytes / sizeof(WCHAR) + 1] = 0;
    if (sameKey(key, &standin_Manufacturer))
        return hand(value, (ULONG)(wcslen(value) + 1) * sizeof(WCHAR), DEVPROP_TYPE_STRING, type,
                    buffer, bufferSize);
    if (startsWith(lookup.foundId, wineBus)) {
        WCHAR usb[1024];
        static const WCHAR usbClass[] =
            L"USB\\Class_03&SubClass_00&Prot_00\0USB\\Class_03&SubClass_00\0USB\\Class_03\0";
        if (sameKey(key, &standin_CompatibleIds))
            return hand(usbClass, sizeof usbClass, DEVPROP_TYPE_STRING_LIST, type, buffer,
                        bufferSize);
        const ULONG length = usbHardwareIds(value, usb, sizeof usb / sizeof usb[0]);
        if (length <= 1)
            return CR_NO_SUCH_VALUE;
        return hand(usb, length * sizeof(WCHAR), DEVPROP_TYPE_STRING_LIST, type, buffer,
                    bufferSize);
    }
    ULONG length = 0;
    while (value[length])
        length += (ULONG)wcslen(value + length) + 1;
    return hand(value, (length + 1) * sizeof(WCHAR), DEVPROP_TYPE_STRING_LIST, type, buffer,
                bufferSize);
}
